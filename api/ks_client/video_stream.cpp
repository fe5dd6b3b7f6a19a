#include "bayercam/video_stream.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "stream/capture_pin.h"

namespace bayercam::client {

// The raw frame of each client frame, kept by the pin's processing before the frame completes.
// The map is made with the frames and not changed after, so the processing and the caller share
// it without a lock: a frame's entry is written before the frame completes and read after.
struct VideoStream::RawFrames {
    std::unordered_map<const KSSTREAM_HEADER*, RawImage> images;

    static void Deliver(void* context, const KSSTREAM_HEADER* frame, const RawFrameView& raw) {
        auto* self = static_cast<RawFrames*>(context);
        auto found = self->images.find(frame);
        if (found == self->images.end()) return;
        RawImage& image = found->second;
        image.bytes.assign(raw.data, raw.data + raw.bytes);
        image.offset = raw.offset;
        image.stride = raw.stride;
    }
};

VideoStream::VideoStream() = default;

VideoStream::~VideoStream() {
    Close();
}

Status VideoStream::Open(const Filter& filter, const StreamOptions& options) {
    Close();
    std::vector<const KSDATARANGE*> ranges = filter.DataRanges(0);
    if (ranges.empty()) return {STATUS_NOT_FOUND, "the filter has no capture pin"};
    std::vector<uint8_t> format;
    Status status = filter.Intersect(0, *ranges.front(), &format);
    if (!status.ok()) return status;
    if (format.size() < sizeof format_)
        return {STATUS_INVALID_PARAMETER, "the pin offered a format without a video header"};
    if (options.topDown) {
        KS_BITMAPINFOHEADER& bitmap =
            reinterpret_cast<KS_DATAFORMAT_VIDEOINFOHEADER*>(format.data())
                ->VideoInfoHeader.bmiHeader;
        bitmap.biHeight = -std::abs(bitmap.biHeight);
    }
    std::memcpy(&format_, format.data(), sizeof format_);

    status = pin_.Create(filter, 0, format.data(), static_cast<uint32_t>(format.size()),
                         {options.referenceClock});
    if (!status.ok()) return status;
    idle_ = pin_.AllocateFrames(options.frames, format_.VideoInfoHeader.bmiHeader.biSizeImage);
    if (!options.rawFrames) return {};

    raw_ = std::make_unique<RawFrames>();
    for (Frame* frame : idle_) raw_->images[&frame->Header()];
    NTSTATUS tap = SetRawFrameTap(pin_.Object(), &RawFrames::Deliver, raw_.get());
    if (tap != STATUS_SUCCESS) {
        Close();
        return {tap, std::string("keep the raw frames: ") + NtStatusName(tap)};
    }
    return {};
}

Status VideoStream::Start() {
    Status status = pin_.SetState(KSSTATE_PAUSE);
    if (!status.ok()) return status;
    std::vector<Frame*> frames;
    frames.swap(idle_);
    for (Frame* frame : frames) {
        status = Requeue(frame);
        if (!status.ok()) return status;
    }
    return pin_.SetState(KSSTATE_RUN);
}

Status VideoStream::Next(uint32_t timeoutMs, Frame** frame) {
    for (;;) {
        Status status = pin_.WaitFrame(timeoutMs, frame);
        if (!status.ok()) return status;
        if (!*frame) return {STATUS_UNSUCCESSFUL, "wait for a frame: a frame of another pin"};
        if ((*frame)->Completion() != STATUS_SUCCESS) {
            idle_.push_back(*frame);  // given back unused by a stop
            continue;
        }
        if ((*frame)->Header().DataUsed != 0) return status;
        status = Requeue(*frame);
        if (!status.ok()) return status;
    }
}

Status VideoStream::Requeue(Frame* frame) {
    Status status = pin_.Queue(frame);
    if (!status.ok()) idle_.push_back(frame);
    return status;
}

Status VideoStream::Pause() {
    return pin_.SetState(KSSTATE_PAUSE);
}

Status VideoStream::Resume() {
    return pin_.SetState(KSSTATE_RUN);
}

Status VideoStream::Stop() {
    Status status = pin_.SetState(KSSTATE_STOP);
    CollectReturned();
    return status;
}

void VideoStream::CollectReturned() {
    Frame* frame = nullptr;
    while (pin_.WaitFrame(0, &frame).ok() && frame) idle_.push_back(frame);
}

Status VideoStream::Close() {
    Status status = pin_.Close();
    idle_.clear();
    raw_.reset();
    return status;
}

const RawImage* VideoStream::Raw(const Frame& frame) const {
    if (!raw_) return nullptr;
    auto found = raw_->images.find(&frame.Header());
    return found == raw_->images.end() ? nullptr : &found->second;
}

}  // namespace bayercam::client
