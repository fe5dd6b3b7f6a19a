#include "platform/libusb/usbfs_device.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace bayercam::test {
namespace {

// What a current kernel offers; BULK_SCATTER_GATHER makes libusb send a whole transfer as one
// URB, and REAP_AFTER_DISCONNECT lets it collect the URBs that a removal ended.
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_SCATTER_GATHER |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                   USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr auto kModelReleaseBound = std::chrono::seconds(10);

UMockdevIoctlData* Resolve(UMockdevIoctlData* data, size_t offset, size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error) {
        g_error_free(error);
        return nullptr;
    }
    return resolved;
}

// The URB status the kernel would report for the model's result.
int UrbStatus(USBD_STATUS status) {
    switch (status) {
        case USBD_STATUS_SUCCESS:
            return 0;
        case USBD_STATUS_STALL_PID:
            return -EPIPE;
        case USBD_STATUS_CANCELED:
            return -ENOENT;
        case USBD_STATUS_DEVICE_GONE:
            return -ESHUTDOWN;
        case USBD_STATUS_BABBLE_DETECTED:
            return -EOVERFLOW;
        default:
            return -EPROTO;
    }
}

int SubmitErrno(USBD_STATUS status) {
    switch (status) {
        case USBD_STATUS_DEVICE_GONE:
            return ENODEV;
        case USBD_STATUS_INVALID_PARAMETER:
            return EINVAL;
        case USBD_STATUS_ERROR_BUSY:
            return EBUSY;
        default:
            return EIO;
    }
}

std::vector<uint8_t> ReadDescriptor(UsbBackend& model, uint8_t type, uint8_t index,
                                    uint16_t language, uint16_t length) {
    USB_SETUP_PACKET setup{0x80, USB_REQUEST_GET_DESCRIPTOR,
                           static_cast<uint16_t>(type << 8 | index), language, length};
    std::vector<uint8_t> data(length);
    uint32_t transferred = 0;
    if (!USBD_SUCCESS(model.ControlTransfer(setup, data.data(), &transferred))) transferred = 0;
    data.resize(std::min<size_t>(transferred, length));
    return data;
}

std::string ReadSerial(UsbBackend& model, uint8_t index) {
    if (index == 0) return "";
    std::vector<uint8_t> text = ReadDescriptor(model, 3, index, 0x0409, 255);
    std::string serial;
    for (size_t i = 2; i + 1 < text.size() && i < text[0]; i += 2)
        serial += static_cast<char>(text[i]);
    return serial;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    char pair[3];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", byte);
        text += pair;
    }
    return text;
}

std::string Format(const char* format, unsigned a, unsigned b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    return text;
}

// Each endpoint of a configuration descriptor: address and attributes.
std::vector<std::pair<uint8_t, uint8_t>> Endpoints(const std::vector<uint8_t>& configuration) {
    std::vector<std::pair<uint8_t, uint8_t>> endpoints;
    for (size_t i = 0; i + 3 < configuration.size() && configuration[i] != 0; i += configuration[i])
        if (configuration[i + 1] == USB_ENDPOINT_DESCRIPTOR_TYPE)
            endpoints.emplace_back(configuration[i + 2], configuration[i + 3]);
    return endpoints;
}

const std::vector<uint8_t> kHubDescriptors = {
    18, 1, 0x00, 0x02, 9, 0, 1, 64,   0x6b, 0x1d, 0x02, 0x00, 0x00, 0x01, 0, 0, 0, 1,  // device
    9,  2, 25,   0,    1, 1, 0, 0xe0, 0,                                               // config
    9,  4, 0,    0,    1, 9, 0, 0,    0,                                               // interface
    7,  5, 0x81, 3,    4, 0, 12};                                                      // status

}  // namespace

// ---- UsbfsTestbed ----

UsbfsTestbed::UsbfsTestbed() : testbed_(umockdev_testbed_new()) {}

UsbfsTestbed::~UsbfsTestbed() {
    g_object_unref(testbed_);
}

