// The capture filter that the device's filter factory creates: one video capture pin.
#pragma once

#include "platform/ks/ks.h"

namespace bayercam {

struct KSFILTER;
struct IRP;

extern const KSFILTER_DESCRIPTOR CaptureFilterDescriptor;

// The filter's context, owned by the filter's object bag.
struct FilterContext {
    KSFILTER* filter;
};

NTSTATUS FilterCreate(KSFILTER* filter, IRP* irp);
// Saves the device's settings: closing a filter handle keeps what was changed through it.
NTSTATUS FilterClose(KSFILTER* filter, IRP* irp);

}  // namespace bayercam
