#include <gtest/gtest.h>

#include "core/control_table.h"
#include "imaging/image_processor.h"
#include "support/sim_device.h"

namespace bayercam {
namespace {

using testing::SimDeviceTest;

class ControlTableTest : public SimDeviceTest {
  protected:
    CameraDevice* Added() {
        sim_ = std::make_unique<testing::SimDevice>();
        EXPECT_EQ(sim_->Add(), STATUS_SUCCESS);
        return sim_->device();
    }
};

TEST_F(ControlTableTest, EachControlHasADeviceMemberOfItsOwn) {
    CameraDevice* device = Added();
    // The geometry sides are ordinary members too; nothing but the store runs here.
    for (const ControlInfo& info : kControls)
        StoreControl(device, info.control, 1000 + static_cast<int32_t>(info.control));
    for (const ControlInfo& info : kControls)
        EXPECT_EQ(ReadControl(device, info.control), 1000 + static_cast<int32_t>(info.control))
            << info.savedName;
}

TEST_F(ControlTableTest, AnAddedDeviceStartsFromTheDefaultsAndTheCameraControlsFromZero) {
    CameraDevice* device = Added();
    for (const ControlInfo& info : kControls) {
        int32_t expected = info.target == ControlTarget::Camera ? 0 : info.defaultValue;
        EXPECT_EQ(ReadControl(device, info.control), expected) << info.savedName;
    }
}

TEST_F(ControlTableTest, TheProcessorHoldsExactlyTheImageControlsFromTheirDefaults) {
    CameraDevice* device = Added();
    ImageProcessor* processor = CreateImageProcessor(device);
    ASSERT_NE(processor, nullptr);
    for (const ControlInfo& info : kControls) {
        std::atomic<int32_t>* setting = ProcessorSetting(processor, info.control);
        ASSERT_EQ(setting != nullptr, info.target == ControlTarget::ImageProcessor)
            << info.savedName;
        if (setting) {
            EXPECT_EQ(setting->load(), info.defaultValue) << info.savedName;
        }
    }
    FreeImageProcessor(processor);
}

}  // namespace
}  // namespace bayercam