bool UsbfsTestbed::Active() {
    return umockdev_in_mock_environment();
}

std::string UsbfsTestbed::Root() const {
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    std::string path = root;
    g_free(root);
    return path;
}

std::string UsbfsTestbed::SysfsPath(uint8_t bus, const std::vector<uint8_t>& ports) {
    std::string path = "/sys/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(bus);
    if (hubs_.insert(path).second) AddDevice(path, bus, 1, kHubDescriptors, "", 1);
    std::string name = std::to_string(bus);
    for (size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
        path += "/" + name;
        if (i + 1 < ports.size() && hubs_.insert(path).second)
            AddDevice(path, bus, nextHubAddress_++, kHubDescriptors, "", 1);
    }
    return path;
}

void UsbfsTestbed::AddDevice(const std::string& sysfsPath, uint8_t bus, uint8_t address,
                             const std::vector<uint8_t>& descriptors, const std::string& serial,
                             int configuration) {
    if (descriptors.size() < 18) throw std::runtime_error("device descriptor missing");
    auto word = [&](size_t at) { return unsigned(descriptors[at] | descriptors[at + 1] << 8); };
    std::string node = Format("bus/usb/%03u/%03u", bus, address);
    // sysfs values end in a newline, which umockdev wants written as "\n" inside the record.
    std::string record = "P: " + sysfsPath.substr(4) + "\nN: " + node + "\n";
    record += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=/dev/" + node + "\n";
    record += Format("E: BUSNUM=%03u\nE: DEVNUM=%03u\n", bus, address);
    record += Format("E: PRODUCT=%x/%x", word(8), word(10)) + Format("/%x\n", word(12), 0);
    record += Format("A: busnum=%u\\n\nA: devnum=%u\\n\n", bus, address);
    record += "A: speed=480\\n\n";
    record += "A: bConfigurationValue=" +
              (configuration > 0 ? std::to_string(configuration) : std::string()) + "\\n\n";
    record +=
        Format("A: bNumConfigurations=%u\\n\nA: idVendor=%04x\\n\n", descriptors[17], word(8));
    record += Format("A: idProduct=%04x\\n\nA: dev=189:%u\\n\n", word(10),
                     (bus - 1u) * 128u + address - 1u);
    if (!serial.empty()) record += "A: serial=" + serial + "\\n\n";
    record += "H: descriptors=" + Hex(descriptors) + "\n";
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }
}

// ---- UsbfsDevice ----

struct UsbfsDevice::Urb {
    UsbfsDevice* owner = nullptr;
    UMockdevIoctlClient* client = nullptr;
    UMockdevIoctlData* urb = nullptr;     // the client's struct usbdevfs_urb
    UMockdevIoctlData* buffer = nullptr;  // its transfer buffer
    UsbTransfer transfer{};
    bool withModel = false;  // the model holds `transfer` and will complete it
    bool finished = false;   // has its result (queued for reaping unless abandoned)
    bool abandoned = false;  // reaped, or its client went away

    usbdevfs_urb* fields() const { return reinterpret_cast<usbdevfs_urb*>(urb->data); }
};

UsbfsDevice::UsbfsDevice(UsbfsTestbed& testbed, UsbBackend& model, UsbfsPlacement placement)
    : testbed_(testbed), model_(model) {
    std::vector<uint8_t> descriptors = ReadDescriptor(model, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, 18);
    if (descriptors.size() != 18) throw std::runtime_error("model gives no device descriptor");
    for (uint8_t index = 0; index < descriptors[17]; ++index) {
        std::vector<uint8_t> header =
            ReadDescriptor(model, USB_CONFIGURATION_DESCRIPTOR_TYPE, index, 0, 9);
        if (header.size() != 9) throw std::runtime_error("model gives no configuration");
        std::vector<uint8_t> whole = ReadDescriptor(model, USB_CONFIGURATION_DESCRIPTOR_TYPE, index,
                                                    0, header[2] | header[3] << 8);
        if (index == 0) configuration_ = whole;
        descriptors.insert(descriptors.end(), whole.begin(), whole.end());
    }
    if (configuration_.size() < 9) throw std::runtime_error("model has no configuration");
    // The kernel selects the first configuration when a device arrives.
    int value = configuration_[5];
    if (!USBD_SUCCESS(model.SetConfiguration(static_cast<uint8_t>(value)))) value = 0;

    node_ = Format("/dev/bus/usb/%03u/%03u", placement.bus, placement.address);
    sysfsPath_ = testbed.SysfsPath(placement.bus, placement.ports);
    testbed.AddDevice(sysfsPath_, placement.bus, placement.address, descriptors,
                      ReadSerial(model, descriptors[16]), value);

    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(OnClientVanished), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed.get(), node_.c_str(), handler_, &error)) {
        std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }
}

