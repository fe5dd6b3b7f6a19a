// An emulated USB bus for the real libusb: a device appears in a umockdev testbed (sysfs, udev
// data and a /dev/bus/usb node), and the usbfs requests that libusb makes on its node are answered
// by any UsbBackend device model. The model sees exactly what a host controller would hand it:
// URB submissions become Submit, discards Cancel, CLEAR_HALT ClearHalt, RESET ResetPort, control
// requests ControlTransfer. Works only under umockdev-wrapper.
#pragma once

#include <umockdev.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/usb_stack/usb_backend.h"

namespace bayercam::test {

// Where a device sits: its bus, the hub ports from the root, its address on the bus.
struct UsbfsPlacement {
    uint8_t bus = 1;
    std::vector<uint8_t> ports = {1};
    uint8_t address = 2;
};

struct UsbfsCounters {
    int submitted = 0;
    int reaped = 0;
    int discarded = 0;
    int clearHalts = 0;
    int resets = 0;
    int setConfigurations = 0;
    int claims = 0;
    int releases = 0;
    std::map<uint8_t, uint8_t> urbType;  // USBDEVFS_URB_TYPE_* of the last URB per endpoint
    std::vector<unsigned long> unknownRequests;
};

// One testbed per test: libusb must start after the devices exist and end before they go.
class UsbfsTestbed {
  public:
    UsbfsTestbed();
    ~UsbfsTestbed();
    UsbfsTestbed(const UsbfsTestbed&) = delete;
    UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;

    // True when the process runs under umockdev-wrapper, so that libusb sees the testbed.
    static bool Active();

    UMockdevTestbed* get() const { return testbed_; }
    std::string Root() const;
    // sysfs path of the device at `bus` and `ports`, adding the hubs on the way once each.
    std::string SysfsPath(uint8_t bus, const std::vector<uint8_t>& ports);
    // Adds a usb_device with the given descriptors (device descriptor, then each configuration).
    void AddDevice(const std::string& sysfsPath, uint8_t bus, uint8_t address,
                   const std::vector<uint8_t>& descriptors, const std::string& serial,
                   int configuration);

  private:
    UMockdevTestbed* testbed_;
    std::set<std::string> hubs_;
    uint8_t nextHubAddress_ = 100;
};

class UsbfsDevice {
  public:
    // Plugs `model` in at `placement`, configured as the kernel leaves a new device.
    UsbfsDevice(UsbfsTestbed& testbed, UsbBackend& model, UsbfsPlacement placement = {});
    // Cancels what the model still holds and waits for it; the libusb side must be closed.
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    // Surprise removal: in-flight URBs end with -ESHUTDOWN, every later request but reaping fails
    // with ENODEV, and libusb's hotplug monitor hears "remove".
    void Unplug();
    // Interface 0 held by someone else: claims fail with EBUSY.
    void SetClaimedElsewhere(bool claimed);
    // Makes the node unreadable and unwritable, as without the udev rule.
    void DenyAccess();

    const std::string& Node() const { return node_; }
    UsbfsCounters Counters();
    size_t PendingUrbs();

  private:
    struct Urb;

    static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static void OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self);
    static void OnModelComplete(UsbTransfer* transfer);

    void HandleIoctl(UMockdevIoctlClient* client);
    int SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* urbData);
    int ControlUrb(Urb* urb);
    int ControlIoctl(UMockdevIoctlData* data, long* result);
    int Reap(UMockdevIoctlClient* client, UMockdevIoctlData* pointer);
    int Discard(UMockdevIoctlClient* client, unsigned long address);
    int SetConfiguration(UMockdevIoctlClient* client, int value);
    int Claim(UMockdevIoctlClient* client, unsigned interface);
    int Release(UMockdevIoctlClient* client, unsigned interface);
    int Reset();
    void DropClient(UMockdevIoctlClient* client);
    // Cancels, in the model, the URBs not yet finished that `pick` selects (handler thread only).
    template <typename Pick>
    void CancelInModel(Pick pick);
    void Finish(Urb* urb, int status, uint32_t actualLength);
    void RetireIfDone(Urb* urb);
    bool HasEndpoint(uint8_t endpoint, uint8_t* attributes) const;

    UsbfsTestbed& testbed_;
    UsbBackend& model_;
    std::string node_;
    std::string sysfsPath_;
    std::vector<uint8_t> configuration_;  // the first configuration descriptor, whole
    UMockdevIoctlBase* handler_;

    std::mutex lock_;
    std::condition_variable modelReleased_;
    std::list<Urb> urbs_;    // every URB the model or the client still holds
    std::deque<Urb*> done_;  // finished, waiting for REAPURB
    UMockdevIoctlClient* claimedBy_ = nullptr;
    bool claimedElsewhere_ = false;
    bool gone_ = false;
    UsbfsCounters counters_;
};

}  // namespace bayercam::test
