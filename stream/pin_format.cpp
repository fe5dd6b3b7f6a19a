// Format negotiation of the capture pin: the connection format check and the data intersection.
#include <cstdlib>
#include <cstring>

#include "platform/ks/ks_pin.h"
#include "stream/capture_pin.h"

namespace bayercam {
namespace {

constexpr uint32_t kFormatHeaderBytes = sizeof(KSDATAFORMAT);                      // 64
constexpr uint32_t kVideoInfoHeadBytes = offsetof(KS_VIDEOINFOHEADER, bmiHeader);  // 48
constexpr uint32_t kBitmapHeaderBytes = sizeof(KS_BITMAPINFOHEADER);               // 40
constexpr uint32_t kCallerBitmapOffset =
    offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader) + kVideoInfoHeadBytes;  // 256

int64_t Magnitude(int32_t value) {
    return std::llabs(int64_t{value});
}

// The bitmap header of a range or format may sit at any alignment in the caller's buffer.
KS_BITMAPINFOHEADER ReadBitmapHeader(const void* at) {
    KS_BITMAPINFOHEADER header;
    std::memcpy(&header, at, sizeof header);
    return header;
}

}  // namespace

NTSTATUS PinSetDataFormat(KSPIN* pin, KSDATAFORMAT* oldFormat, void*, const KSDATARANGE* dataRange,
                          void*) {
    // At creation the pin's record does not exist yet. A refused change keeps the pitch and the
    // header of the format in force, so that frames keep the layout the client agreed.
    auto* capturePin = oldFormat ? static_cast<CapturePin*>(pin->Context) : nullptr;

    const KSDATAFORMAT* format = pin->ConnectionFormat;
    if (!(format->Specifier == KSDATAFORMAT_SPECIFIER_VIDEOINFO)) return STATUS_NO_MATCH;
    if (format->FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER)) return STATUS_NO_MATCH;
    const auto* video = reinterpret_cast<const KS_DATAFORMAT_VIDEOINFOHEADER*>(format);
    const KS_BITMAPINFOHEADER& bitmap = video->VideoInfoHeader.bmiHeader;
    if (uint64_t{kFormatHeaderBytes} + kVideoInfoHeadBytes + bitmap.biSize > format->FormatSize)
        return STATUS_INVALID_PARAMETER;
    // The pin keeps exactly one 40-byte bitmap header: a larger one would not fit its record, a
    // smaller one leaves the image size unsaid.
    if (bitmap.biSize != kBitmapHeaderBytes) return STATUS_INVALID_PARAMETER;

    const auto* range = reinterpret_cast<const KS_DATARANGE_VIDEO*>(dataRange);
    if (dataRange->FormatSize < sizeof(KS_DATARANGE_VIDEO)) return STATUS_NO_MATCH;
    const KS_BITMAPINFOHEADER& offered = range->VideoInfoHeader.bmiHeader;
    // A region narrower than 8 pixels leaves an output width of 0: no image to offer.
    if (offered.biWidth <= 0) return STATUS_NO_MATCH;
    if (bitmap.biWidth < offered.biWidth) return STATUS_NO_MATCH;
    if (Magnitude(bitmap.biHeight) != Magnitude(offered.biHeight)) return STATUS_NO_MATCH;
    if (bitmap.biCompression != offered.biCompression) return STATUS_NO_MATCH;
    if (uint64_t{bitmap.biSizeImage} <
        uint64_t(bitmap.biWidth) * uint64_t(Magnitude(bitmap.biHeight)) * 4)
        return STATUS_INVALID_PARAMETER;

    if (!oldFormat) return STATUS_SUCCESS;
    if (pin->DeviceState != KSSTATE_STOP) return STATUS_INVALID_DEVICE_STATE;
    capturePin->outputPitch = static_cast<uint32_t>(bitmap.biWidth) * 4;
    std::memcpy(&capturePin->videoInfo, &video->VideoInfoHeader, sizeof capturePin->videoInfo);
    return STATUS_SUCCESS;
}

NTSTATUS PinIntersect(void*, IRP*, void*, const KSDATARANGE* callerDataRange,
                      const KSDATARANGE* descriptorDataRange, uint32_t dataBufferSize, void* data,
                      uint32_t* dataSize) {
    const auto* own = reinterpret_cast<const KS_DATARANGE_VIDEO*>(descriptorDataRange);
    if (!(callerDataRange->Specifier == KSDATAFORMAT_SPECIFIER_VIDEOINFO) ||
        callerDataRange->FormatSize < sizeof(KS_DATARANGE_VIDEO))
        return STATUS_NO_MATCH;
    const auto* caller = reinterpret_cast<const KS_DATARANGE_VIDEO*>(callerDataRange);
    if (caller->bFixedSizeSamples != own->bFixedSizeSamples ||
        caller->bTemporalCompression != own->bTemporalCompression ||
        caller->StreamDescriptionFlags != own->StreamDescriptionFlags ||
        caller->MemoryAllocationFlags != own->MemoryAllocationFlags ||
        std::memcmp(&caller->ConfigCaps, &own->ConfigCaps, sizeof own->ConfigCaps) != 0)
        return STATUS_NO_MATCH;
    // An output width of 0 offers nothing.
    if (own->VideoInfoHeader.bmiHeader.biWidth <= 0) return STATUS_NO_MATCH;

    const auto* callerBytes = reinterpret_cast<const uint8_t*>(callerDataRange);
    KS_BITMAPINFOHEADER bitmap = ReadBitmapHeader(callerBytes + kCallerBitmapOffset);
    if (uint64_t{kCallerBitmapOffset} + bitmap.biSize > callerDataRange->FormatSize)
        return STATUS_INVALID_PARAMETER;
    // The result's image size is written into its bitmap header, which must be there whole.
    if (bitmap.biSize < kBitmapHeaderBytes) return STATUS_INVALID_PARAMETER;

    const uint32_t resultSize = kFormatHeaderBytes + kVideoInfoHeadBytes + bitmap.biSize;
    if (dataBufferSize == 0) {
        *dataSize = resultSize;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (dataBufferSize < resultSize) return STATUS_BUFFER_TOO_SMALL;
    *dataSize = resultSize;

    auto* result = static_cast<uint8_t*>(data);
    KSDATAFORMAT header = own->DataRange;
    header.FormatSize = resultSize;
    std::memcpy(result + kFormatHeaderBytes,
                callerBytes + offsetof(KS_DATARANGE_VIDEO, VideoInfoHeader),
                kVideoInfoHeadBytes + bitmap.biSize);

    // Whole bytes per row, rounded down to 4, times the rows; in 32 bits, always positive.
    // Unsigned steps wrap where the 32-bit arithmetic would.
    auto bits = static_cast<int32_t>(uint32_t{bitmap.biBitCount} * uint32_t(bitmap.biWidth) + 31u);
    int32_t rowBytes = (bits / 8) & ~int32_t{3};
    uint32_t imageSize = uint32_t(rowBytes) * uint32_t(bitmap.biHeight);
    if (static_cast<int32_t>(imageSize) < 0) imageSize = 0u - imageSize;
    bitmap.biSizeImage = imageSize;
    header.SampleSize = imageSize;
    std::memcpy(result, &header, sizeof header);
    std::memcpy(result + kFormatHeaderBytes + kVideoInfoHeadBytes, &bitmap, sizeof bitmap);
    return STATUS_SUCCESS;
}

}  // namespace bayercam