UsbfsDevice::~UsbfsDevice() {
    umockdev_testbed_detach_ioctl(testbed_.get(), node_.c_str(), nullptr);
    for (auto [endpoint, attributes] : Endpoints(configuration_)) model_.AbortEndpoint(endpoint);
    {
        std::unique_lock<std::mutex> guard(lock_);
        auto released = [this] {
            return std::none_of(urbs_.begin(), urbs_.end(),
                                [](const Urb& urb) { return urb.withModel; });
        };
        if (!modelReleased_.wait_for(guard, kModelReleaseBound, released)) {
            // The model would complete into freed memory later; nothing sane is left to do.
            std::fprintf(stderr, "usbfs emulation: the model never completed its transfers\n");
            std::abort();
        }
        for (Urb& urb : urbs_) {
            if (urb.buffer) g_object_unref(urb.buffer);
            g_object_unref(urb.urb);
            g_object_unref(urb.client);
        }
        urbs_.clear();
        done_.clear();
    }
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
    umockdev_testbed_remove_device(testbed_.get(), sysfsPath_.c_str());
}

gboolean UsbfsDevice::OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<UsbfsDevice*>(self)->HandleIoctl(client);
    return TRUE;
}

void UsbfsDevice::OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    static_cast<UsbfsDevice*>(self)->DropClient(client);
}

void UsbfsDevice::HandleIoctl(UMockdevIoctlClient* client) {
    unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* argument = umockdev_ioctl_client_get_arg(client);
    const size_t size = _IOC_SIZE(request);
    UMockdevIoctlData* data = size ? Resolve(argument, 0, size) : nullptr;
    if (size && !data) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return;
    }
    void* fields = data ? data->data : nullptr;
    const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
    bool gone;
    {
        std::lock_guard<std::mutex> guard(lock_);
        gone = gone_;
    }
    long result = 0;
    int error = 0;
    if (gone && !reap) {
        error = ENODEV;
    } else {
        switch (request) {
            case USBDEVFS_GET_CAPABILITIES:
                *static_cast<uint32_t*>(fields) = kCapabilities;
                break;
            case USBDEVFS_SUBMITURB:
                error = SubmitUrb(client, data);
                break;
            case USBDEVFS_REAPURB:  // libusb reaps without delay only; never block here
            case USBDEVFS_REAPURBNDELAY:
                error = Reap(client, data);
                if (error == EAGAIN && gone) error = ENODEV;
                break;
            case USBDEVFS_DISCARDURB:  // the argument is the URB's address itself
                error = Discard(client, *reinterpret_cast<unsigned long*>(argument->data));
                break;
            case USBDEVFS_CLAIMINTERFACE:
                error = Claim(client, *static_cast<unsigned*>(fields));
                break;
            case USBDEVFS_DISCONNECT_CLAIM:
                error = Claim(client, static_cast<usbdevfs_disconnect_claim*>(fields)->interface);
                break;
            case USBDEVFS_RELEASEINTERFACE:
                error = Release(client, *static_cast<unsigned*>(fields));
                break;
            case USBDEVFS_SETINTERFACE:
                if (static_cast<usbdevfs_setinterface*>(fields)->altsetting != 0) error = EINVAL;
                break;
            case USBDEVFS_SETCONFIGURATION:
                error = SetConfiguration(client, *static_cast<int*>(fields));
                break;
            case USBDEVFS_CLEAR_HALT: {
                auto endpoint = static_cast<uint8_t>(*static_cast<unsigned*>(fields));
                error = USBD_SUCCESS(model_.ClearHalt(endpoint)) ? 0 : EIO;
                std::lock_guard<std::mutex> guard(lock_);
                counters_.clearHalts++;
                break;
            }
            case USBDEVFS_RESET:
                error = Reset();
                break;
            case USBDEVFS_GETDRIVER:  // no kernel driver is bound
                error = ENODATA;
                break;
            case USBDEVFS_IOCTL:
                error = static_cast<usbdevfs_ioctl*>(fields)->ioctl_code == USBDEVFS_DISCONNECT
                            ? ENODATA
                            : ENOTTY;
                break;
            case USBDEVFS_CONTROL:
                error = ControlIoctl(data, &result);
                break;
            default: {
                std::lock_guard<std::mutex> guard(lock_);
                counters_.unknownRequests.push_back(request);
                error = ENOTTY;
            }
        }
    }
    umockdev_ioctl_client_complete(client, error ? -1 : result, error);
    if (data) g_object_unref(data);
}

