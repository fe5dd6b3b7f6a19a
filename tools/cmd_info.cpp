// bayercam info: opens the camera, prints what the driver found on it, and closes it again.
#include <cstdio>
#include <cstring>

#include "platform/usb_stack/usb_bus.h"
#include "platform/usb_stack/usb_descriptors.h"
#include "tools/camera_choice.h"
#include "tools/command_outcome.h"
#include "tools/control_properties.h"

namespace bayercam::tool {
namespace {

const char* PipeTypeName(USBD_PIPE_TYPE type) {
    switch (type) {
        case UsbdPipeTypeControl:
            return "control";
        case UsbdPipeTypeIsochronous:
            return "isochronous";
        case UsbdPipeTypeBulk:
            return "bulk";
        case UsbdPipeTypeInterrupt:
            return "interrupt";
    }
    return "?";
}

// The device descriptor as the camera sent it during the start, from the bus's record.
void PrintDeviceDescriptor(UsbBus& bus) {
    for (const BusRecord& record : bus.Recorder().Records()) {
        if (record.kind != BusRequestKind::Control || record.setup.bRequest != 0x06 ||
            record.setup.wValue != (USB_DEVICE_DESCRIPTOR_TYPE << 8) ||
            record.data.size() < sizeof(USB_DEVICE_DESCRIPTOR)) {
            continue;
        }
        USB_DEVICE_DESCRIPTOR descriptor;
        std::memcpy(&descriptor, record.data.data(), sizeof descriptor);
        std::printf(
            "device: vendor %04x product %04x release %x.%02x, USB %x.%02x, %u configuration(s)\n",
            descriptor.idVendor, descriptor.idProduct, descriptor.bcdDevice >> 8,
            descriptor.bcdDevice & 0xFF, descriptor.bcdUSB >> 8, descriptor.bcdUSB & 0xFF,
            descriptor.bNumConfigurations);
        return;
    }
    std::printf("device: no device descriptor was read\n");
}

void PrintConfiguration(const UsbTarget& usb) {
    const USB_CONFIGURATION_DESCRIPTOR* config = usb.configDescriptor;
    if (!config) {
        std::printf("configuration: none\n");
        return;
    }
    std::printf("configuration %u: %u interface(s) declared, %u bytes\n",
                config->bConfigurationValue, config->bNumInterfaces, config->wTotalLength);
    for (const uint8_t* p = NextDescriptor(config, nullptr); p; p = NextDescriptor(config, p)) {
        if (p[1] != USB_INTERFACE_DESCRIPTOR_TYPE) continue;
        const auto* interface = reinterpret_cast<const USB_INTERFACE_DESCRIPTOR*>(p);
        std::printf("  interface %u alternate %u: class %02x, %u endpoint(s)\n",
                    interface->bInterfaceNumber, interface->bAlternateSetting,
                    interface->bInterfaceClass, interface->bNumEndpoints);
    }
    const USBD_INTERFACE_INFORMATION* info = usb.interfaceInfo;
    if (!info) {
        std::printf("pipes: none (no interface selected)\n");
        return;
    }
    std::printf("pipes of interface %u:\n", info->InterfaceNumber);
    static const char* const kRoles[] = {"command", "response", "image"};
    for (uint32_t i = 0; i < info->NumberOfPipes; ++i) {
        const USBD_PIPE_INFORMATION& pipe = info->Pipes[i];
        std::printf("  %u %-8s endpoint 0x%02x %-3s %-9s max packet %u, max transfer %u\n", i,
                    i < 3 ? kRoles[i] : "-", pipe.EndpointAddress,
                    (pipe.EndpointAddress & 0x80) ? "IN" : "OUT", PipeTypeName(pipe.PipeType),
                    pipe.MaximumPacketSize, pipe.MaximumTransferSize);
    }
}

int RunInfo(const GlobalOptions& global) {
    std::string error;
    library::CameraChoice choice;
    std::unique_ptr<library::CameraSession> session;
    if (ChooseCamera(global, &choice, &error))
        session = library::CameraSession::Open(choice, SessionOptionsOf(global), &error);
    if (!session) {
        std::fprintf(stderr, "bayercam: %s\n", error.c_str());
        return 1;
    }
    if (session->Simulated())
        std::printf("camera: simulated\n");
    else
        std::printf(
            "camera: USB %s %04x:%04x serial %s\n", session->UsbDevice().busPath.c_str(),
            session->UsbDevice().vendorId, session->UsbDevice().productId,
            session->UsbDevice().serial.empty() ? "-" : session->UsbDevice().serial.c_str());
    std::printf("settings: %s\n", session->SettingsInstance().c_str());
    PrintDeviceDescriptor(session->Bus());
    PrintConfiguration(session->Camera()->usb);
    NTSTATUS status = session->StartStatus();
    std::printf("start: %s\n", NtStatusName(status));
    std::printf("clock selection: %d\n", session->Camera()->clock.load());
    std::printf("RegionOfInterest=%s\n", FormatRegion(*session->Camera()).c_str());
    // The start-up carries on past a failed packet: a count above 0 means a half-set-up camera.
    std::printf("failed packets: %u\n", session->Camera()->failedPackets.load());
    if (!session->Close(&error)) ReportLateFailure(error);
    std::printf("stopped and removed\n");
    return NT_SUCCESS(status) ? 0 : 1;
}

}  // namespace

BAYERCAM_COMMAND(info, [](CLI::App& app, const GlobalOptions& global, int& exitCode) {
    CLI::App* command = app.add_subcommand("info", "Start the camera, print what was found, stop");
    command->callback([&global, &exitCode] { exitCode = RunInfo(global); });
});

}  // namespace bayercam::tool
