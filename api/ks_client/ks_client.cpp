#include <algorithm>
#include <cstdio>
#include <utility>

#include "bayercam/client.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_intersection.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_property.h"
#include "platform/ks/ks_stream_pointer.h"

namespace bayercam::client {
namespace {

Status Result(NTSTATUS code, const std::string& action) {
    if (code == STATUS_SUCCESS) return {};
    return {code, action + ": " + NtStatusName(code)};
}

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.Data1,
                  guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

const char* StateName(KSSTATE state) {
    switch (state) {
        case KSSTATE_STOP:
            return "stop";
        case KSSTATE_ACQUIRE:
            return "acquire";
        case KSSTATE_PAUSE:
            return "pause";
        case KSSTATE_RUN:
            return "run";
    }
    return "an unknown state";
}

const Status kFilterClosed{STATUS_INVALID_DEVICE_STATE, "the filter is not open"};
const Status kPinClosed{STATUS_INVALID_DEVICE_STATE, "the pin is not open"};

}  // namespace

// Pins hold the filter's handle, so the filter closes only after the last of them.
struct Filter::Handle {
    KSFILTER* filter;
    ~Handle() { KsCloseFilter(filter); }
};

Frame::Frame(uint32_t bytes, bool withFrameInfo) : withFrameInfo_(withFrameInfo), data_(bytes) {}

Filter::Filter() = default;
Filter::~Filter() = default;
Filter::Filter(Filter&&) noexcept = default;
Filter& Filter::operator=(Filter&&) noexcept = default;

Status Filter::Open(KSDEVICE& device, const KSFILTER_DESCRIPTOR& descriptor) {
    Close();
    KSFILTER* filter = nullptr;
    NTSTATUS status = KsCreateFilter(&device, &descriptor, &filter);
    if (NT_SUCCESS(status)) handle_ = std::shared_ptr<Handle>(new Handle{filter});
    return Result(status, "open filter");
}

void Filter::Close() {
    handle_.reset();
}

KSFILTER* Filter::Object() const {
    return handle_ ? handle_->filter : nullptr;
}

uint32_t Filter::PinCount() const {
    return handle_ ? handle_->filter->Descriptor->PinDescriptorsCount : 0;
}

std::vector<const KSDATARANGE*> Filter::DataRanges(uint32_t pinId) const {
    const KSPIN_DESCRIPTOR_EX* descriptor =
        handle_ ? KsFilterPinDescriptor(handle_->filter->Descriptor, pinId) : nullptr;
    if (!descriptor || !descriptor->PinDescriptor.DataRanges) return {};
    const KSPIN_DESCRIPTOR& pin = descriptor->PinDescriptor;
    return {pin.DataRanges, pin.DataRanges + pin.DataRangesCount};
}

Status Filter::Intersect(uint32_t pinId, const KSDATARANGE& callerRange,
                         std::vector<uint8_t>* format) const {
    format->clear();
    if (!handle_) return kFilterClosed;
    std::string action = "intersect with pin " + std::to_string(pinId);
    uint32_t size = 0;
    NTSTATUS status = KsPinDataIntersection(handle_->filter, pinId, &callerRange,
                                            callerRange.FormatSize, nullptr, 0, &size);
    if (status != STATUS_BUFFER_OVERFLOW) {
        // Anything but a size answer to a size query is a failure, success included.
        return Result(NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status, action);
    }
    format->resize(size);
    status = KsPinDataIntersection(handle_->filter, pinId, &callerRange, callerRange.FormatSize,
                                   format->data(), size, &size);
    format->resize(NT_SUCCESS(status) ? std::min<size_t>(size, format->size()) : 0);
    return Result(status, action);
}

Status Filter::Property(uint32_t flags, const GUID& set, uint32_t id, void* property,
                        uint32_t propertyBytes, void* data, uint32_t dataBytes,
                        uint32_t* bytesReturned) const {
    uint32_t returned = 0;
    if (bytesReturned) *bytesReturned = 0;
    if (!handle_) return kFilterClosed;
    std::string action = std::string(flags == KSPROPERTY_TYPE_GET ? "get" : "set") + " property " +
                         GuidText(set) + " " + std::to_string(id);
    if (!property || propertyBytes < sizeof(KSPROPERTY))
        return Result(STATUS_BUFFER_TOO_SMALL, action);
    auto* request = static_cast<KSPROPERTY*>(property);
    request->Set = set;
    request->Id = id;
    request->Flags = flags;
    NTSTATUS status =
        KsFilterProperty(handle_->filter, property, propertyBytes, data, dataBytes, &returned);
    if (bytesReturned) *bytesReturned = returned;
    return Result(status, action);
}

Status Filter::GetProperty(const GUID& set, uint32_t id, void* property, uint32_t propertyBytes,
                           void* data, uint32_t dataBytes, uint32_t* bytesReturned) const {
    return Property(KSPROPERTY_TYPE_GET, set, id, property, propertyBytes, data, dataBytes,
                    bytesReturned);
}

Status Filter::SetProperty(const GUID& set, uint32_t id, void* property, uint32_t propertyBytes,
                           void* data, uint32_t dataBytes, uint32_t* bytesReturned) const {
    return Property(KSPROPERTY_TYPE_SET, set, id, property, propertyBytes, data, dataBytes,
                    bytesReturned);
}

Pin::Pin() = default;
Pin::~Pin() {
    Close();
}
Pin::Pin(Pin&& other) noexcept
    : filter_(std::move(other.filter_)),
      pin_(std::exchange(other.pin_, nullptr)),
      frames_(std::move(other.frames_)) {}
Pin& Pin::operator=(Pin&& other) noexcept {
    if (this != &other) {
        Close();
        filter_ = std::move(other.filter_);
        pin_ = std::exchange(other.pin_, nullptr);
        frames_ = std::move(other.frames_);
    }
    return *this;
}

Status Pin::Create(const Filter& filter, uint32_t pinId, const void* format, uint32_t formatBytes,
                   PinOptions options) {
    Close();
    if (!filter.handle_) return kFilterClosed;
    NTSTATUS status =
        KsCreatePin(filter.handle_->filter, pinId, static_cast<const KSDATAFORMAT*>(format),
                    formatBytes, options.referenceClock, &pin_);
    if (NT_SUCCESS(status)) filter_ = filter.handle_;
    return Result(status, "create pin " + std::to_string(pinId));
}

Status Pin::Close() {
    if (!pin_) return {};
    NTSTATUS status = KsClosePin(std::exchange(pin_, nullptr));
    frames_.clear();
    filter_.reset();
    return Result(status, "close pin");
}

Status Pin::SetFormat(const void* format, uint32_t formatBytes) {
    if (!pin_) return kPinClosed;
    return Result(KsPinChangeFormat(pin_, static_cast<const KSDATAFORMAT*>(format), formatBytes),
                  "change the pin's format");
}

const KSDATAFORMAT* Pin::Format() const {
    return pin_ ? pin_->ConnectionFormat : nullptr;
}

Status Pin::SetState(KSSTATE state) {
    if (!pin_) return kPinClosed;
    return Result(KsPinChangeState(pin_, state),
                  std::string("move the pin to ") + StateName(state));
}

KSSTATE Pin::State() const {
    return pin_ ? pin_->DeviceState : KSSTATE_STOP;
}

std::vector<Frame*> Pin::AllocateFrames(uint32_t count, uint32_t bytes, bool withFrameInfo) {
    std::vector<Frame*> made;
    if (!pin_) return made;
    for (uint32_t i = 0; i < count; ++i) {
        frames_.push_back(std::make_unique<Frame>(bytes, withFrameInfo));
        made.push_back(frames_.back().get());
    }
    return made;
}

Status Pin::Queue(Frame* frame) {
    if (!pin_) return kPinClosed;
    bool mine = std::any_of(frames_.begin(), frames_.end(),
                            [&](const auto& owned) { return owned.get() == frame; });
    if (!mine || frame->queued_) return Result(STATUS_INVALID_PARAMETER, "queue a frame");
    frame->block_ = {};
    KSSTREAM_HEADER& header = frame->block_.header;
    header.Size = frame->withFrameInfo_ ? sizeof(Frame::HeaderBlock) : sizeof(KSSTREAM_HEADER);
    header.Data = frame->Data();
    header.FrameExtent = frame->Size();
    NTSTATUS status = KsPinQueueFrame(pin_, &header);
    if (status == STATUS_PENDING) {
        frame->queued_ = true;
        return {};
    }
    return Result(status, "queue a frame");
}

Status Pin::WaitFrame(uint32_t timeoutMs, Frame** frame) {
    *frame = nullptr;
    if (!pin_) return kPinClosed;
    KSSTREAM_HEADER* header = nullptr;
    NTSTATUS frameStatus = STATUS_SUCCESS;
    NTSTATUS status = KsPinWaitFrame(pin_, timeoutMs, &header, &frameStatus);
    if (status != STATUS_SUCCESS) return Result(status, "wait for a frame");
    for (auto& owned : frames_) {
        if (&owned->block_.header != header) continue;
        owned->queued_ = false;
        owned->completion_ = frameStatus;
        *frame = owned.get();
    }
    return {};
}

}  // namespace bayercam::client