bool UsbfsDevice::HasEndpoint(uint8_t endpoint, uint8_t* attributes) const {
    for (auto [address, bits] : Endpoints(configuration_)) {
        if (address != endpoint) continue;
        *attributes = bits;
        return true;
    }
    return false;
}

int UsbfsDevice::SubmitUrb(UMockdevIoctlClient* client, UMockdevIoctlData* urbData) {
    auto* fields = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    uint8_t attributes = 0;
    switch (fields->type) {
        case USBDEVFS_URB_TYPE_CONTROL:
            if (fields->buffer_length < 8) return EINVAL;
            break;
        case USBDEVFS_URB_TYPE_BULK:
        case USBDEVFS_URB_TYPE_INTERRUPT:
            if (!HasEndpoint(fields->endpoint, &attributes)) return ENOENT;
            // Linux sends a bulk URB on an interrupt endpoint as an interrupt one, but refuses
            // an interrupt URB on a bulk endpoint.
            if ((attributes & 0x03) != UsbdPipeTypeInterrupt &&
                ((attributes & 0x03) != UsbdPipeTypeBulk ||
                 fields->type == USBDEVFS_URB_TYPE_INTERRUPT))
                return EINVAL;
            break;
        default:
            return EINVAL;
    }
    UMockdevIoctlData* buffer = nullptr;
    if (fields->buffer_length > 0) {
        buffer = Resolve(urbData, offsetof(usbdevfs_urb, buffer), size_t(fields->buffer_length));
        if (!buffer) return EFAULT;
    }
    Urb* urb;
    {
        std::lock_guard<std::mutex> guard(lock_);
        urb = &urbs_.emplace_back();
        urb->owner = this;
        urb->client = static_cast<UMockdevIoctlClient*>(g_object_ref(client));
        urb->urb = static_cast<UMockdevIoctlData*>(g_object_ref(urbData));
        urb->buffer = buffer;
        urb->withModel = fields->type != USBDEVFS_URB_TYPE_CONTROL;
        counters_.submitted++;
        counters_.urbType[fields->endpoint] = fields->type;
    }
    if (fields->type == USBDEVFS_URB_TYPE_CONTROL) return ControlUrb(urb);
    urb->transfer = {fields->endpoint,
                     buffer ? buffer->data : nullptr,
                     static_cast<uint32_t>(fields->buffer_length),
                     0,
                     0,
                     OnModelComplete,
                     urb,
                     nullptr};
    USBD_STATUS status = model_.Submit(&urb->transfer);
    if (USBD_SUCCESS(status)) return 0;
    std::lock_guard<std::mutex> guard(lock_);
    urb->withModel = false;
    urb->abandoned = true;
    RetireIfDone(urb);
    return SubmitErrno(status);
}

