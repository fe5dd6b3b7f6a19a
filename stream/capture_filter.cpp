#include "stream/capture_filter.h"

#include "stream/filter_automation.h"

namespace bayercam {
namespace {

const GUID kFilterCategories[] = {KSCATEGORY_VIDEO, KSCATEGORY_CAPTURE};

}  // namespace

// The filter's identity only; its dispatch, automation and pin come with the streaming side.
const KSFILTER_DESCRIPTOR CaptureFilterDescriptor = {
    nullptr,                      // Dispatch
    &FilterAutomationTable,       // AutomationTable
    KSFILTER_DESCRIPTOR_VERSION,  // Version
    0,                            // Flags
    &KSNAME_Filter,               // ReferenceGuid
    0,                            // PinDescriptorsCount
    sizeof(KSPIN_DESCRIPTOR_EX),  // PinDescriptorSize
    nullptr,                      // PinDescriptors
    2,                            // CategoriesCount
    kFilterCategories,            // Categories
    0,                            // NodeDescriptorsCount
    0,                            // NodeDescriptorSize
    nullptr,                      // NodeDescriptors
    0,                            // ConnectionsCount
    nullptr,                      // Connections
    nullptr,                      // ComponentId
};

}  // namespace bayercam
