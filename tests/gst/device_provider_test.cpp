#include "gst/device_provider.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gst/available_cameras.h"
#include "gst_test_support.h"

namespace bayercam::gst::test {
namespace {

// The selector of every listed camera whose element is a bayercamsrc, with its class checked.
std::vector<std::string> ListedCameras() {
    GstDeviceProvider* provider = gst_device_provider_factory_get_by_name("bayercamdeviceprovider");
    EXPECT_NE(provider, nullptr);
    if (!provider) return {};
    std::vector<std::string> cameras;
    GList* devices = gst_device_provider_get_devices(provider);
    for (GList* item = devices; item; item = item->next) {
        GstDevice* device = GST_DEVICE(item->data);
        EXPECT_TRUE(gst_device_has_classes(device, "Video/Source"));
        GstElement* element = gst_device_create_element(device, nullptr);
        gchar* camera = nullptr;
        g_object_get(element, "camera", &camera, nullptr);
        cameras.push_back(camera ? camera : "");
        g_free(camera);
        gst_object_unref(element);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(provider);
    return cameras;
}

TEST(DeviceProviderTest, ListsTheSimulatedCameraOnlyWhenAskedFor) {
    InitGst();
    unsetenv(kSimulatedCameraVariable);
    std::vector<std::string> attached = ListedCameras();
    EXPECT_EQ(std::count(attached.begin(), attached.end(), "sim"), 0);
    setenv(kSimulatedCameraVariable, "1", 1);
    std::vector<std::string> withSim = ListedCameras();
    unsetenv(kSimulatedCameraVariable);
    ASSERT_EQ(withSim.size(), attached.size() + 1);
    EXPECT_EQ(withSim.back(), "sim");
}

}  // namespace
}  // namespace bayercam::gst::test