int UsbfsDevice::ControlUrb(Urb* urb) {
    usbdevfs_urb* fields = urb->fields();
    uint8_t* bytes = urb->buffer->data;
    USB_SETUP_PACKET setup;
    std::memcpy(&setup, bytes, sizeof setup);
    uint32_t transferred = 0;
    USBD_STATUS status = setup.wLength <= fields->buffer_length - 8
                             ? model_.ControlTransfer(setup, bytes + 8, &transferred)
                             : USBD_STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(lock_);
    Finish(urb, UrbStatus(status), transferred);
    return 0;
}

int UsbfsDevice::ControlIoctl(UMockdevIoctlData* data, long* result) {
    auto* fields = static_cast<usbdevfs_ctrltransfer*>(static_cast<void*>(data->data));
    UMockdevIoctlData* buffer =
        fields->wLength ? Resolve(data, offsetof(usbdevfs_ctrltransfer, data), fields->wLength)
                        : nullptr;
    if (fields->wLength && !buffer) return EFAULT;
    USB_SETUP_PACKET setup{fields->bRequestType, fields->bRequest, fields->wValue, fields->wIndex,
                           fields->wLength};
    uint32_t transferred = 0;
    USBD_STATUS status =
        model_.ControlTransfer(setup, buffer ? buffer->data : nullptr, &transferred);
    if (buffer) g_object_unref(buffer);
    *result = transferred;
    return USBD_SUCCESS(status) ? 0 : -UrbStatus(status);
}

void UsbfsDevice::OnModelComplete(UsbTransfer* transfer) {
    auto* urb = static_cast<Urb*>(transfer->context);
    UsbfsDevice* self = urb->owner;
    std::lock_guard<std::mutex> guard(self->lock_);
    urb->withModel = false;
    if (!urb->finished) self->Finish(urb, UrbStatus(transfer->status), transfer->actualLength);
    self->RetireIfDone(urb);
    self->modelReleased_.notify_all();
}

void UsbfsDevice::Finish(Urb* urb, int status, uint32_t actualLength) {
    urb->fields()->status = status;
    urb->fields()->actual_length = static_cast<int>(actualLength);
    urb->finished = true;
    if (!urb->abandoned) done_.push_back(urb);
}

void UsbfsDevice::RetireIfDone(Urb* urb) {
    if (!urb->abandoned || urb->withModel) return;
    if (urb->buffer) g_object_unref(urb->buffer);
    g_object_unref(urb->urb);
    g_object_unref(urb->client);
    urbs_.remove_if([urb](const Urb& candidate) { return &candidate == urb; });
}

int UsbfsDevice::Reap(UMockdevIoctlClient* client, UMockdevIoctlData* pointer) {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = std::find_if(done_.begin(), done_.end(),
                              [client](const Urb* urb) { return urb->client == client; });
    if (found == done_.end()) return EAGAIN;
    Urb* urb = *found;
    done_.erase(found);
    // Points the client's `struct usbdevfs_urb *` at its own URB; umockdev writes the URB and
    // its buffer back, keeping them alive, when this ioctl completes.
    umockdev_ioctl_data_set_ptr(pointer, 0, urb->urb);
    counters_.reaped++;
    urb->abandoned = true;
    RetireIfDone(urb);
    return 0;
}

// Handler thread only: URBs are abandoned only here, so one picked under the lock stays alive
// while the model is asked to cancel it.
template <typename Pick>
void UsbfsDevice::CancelInModel(Pick pick) {
    std::vector<UsbTransfer*> cancel;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (Urb& urb : urbs_)
            if (urb.withModel && !urb.finished && !urb.abandoned && pick(urb))
                cancel.push_back(&urb.transfer);
    }
    for (UsbTransfer* transfer : cancel) model_.Cancel(transfer);
}

int UsbfsDevice::Discard(UMockdevIoctlClient* client, unsigned long address) {
    bool found = false;
    CancelInModel([&](const Urb& urb) {
        bool match = !found && urb.client == client && urb.urb->client_addr == address;
        found = found || match;
        return match;
    });
    if (!found) return EINVAL;  // already finished: libusb then simply reaps it
    std::lock_guard<std::mutex> guard(lock_);
    counters_.discarded++;
    return 0;
}

