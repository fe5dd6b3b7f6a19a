// The libusb tests need the usbfs emulation; outside umockdev-wrapper they report themselves
// skipped (exit code 77) rather than passed.
#include <gtest/gtest.h>

#include <cstdio>

#include "platform/libusb/usbfs_device.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    bool active;
    {
        // umockdev tells whether it is preloaded only once a testbed exists.
        bayercam::test::UsbfsTestbed probe;
        active = bayercam::test::UsbfsTestbed::Active();
    }
    if (!active) {
        std::fprintf(stderr, "SKIP: run under umockdev-wrapper to emulate usbfs\n");
        return 77;
    }
    return RUN_ALL_TESTS();
}
