#include "platform/usb_stack/usbmon_pcap.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace bayercam {
namespace {

constexpr uint32_t kPcapMagic = 0xA1B2C3D4;  // microsecond time stamps
constexpr uint32_t kSnapLength = kUsbmonHeaderBytes + 256 * 1024;

// usbmon transfer types and the kernel's status codes (negative errno values).
constexpr uint8_t kTransferControl = 2;
constexpr uint8_t kTransferBulk = 3;
constexpr int32_t kInProgress = -115;   // -EINPROGRESS: a submission
constexpr uint32_t kUrbDirIn = 0x0200;  // URB_DIR_IN in the transfer flags
constexpr uint16_t kBusNumber = 1;
constexpr uint8_t kDeviceAddress = 2;

int32_t StatusOf(const BusRecord& record) {
    if (USBD_SUCCESS(record.usbdStatus) && NT_SUCCESS(record.ntStatus)) return 0;
    if (record.usbdStatus == USBD_STATUS_STALL_PID) return -EPIPE;
    if (record.usbdStatus == USBD_STATUS_CANCELED) return -ENOENT;
    if (record.usbdStatus == USBD_STATUS_DEV_NOT_RESPONDING) return -EPROTO;
    if (record.usbdStatus == USBD_STATUS_DEVICE_GONE) return -ESHUTDOWN;
    if (record.usbdStatus == USBD_STATUS_INVALID_PARAMETER ||
        record.usbdStatus == USBD_STATUS_INVALID_PIPE_HANDLE) {
        return -EINVAL;
    }
    return -EIO;
}

void Put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

int64_t RealTimeOffsetNs() {
    using namespace std::chrono;
    auto real = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    auto steady = duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
    return real - steady;
}

}  // namespace

UsbmonPcapWriter::~UsbmonPcapWriter() {
    Close();
}

bool UsbmonPcapWriter::Open(const std::string& path, std::string* error) {
    std::lock_guard<std::mutex> guard(lock_);
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    realTimeOffsetNs_ = RealTimeOffsetNs();
    std::vector<uint8_t> header;
    Put(header, kPcapMagic, 4);
    Put(header, 2, 2);  // version 2.4
    Put(header, 4, 2);
    Put(header, 0, 4);  // time zone
    Put(header, 0, 4);  // time stamp accuracy
    Put(header, kSnapLength, 4);
    Put(header, kLinktypeUsbLinuxMmapped, 4);
    failed_ = std::fwrite(header.data(), 1, header.size(), file_) != header.size();
    return true;
}

void UsbmonPcapWriter::Write(const BusRecord& record) {
    bool control =
        record.kind == BusRequestKind::Control || record.kind == BusRequestKind::ResetPipe;
    if (!control && record.kind != BusRequestKind::BulkOrInterrupt) return;
    bool submission = !record.completed;
    // A control request always goes to endpoint 0, in the direction of its setup packet.
    bool in = control ? (record.setup.bmRequestType & 0x80) != 0 : record.in;
    uint8_t endpoint = control ? (in ? 0x80 : 0x00) : record.endpoint;
    uint32_t length = submission ? record.requestedLength : record.actualLength;
    // OUT data travels with the submission, IN data with the completion.
    bool carriesData = submission != in;
    uint32_t captured = carriesData ? static_cast<uint32_t>(record.data.size()) : 0;
    if (captured > length) captured = length;
    uint64_t ns = (submission ? record.submittedNs : record.completedNs) + realTimeOffsetNs_;

    std::vector<uint8_t> packet;
    packet.reserve(16 + kUsbmonHeaderBytes + captured);
    Put(packet, ns / 1'000'000'000, 4);  // pcap record header
    Put(packet, ns % 1'000'000'000 / 1000, 4);
    Put(packet, kUsbmonHeaderBytes + captured, 4);
    Put(packet, kUsbmonHeaderBytes + (carriesData ? length : 0), 4);

    Put(packet, record.id, 8);
    packet.push_back(submission ? 'S' : 'C');
    packet.push_back(control ? kTransferControl : kTransferBulk);
    packet.push_back(endpoint);
    packet.push_back(kDeviceAddress);
    Put(packet, kBusNumber, 2);
    packet.push_back(control && submission ? 0 : '-');             // setup bytes present
    packet.push_back(carriesData ? 0 : (submission ? '<' : '>'));  // data present
    Put(packet, ns / 1'000'000'000, 8);
    Put(packet, ns % 1'000'000'000 / 1000, 4);
    Put(packet, static_cast<uint32_t>(submission ? kInProgress : StatusOf(record)), 4);
    Put(packet, length, 4);
    Put(packet, captured, 4);
    if (control && submission) {
        const USB_SETUP_PACKET& setup = record.setup;
        packet.insert(packet.end(), {setup.bmRequestType, setup.bRequest});
        Put(packet, setup.wValue, 2);
        Put(packet, setup.wIndex, 2);
        Put(packet, setup.wLength, 2);
    } else {
        Put(packet, 0, 8);
    }
    Put(packet, 0, 4);  // interval
    Put(packet, 0, 4);  // start frame
    Put(packet, in ? kUrbDirIn : 0, 4);
    Put(packet, 0, 4);  // isochronous descriptors
    packet.insert(packet.end(), record.data.begin(), record.data.begin() + captured);

    std::lock_guard<std::mutex> guard(lock_);
    if (!file_) return;
    if (std::fwrite(packet.data(), 1, packet.size(), file_) != packet.size()) failed_ = true;
}

bool UsbmonPcapWriter::Close() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_) return !failed_;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

}  // namespace bayercam