void UsbfsDevice::DropClient(UMockdevIoctlClient* client) {
    // The kernel kills a closing file's URBs and frees its interface claims.
    CancelInModel([client](const Urb& urb) { return urb.client == client; });
    std::lock_guard<std::mutex> guard(lock_);
    if (claimedBy_ == client) claimedBy_ = nullptr;
    done_.erase(std::remove_if(done_.begin(), done_.end(),
                               [client](const Urb* urb) { return urb->client == client; }),
                done_.end());
    std::vector<Urb*> dropped;
    for (Urb& urb : urbs_)
        if (urb.client == client) dropped.push_back(&urb);
    for (Urb* urb : dropped) {
        urb->abandoned = true;
        RetireIfDone(urb);
    }
}

int UsbfsDevice::SetConfiguration(UMockdevIoctlClient*, int value) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        // Linux will not change the configuration under a claimed interface.
        if (claimedBy_ || claimedElsewhere_) return EBUSY;
    }
    if (value != -1 && value != 0 && value != configuration_[5]) return EINVAL;
    uint8_t target = value > 0 ? static_cast<uint8_t>(value) : 0;
    if (!USBD_SUCCESS(model_.SetConfiguration(target))) return EIO;
    umockdev_testbed_set_attribute(testbed_.get(), sysfsPath_.c_str(), "bConfigurationValue",
                                   target ? (std::to_string(target) + "\n").c_str() : "\n");
    std::lock_guard<std::mutex> guard(lock_);
    counters_.setConfigurations++;
    return 0;
}

int UsbfsDevice::Claim(UMockdevIoctlClient* client, unsigned interface) {
    std::lock_guard<std::mutex> guard(lock_);
    if (interface != 0) return ENOENT;
    if (claimedElsewhere_ || (claimedBy_ && claimedBy_ != client)) return EBUSY;
    claimedBy_ = client;
    counters_.claims++;
    return 0;
}

int UsbfsDevice::Release(UMockdevIoctlClient* client, unsigned interface) {
    std::lock_guard<std::mutex> guard(lock_);
    if (interface != 0 || claimedBy_ != client) return EINVAL;
    claimedBy_ = nullptr;
    counters_.releases++;
    return 0;
}

int UsbfsDevice::Reset() {
    // A reset ends every URB still in flight, as the kernel kills them.
    CancelInModel([](const Urb&) { return true; });
    NTSTATUS status = model_.ResetPort();
    std::lock_guard<std::mutex> guard(lock_);
    counters_.resets++;
    return NT_SUCCESS(status) ? 0 : EIO;
}

void UsbfsDevice::Unplug() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        gone_ = true;
        for (Urb& urb : urbs_)
            if (!urb.finished && !urb.abandoned) Finish(&urb, -ESHUTDOWN, 0);
    }
    // The model lets go of what it holds; its completions now change nothing.
    for (auto [endpoint, attributes] : Endpoints(configuration_)) model_.AbortEndpoint(endpoint);
    umockdev_testbed_uevent(testbed_.get(), sysfsPath_.c_str(), "remove");
}

void UsbfsDevice::SetClaimedElsewhere(bool claimed) {
    std::lock_guard<std::mutex> guard(lock_);
    claimedElsewhere_ = claimed;
}

void UsbfsDevice::DenyAccess() {
    if (chmod((testbed_.Root() + node_).c_str(), 0) != 0)
        throw std::runtime_error("cannot change the mode of " + node_);
}

UsbfsCounters UsbfsDevice::Counters() {
    std::lock_guard<std::mutex> guard(lock_);
    return counters_;
}

size_t UsbfsDevice::PendingUrbs() {
    std::lock_guard<std::mutex> guard(lock_);
    return std::count_if(urbs_.begin(), urbs_.end(),
                         [](const Urb& urb) { return urb.withModel && !urb.finished; });
}

}  // namespace bayercam::test
