// The capture filter's automation table: the property sets through which applications reach
// the camera's settings.
#pragma once

#include "platform/ks/ks.h"

namespace bayercam {

extern const KSAUTOMATION_TABLE FilterAutomationTable;

}  // namespace bayercam
