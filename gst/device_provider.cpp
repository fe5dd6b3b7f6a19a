#include "gst/device_provider.h"

#include <string>

#include "gst/available_cameras.h"
#include "gst/bayercam_src.h"

// One camera, known by its selector.
struct _BayercamDevice {
    GstDevice parent;
    gchar* selector;
};

G_DEFINE_TYPE(BayercamDevice, bayercam_device, GST_TYPE_DEVICE)

struct _BayercamDeviceProvider {
    GstDeviceProvider parent;
};

G_DEFINE_TYPE(BayercamDeviceProvider, bayercam_device_provider, GST_TYPE_DEVICE_PROVIDER)

namespace bayercam::gst {
namespace {

GstDevice* DeviceOf(const std::string& selector) {
    GstCaps* caps = AnyCameraCaps();
    GstStructure* properties =
        gst_structure_new("bayercam", "bayercam.selector", G_TYPE_STRING, selector.c_str(),
                          "device.api", G_TYPE_STRING, "bayercam", nullptr);
    std::string name = "Bayer colour camera (" + selector + ")";
    auto* device = static_cast<BayercamDevice*>(
        g_object_new(BAYERCAM_TYPE_DEVICE, "display-name", name.c_str(), "device-class",
                     "Video/Source", "caps", caps, "properties", properties, nullptr));
    device->selector = g_strdup(selector.c_str());
    gst_caps_unref(caps);
    gst_structure_free(properties);
    return GST_DEVICE(device);
}

GList* Probe(GstDeviceProvider*) {
    GList* devices = nullptr;
    for (const std::string& selector : AvailableCameras())
        devices = g_list_append(devices, gst_object_ref_sink(DeviceOf(selector)));
    return devices;
}

GstElement* CreateElement(GstDevice* device, const gchar* name) {
    GstElement* element = gst_element_factory_make("bayercamsrc", name);
    if (element) g_object_set(element, "camera", BAYERCAM_DEVICE(device)->selector, nullptr);
    return element;
}

void FinalizeDevice(GObject* object) {
    g_free(BAYERCAM_DEVICE(object)->selector);
    G_OBJECT_CLASS(bayercam_device_parent_class)->finalize(object);
}

}  // namespace

gboolean RegisterDeviceProvider(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, "bayercamdeviceprovider", GST_RANK_PRIMARY,
                                        BAYERCAM_TYPE_DEVICE_PROVIDER);
}

}  // namespace bayercam::gst

static void bayercam_device_class_init(BayercamDeviceClass* klass) {
    G_OBJECT_CLASS(klass)->finalize = bayercam::gst::FinalizeDevice;
    GST_DEVICE_CLASS(klass)->create_element = bayercam::gst::CreateElement;
}

static void bayercam_device_init(BayercamDevice*) {}

static void bayercam_device_provider_class_init(BayercamDeviceProviderClass* klass) {
    GstDeviceProviderClass* provider = GST_DEVICE_PROVIDER_CLASS(klass);
    provider->probe = bayercam::gst::Probe;
    gst_device_provider_class_set_static_metadata(provider, "Bayer camera provider", "Source/Video",
                                                  "Lists the USB Bayer colour cameras",
                                                  "bayercam developers");
}

static void bayercam_device_provider_init(BayercamDeviceProvider*) {}
