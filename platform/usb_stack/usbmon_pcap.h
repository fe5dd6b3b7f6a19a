// Writes the bus traffic as a capture file that packet analysers open: pcap with link type 220
// (Linux usbmon, memory-mapped header), one submission and one completion record per transfer.
// OUT data goes with the submission and IN data with the completion, as far as the bus recorder
// kept it (large image transfers appear with their real length and no data).
#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/usb_stack/bus_recorder.h"

namespace bayercam {

constexpr uint32_t kLinktypeUsbLinuxMmapped = 220;
constexpr uint32_t kUsbmonHeaderBytes = 64;

class UsbmonPcapWriter {
  public:
    UsbmonPcapWriter() = default;
    // Closes the file.
    ~UsbmonPcapWriter();
    UsbmonPcapWriter(const UsbmonPcapWriter&) = delete;
    UsbmonPcapWriter& operator=(const UsbmonPcapWriter&) = delete;

    // Creates `path` and writes the file header; false with `*error` set when it cannot.
    bool Open(const std::string& path, std::string* error);
    // Writes the submission (record not completed yet) or the completion of one bus request.
    // Requests that do not reach the device (pipe aborts, port requests) are left out.
    void Write(const BusRecord& record);
    // Flushes and closes; false when the file could not be written completely.
    bool Close();

  private:
    std::mutex lock_;
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    int64_t realTimeOffsetNs_ = 0;  // wall clock minus the recorder's monotonic clock
};

}  // namespace bayercam
