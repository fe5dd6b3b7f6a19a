// Lists the cameras to GStreamer's device monitor (gst-device-monitor-1.0 Video/Source).
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS

#define BAYERCAM_TYPE_DEVICE_PROVIDER (bayercam_device_provider_get_type())
G_DECLARE_FINAL_TYPE(BayercamDeviceProvider, bayercam_device_provider, BAYERCAM, DEVICE_PROVIDER,
                     GstDeviceProvider)

#define BAYERCAM_TYPE_DEVICE (bayercam_device_get_type())
G_DECLARE_FINAL_TYPE(BayercamDevice, bayercam_device, BAYERCAM, DEVICE, GstDevice)

G_END_DECLS

namespace bayercam::gst {

gboolean RegisterDeviceProvider(GstPlugin* plugin);

}  // namespace bayercam::gst
