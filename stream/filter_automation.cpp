#include "stream/filter_automation.h"

namespace bayercam {

// No property set yet: the vendor control set takes its place here.
const KSAUTOMATION_TABLE FilterAutomationTable = {
    0,                        // PropertySetsCount
    sizeof(KSPROPERTY_ITEM),  // PropertyItemSize
    nullptr,                  // PropertySets
    0,                        // MethodSetsCount
    0,                        // MethodItemSize
    nullptr,                  // MethodSets
    0,                        // EventSetsCount
    0,                        // EventItemSize
    nullptr,                  // EventSets
};

}  // namespace bayercam
