// Kernel streaming structures that cross the interface to clients: GUIDs, data formats and
// ranges, stream headers. Exact sizes and offsets as the streaming class driver defines them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bayercam {

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);
inline bool operator==(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

constexpr GUID KSDATAFORMAT_TYPE_VIDEO = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
constexpr GUID MEDIASUBTYPE_RGB32 = {
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
constexpr GUID KSDATAFORMAT_SPECIFIER_VIDEOINFO = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
constexpr GUID KSNAME_Filter = {
    0x9B365890, 0x165F, 0x11D0, {0xA1, 0x95, 0x00, 0x20, 0xAF, 0xD1, 0x56, 0xE4}};
constexpr GUID KSCATEGORY_VIDEO = {
    0x6994AD05, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID KSCATEGORY_CAPTURE = {
    0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID PINNAME_VIDEO_CAPTURE = {
    0xFB6C4281, 0x0353, 0x11D1, {0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
constexpr GUID KSMEMORY_TYPE_KERNEL_NONPAGED = {
    0x4A6D5FC4, 0x7895, 0x11D1, {0xB0, 0x69, 0x00, 0xC0, 0x90, 0x62, 0x80, 0x02}};
constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

struct RECT {
    int32_t left, top, right, bottom;
};
struct SIZE {
    int32_t cx, cy;
};

// KSDATAFORMAT and KSDATARANGE share one 64-byte layout.
struct KSDATAFORMAT {
    uint32_t FormatSize;
    uint32_t Flags;
    uint32_t SampleSize;
    uint32_t Reserved;
    GUID MajorFormat;
    GUID SubFormat;
    GUID Specifier;
};
using KSDATARANGE = KSDATAFORMAT;
static_assert(sizeof(KSDATAFORMAT) == 64);
static_assert(offsetof(KSDATAFORMAT, Specifier) == 48);

struct KS_BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};
static_assert(sizeof(KS_BITMAPINFOHEADER) == 40);
constexpr uint32_t KS_BI_RGB = 0;

struct KS_VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    uint32_t dwBitRate;
    uint32_t dwBitErrorRate;
    int64_t AvgTimePerFrame;  // 100-ns units
    KS_BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(KS_VIDEOINFOHEADER) == 88);
static_assert(offsetof(KS_VIDEOINFOHEADER, bmiHeader) == 48);

struct KS_VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    uint32_t VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int32_t CropGranularityX;
    int32_t CropGranularityY;
    int32_t CropAlignX;
    int32_t CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int32_t OutputGranularityX;
    int32_t OutputGranularityY;
    int32_t StretchTapsX;
    int32_t StretchTapsY;
    int32_t ShrinkTapsX;
    int32_t ShrinkTapsY;
    int64_t MinFrameInterval;
    int64_t MaxFrameInterval;
    int32_t MinBitsPerSecond;
    int32_t MaxBitsPerSecond;
};
static_assert(sizeof(KS_VIDEO_STREAM_CONFIG_CAPS) == 128);
static_assert(offsetof(KS_VIDEO_STREAM_CONFIG_CAPS, MinFrameInterval) == 104);

struct KS_DATARANGE_VIDEO {
    KSDATARANGE DataRange;
    int32_t bFixedSizeSamples;
    int32_t bTemporalCompression;
    uint32_t StreamDescriptionFlags;
    uint32_t MemoryAllocationFlags;
    KS_VIDEO_STREAM_CONFIG_CAPS ConfigCaps;
    KS_VIDEOINFOHEADER VideoInfoHeader;
};
static_assert(sizeof(KS_DATARANGE_VIDEO) == 296);
static_assert(offsetof(KS_DATARANGE_VIDEO, ConfigCaps) == 80);
static_assert(offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) == 208);

// A connection format: the data format header followed by the video info header.
struct KS_DATAFORMAT_VIDEOINFOHEADER {
    KSDATAFORMAT DataFormat;
    KS_VIDEOINFOHEADER VideoInfoHeader;
};
static_assert(sizeof(KS_DATAFORMAT_VIDEOINFOHEADER) == 152);

struct KSTIME {
    int64_t Time;
    uint32_t Numerator;
    uint32_t Denominator;
};

struct KSSTREAM_HEADER {
    uint32_t Size;
    uint32_t TypeSpecificFlags;
    KSTIME PresentationTime;
    int64_t Duration;
    uint32_t FrameExtent;
    uint32_t DataUsed;
    void* Data;
    uint32_t OptionsFlags;
    uint32_t Reserved;
};
static_assert(sizeof(KSSTREAM_HEADER) == 56);
static_assert(offsetof(KSSTREAM_HEADER, PresentationTime) == 8);
static_assert(offsetof(KSSTREAM_HEADER, Duration) == 24);
static_assert(offsetof(KSSTREAM_HEADER, DataUsed) == 36);
static_assert(offsetof(KSSTREAM_HEADER, OptionsFlags) == 48);

constexpr uint32_t KSSTREAM_HEADER_OPTIONSF_TIMEVALID = 0x10;
constexpr uint32_t KSSTREAM_HEADER_OPTIONSF_DURATIONVALID = 0x100;

struct KS_FRAME_INFO {
    uint32_t ExtendedHeaderSize;
    uint32_t dwFrameFlags;
    int64_t PictureNumber;
    int64_t DropCount;
    void* hDirectDraw;
    void* hSurfaceHandle;
    RECT DirectDrawRect;
    uint64_t Reserved1;  // shares its place with lSurfacePitch
    uint32_t Reserved3;
    uint32_t Reserved4;
};
static_assert(sizeof(KS_FRAME_INFO) == 72);
static_assert(offsetof(KS_FRAME_INFO, PictureNumber) == 8);
static_assert(offsetof(KS_FRAME_INFO, DropCount) == 16);

enum KSSTATE : int32_t {
    KSSTATE_STOP = 0,
    KSSTATE_ACQUIRE = 1,
    KSSTATE_PAUSE = 2,
    KSSTATE_RUN = 3
};

// The identification record at the start of every property request.
struct KSPROPERTY {
    GUID Set;
    uint32_t Id;
    uint32_t Flags;
};
static_assert(sizeof(KSPROPERTY) == 24);
constexpr uint32_t KSPROPERTY_TYPE_GET = 0x1;
constexpr uint32_t KSPROPERTY_TYPE_SET = 0x2;

}  // namespace bayercam
