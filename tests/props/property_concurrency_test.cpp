#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "bayercam/client.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "props/control_property_set.h"
#include "stream/capture_filter.h"
#include "support/settings_camera.h"

namespace bayercam {
namespace {

// Property requests while another thread opens and frees the stream's processor the way the
// pin's acquire and release do: under the sanitizers this shows a request never touching a
// processor that is being freed.
TEST(PropertyConcurrency, RequestsRaceTheStreamsProcessorSafely) {
    test_support::TestSettingsRoot root;
    testing::SettingsCamera camera(root);
    camera.StartWith("");
    CameraDevice* device = camera.device();
    client::Filter filter;
    ASSERT_TRUE(filter.Open(*camera.sim().ksDevice, CaptureFilterDescriptor).ok());

    std::atomic<bool> done{false};
    std::thread pin([&] {
        while (!done.load()) {
            {
                std::lock_guard guard(device->settingsLock);
                device->imageProcessor.store(CreateImageProcessor(device));
            }
            std::lock_guard guard(device->settingsLock);
            FreeImageProcessor(device->imageProcessor.exchange(nullptr));
        }
    });
    constexpr uint32_t kIds[] = {12, 13, 14, 20, 24, 28, 32, 48};
    for (int round = 0; round < 200; ++round) {
        for (uint32_t id : kIds) {
            ControlRequest request{};
            request.value = round % 2 ? 5 : 0;
            EXPECT_TRUE(filter.SetProperty(ControlPropertySetId, id, &request).ok());
            EXPECT_TRUE(filter.GetProperty(ControlPropertySetId, id, &request).ok());
        }
    }
    done = true;
    pin.join();
    filter.Close();
}

}  // namespace
}  // namespace bayercam
