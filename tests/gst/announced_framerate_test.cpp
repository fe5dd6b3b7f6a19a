#include "gst/announced_framerate.h"

#include <gtest/gtest.h>

namespace bayercam::gst {
namespace {

TEST(AnnouncedFramerateTest, NominalUnlessTheSimulatedCameraSaysOtherwise) {
    struct Case {
        const char* selector;
        int numerator, denominator;
    };
    const Case cases[] = {
        {"", 30, 1},
        {"usb:1234:5678", 30, 1},
        {"sim", 30, 1},
        {"sim:fps=15", 15, 1},
        {"sim:scene=chart,fps=12.5,clock=2", 25, 2},
        {"sim:scene=file:/tmp/a.pgm,fps=0", 0, 1},
        {"sim:fps=-3", 30, 1},  // refused by the camera anyway
        {"sim:fps=fast", 30, 1},
        {"usb-path:1-2,fps=5", 30, 1},
    };
    for (const Case& c : cases) {
        Framerate rate = AnnouncedFramerate(c.selector);
        EXPECT_EQ(rate.numerator, c.numerator) << c.selector;
        EXPECT_EQ(rate.denominator, c.denominator) << c.selector;
    }
}

}  // namespace
}  // namespace bayercam::gst
