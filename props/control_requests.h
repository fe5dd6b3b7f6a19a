// The vendor control property set's identifier and the request records applications pass as its
// property and data buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/ks/ks_types.h"

namespace bayercam {

// {3F263C66-0FDA-41D5-9EA8-CF2E342CEFB2}
inline constexpr GUID ControlPropertySetId = {
    0x3F263C66, 0x0FDA, 0x41D5, {0x9E, 0xA8, 0xCF, 0x2E, 0x34, 0x2C, 0xEF, 0xB2}};

inline constexpr uint32_t kControlPropertyCount = 69;

// Property and data buffer of every property except 44, 59 and 60. Id and flags come from the
// property buffer, the values from the data buffer; a client normally passes one record as both.
struct ControlRequest {
    KSPROPERTY property;
    int32_t value;
    int32_t secondValue;  // only the sensor register write uses it
};
static_assert(sizeof(ControlRequest) == 32);
static_assert(offsetof(ControlRequest, value) == 24);
static_assert(offsetof(ControlRequest, secondValue) == 28);

// The region of interest (property 44).
struct RoiRequest {
    KSPROPERTY property;
    int32_t subSample;  // passed along and ignored
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
    uint8_t unused[4];
};
static_assert(sizeof(RoiRequest) == 48);
static_assert(offsetof(RoiRequest, subSample) == 24);
static_assert(offsetof(RoiRequest, x) == 28);
static_assert(offsetof(RoiRequest, y) == 32);
static_assert(offsetof(RoiRequest, width) == 36);
static_assert(offsetof(RoiRequest, height) == 40);

// The pass-through command (property 59) and the memory byte read (property 60).
struct RawCommandRequest {
    KSPROPERTY property;
    int32_t address;
    int32_t count;
    uint8_t payload[64];  // bytes to send, or the byte read in payload[0]
};
static_assert(sizeof(RawCommandRequest) == 96);
static_assert(offsetof(RawCommandRequest, address) == 24);
static_assert(offsetof(RawCommandRequest, count) == 28);
static_assert(offsetof(RawCommandRequest, payload) == 32);

}  // namespace bayercam
