#include "stream/filter_automation.h"

#include "props/control_property_set.h"

namespace bayercam {

const KSAUTOMATION_TABLE FilterAutomationTable = {
    1,                        // PropertySetsCount
    sizeof(KSPROPERTY_ITEM),  // PropertyItemSize
    &ControlPropertySet,      // PropertySets
    0,                        // MethodSetsCount
    0,                        // MethodItemSize
    nullptr,                  // MethodSets
    0,                        // EventSetsCount
    0,                        // EventItemSize
    nullptr,                  // EventSets
};

}  // namespace bayercam
