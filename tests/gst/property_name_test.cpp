#include "gst/property_name.h"

#include <gtest/gtest.h>

namespace bayercam::gst {
namespace {

TEST(PropertyNameTest, ControlNamesBecomeLowerCaseWithDashes) {
    const std::pair<const char*, const char*> cases[] = {
        {"Exposure", "exposure"},
        {"GlobalGain", "global-gain"},
        {"WhiteBalance", "white-balance"},
        {"FlipH", "flip-h"},
        {"AGC", "agc"},
        {"ColorCorrection", "color-correction"},
        {"RGBGain", "rgb-gain"},
        {"Reserved47", "reserved47"},
        {"Gain2X", "gain2-x"},
        {"", ""},
    };
    for (auto [control, property] : cases) EXPECT_EQ(PropertyNameOf(control), property) << control;
}

}  // namespace
}  // namespace bayercam::gst
