#include "stream/video_data_range.h"

namespace bayercam {

// Values at load; in each device's copy the size and interval fields are replaced by the geometry
// at device creation, before any client sees them.
const KS_DATARANGE_VIDEO VideoDataRange = {
    // DataRange
    {sizeof(KS_DATARANGE_VIDEO), 0, 1360 * 1024 * 4, 0, KSDATAFORMAT_TYPE_VIDEO, MEDIASUBTYPE_RGB32,
     KSDATAFORMAT_SPECIFIER_VIDEOINFO},
    true,  // bFixedSizeSamples
    true,  // bTemporalCompression
    0,     // StreamDescriptionFlags
    0,     // MemoryAllocationFlags
    // ConfigCaps
    {
        KSDATAFORMAT_SPECIFIER_VIDEOINFO,
        0,             // VideoStandard
        {1360, 1024},  // InputSize
        {1360, 1024},  // MinCroppingSize
        {1360, 1024},  // MaxCroppingSize
        8,
        1,  // CropGranularityX, CropGranularityY
        8,
        1,             // CropAlignX, CropAlignY
        {1360, 1024},  // MinOutputSize
        {1360, 1024},  // MaxOutputSize
        8,
        1,  // OutputGranularityX, OutputGranularityY
        0,
        0,
        0,
        0,           // StretchTapsX, StretchTapsY, ShrinkTapsX, ShrinkTapsY
        333667,      // MinFrameInterval
        640000000,   // MaxFrameInterval
        1336934400,  // MinBitsPerSecond
        1336934400,  // MaxBitsPerSecond
    },
    // VideoInfoHeader
    {
        {0, 0, 1360, 1024},  // rcSource
        {0, 0, 0, 0},        // rcTarget
        167116800,           // dwBitRate
        0,                   // dwBitErrorRate
        333667,              // AvgTimePerFrame
        {sizeof(KS_BITMAPINFOHEADER), 1360, 1024, 1, 32, KS_BI_RGB, 1360 * 1024 * 4, 0, 0, 0, 0},
    },
};

}  // namespace bayercam
