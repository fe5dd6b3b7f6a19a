// Live video from a camera's capture filter: the pin's RGB32 format agreed, a ring of client
// frames kept queued, each delivered frame handed out and given back.
//
//     bayercam::client::VideoStream stream;
//     stream.Open(filter, {.frames = 8});
//     stream.Start();
//     for (;;) {
//         bayercam::client::Frame* frame;
//         if (!stream.Next(1000, &frame).ok()) break;
//         ... frame->Data(), frame->Header().DataUsed, frame->FrameInfo()->PictureNumber ...
//         stream.Requeue(frame);
//     }
//     stream.Stop();
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bayercam/client.h"
#include "platform/ks/ks_types.h"

namespace bayercam::client {

struct StreamOptions {
    uint32_t frames = 8;         // client frames circulating between the pin and the caller
    bool referenceClock = true;  // false: frames carry time 0 and no picture numbers
    bool rawFrames = false;      // keep the raw camera frame behind each delivered frame
    bool topDown = false;        // ask for the top row first (a negative height)
};

// A raw camera frame, 8 bits per pixel: the first pixel at `offset`, lines `stride` apart.
struct RawImage {
    std::vector<uint8_t> bytes;
    int32_t offset = 0;
    int32_t stride = 0;
};

class VideoStream {
  public:
    VideoStream();
    // Closes the pin.
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // Agrees the format of the filter's capture pin (pin 0) and creates the pin with its frames.
    Status Open(const Filter& filter, const StreamOptions& options = {});
    // Queues every frame the caller does not hold and runs the pin.
    Status Start();
    // The next delivered frame, at most `timeoutMs` from now; STATUS_TIMEOUT when none came.
    // The frame is the caller's until it is given back with Requeue. Frames the pin completes
    // without an image (their raw frame was taken by an earlier pass) are queued again.
    Status Next(uint32_t timeoutMs, Frame** frame);
    Status Requeue(Frame* frame);
    // Moves the pin to pause (the stream keeps its buffers) or back to run.
    Status Pause();
    Status Resume();
    // Returns the pin to stop; frames still queued come back unused.
    Status Stop();
    // Closes the pin (stopping it first).
    Status Close();

    // The agreed connection format.
    const KS_DATAFORMAT_VIDEOINFOHEADER& Format() const { return format_; }
    // The raw frame `frame` was made from; null unless the stream keeps raw frames.
    const RawImage* Raw(const Frame& frame) const;
    Pin& GetPin() { return pin_; }

  private:
    struct RawFrames;
    void CollectReturned();

    Pin pin_;
    KS_DATAFORMAT_VIDEOINFOHEADER format_{};
    std::vector<Frame*> idle_;  // neither queued nor held by the caller
    std::unique_ptr<RawFrames> raw_;
};

}  // namespace bayercam::client
