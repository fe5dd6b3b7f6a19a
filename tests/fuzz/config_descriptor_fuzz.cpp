// A configuration descriptor as a device would send it: the driver reads it, walks it and selects
// the configuration through the bus, then releases it. Nothing may be read outside its bytes and
// nothing may stay allocated.
#include <cstdlib>

#include "core/camera_device.h"
#include "core/device_lifecycle.h"
#include "fuzz/fuzz_target.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_device.h"
#include "platform/usb_stack/usb_bus.h"
#include "simcam/sim_camera.h"
#include "usb/usb_configuration.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam;
    if (size == 0 || size > 4096) return 0;  // empty means "build the usual one"
    int64_t live = pool::LiveAllocations();
    {
        sim::SimCameraOptions options;
        options.rawConfigDescriptor.assign(data, data + size);
        sim::SimCamera camera(std::move(options));
        UsbBus bus(camera);
        DRIVER_OBJECT driver{};
        DriverEntry(&driver, "fuzz");
        KSDEVICE* ksDevice = nullptr;
        if (NT_SUCCESS(KsPnpAddDevice(&driver, bus.PhysicalDevice(), &ksDevice))) {
            UsbTarget* usb = &GetCameraDevice(ksDevice)->usb;
            if (NT_SUCCESS(ReadDeviceDescriptor(usb))) FetchConfigDescriptor(usb);
            FreeConfiguration(usb);
            Deconfigure(usb);
            KsPnpRemoveDevice(ksDevice);
        }
    }
    if (pool::LiveAllocations() != live) std::abort();
    return 0;
}
