// The camera's side of the bus as short readable lines, decoded from the recorded transfers
// without the driver's code: "S158=36" a sensor write, "L15=3" a logic write, "R15" a logic read,
// "M12.34" a memory read, "<" an answer read (with "short" when it was not 64 bytes), "X0A01" any
// other command by its first two bytes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/usb_stack/bus_recorder.h"

namespace bayercam::testing {

inline std::string DecodeCommand(const std::vector<uint8_t>& packet) {
    char line[64];
    if (packet.size() != 64) {
        std::snprintf(line, sizeof line, "?%zu", packet.size());
    } else if (packet[0] == 0x04) {
        uint32_t word = packet[2] | packet[3] << 8 | packet[4] << 16 | uint32_t{packet[5]} << 24;
        uint32_t bits = packet[1];
        uint32_t value = word >> 10;
        // Value bits beyond the width the packet announces would be lost by the sensor.
        bool fits = bits >= 10 && bits <= 32 && (bits == 32 || value >> (bits - 10) == 0);
        std::snprintf(line, sizeof line, "S%u=%u%s", word & 0x3FF, value, fits ? "" : "!");
    } else if (packet[0] == 0x25) {
        std::snprintf(line, sizeof line, "L%u=%u", packet[1], packet[2]);
    } else if (packet[0] == 0x26) {
        std::snprintf(line, sizeof line, "R%u", packet[1]);
    } else if (packet[0] == 0x41) {
        std::snprintf(line, sizeof line, "M%02X.%02X", packet[4], packet[5]);
    } else {
        std::snprintf(line, sizeof line, "X%02X%02X", packet[0], packet[1]);
    }
    return line;
}

// Every bulk transfer of `records` on the command endpoint 0x01 and the response endpoint 0x82.
inline std::vector<std::string> WireLog(const std::vector<BusRecord>& records) {
    std::vector<std::string> lines;
    for (const BusRecord& record : records) {
        if (record.kind != BusRequestKind::BulkOrInterrupt) continue;
        if (record.endpoint == 0x01) lines.push_back(DecodeCommand(record.data));
        if (record.endpoint == 0x82) lines.push_back(record.actualLength == 64 ? "<" : "<short");
    }
    return lines;
}

}  // namespace bayercam::testing
