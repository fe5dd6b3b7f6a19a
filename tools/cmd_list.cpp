// bayercam list: the attached USB devices that have the camera's shape, and whether each can be
// opened by this user.
#include <cstdio>

#include "platform/libusb/usb_device_list.h"
#include "tools/command.h"

namespace bayercam::tool {
namespace {

void SetupList(CLI::App& app, const GlobalOptions&, int& exitCode) {
    CLI::App* command = app.add_subcommand(
        "list", "List attached USB devices shaped like the camera: bus path, VID:PID, serial");
    command->callback([&exitCode] {
        UsbCameraList list = ListUsbCameras();
        if (list.devices.empty()) {
            if (list.error.empty())
                std::printf("no camera found\n");
            else
                std::printf("no camera found (%s)\n", list.error.c_str());
        }
        for (const UsbDeviceInfo& device : list.devices)
            std::printf("%s\n", DescribeUsbDevice(device).c_str());
        exitCode = 0;
    });
}

}  // namespace

BAYERCAM_COMMAND(list, SetupList);

}  // namespace bayercam::tool
