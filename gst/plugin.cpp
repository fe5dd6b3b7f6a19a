// The plugin "bayercam": the bayercamsrc element and the camera device provider.
#include <gst/gst.h>

#include "gst/bayercam_src.h"
#include "gst/device_provider.h"

static gboolean PluginInit(GstPlugin* plugin) {
    return bayercam::gst::RegisterSource(plugin) && bayercam::gst::RegisterDeviceProvider(plugin);
}

GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, bayercam,
                  "Video from the USB Bayer colour camera", PluginInit, BAYERCAM_VERSION, "unknown",
                  "bayercam", "bayercam")
