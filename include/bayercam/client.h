// The client side of the camera's streaming interface: open the capture filter of a device,
// agree a format, create the pin, move it through its states, exchange frames and use the
// filter's properties. Every object closes itself when it goes out of scope.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/kernel/ntstatus.h"
#include "platform/ks/ks.h"
#include "platform/ks/ks_types.h"

namespace bayercam {
struct KSPIN;
}

namespace bayercam::client {

// The outcome of a call: the NT status and, unless it is STATUS_SUCCESS, what was being done.
// Any other code counts as failure, STATUS_TIMEOUT of a wait included.
struct Status {
    NTSTATUS code = STATUS_SUCCESS;
    std::string message;  // "<action>: <status name>", empty on success

    bool ok() const { return code == STATUS_SUCCESS; }
};

// One client frame: a data buffer and its stream header, followed by a frame-info header when
// the frame was made with one. Frames belong to the pin that made them.
class Frame {
  public:
    uint8_t* Data() { return data_.data(); }
    const uint8_t* Data() const { return data_.data(); }
    uint32_t Size() const { return static_cast<uint32_t>(data_.size()); }
    const KSSTREAM_HEADER& Header() const { return block_.header; }
    // Null for a frame made without a frame-info header.
    const KS_FRAME_INFO* FrameInfo() const { return withFrameInfo_ ? &block_.frameInfo : nullptr; }
    // How the frame came back: STATUS_SUCCESS, or STATUS_CANCELLED when the pin stopped first.
    NTSTATUS Completion() const { return completion_; }

    Frame(uint32_t bytes, bool withFrameInfo);
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

  private:
    friend class Pin;
    struct HeaderBlock {
        KSSTREAM_HEADER header;
        KS_FRAME_INFO frameInfo;
    };
    HeaderBlock block_{};
    bool withFrameInfo_;
    bool queued_ = false;
    NTSTATUS completion_ = STATUS_SUCCESS;
    std::vector<uint8_t> data_;
};

class Filter {
  public:
    Filter();
    ~Filter();
    Filter(Filter&&) noexcept;
    Filter& operator=(Filter&&) noexcept;

    // Opens the filter that `descriptor` describes on `device`.
    Status Open(KSDEVICE& device, const KSFILTER_DESCRIPTOR& descriptor);
    // Lets go of the filter; it closes once no pin made from it is open.
    void Close();
    bool IsOpen() const { return handle_ != nullptr; }
    KSFILTER* Object() const;

    uint32_t PinCount() const;
    // The data ranges pin `pinId` offers (empty for an unknown pin).
    std::vector<const KSDATARANGE*> DataRanges(uint32_t pinId) const;
    // Asks pin `pinId` for a format within `callerRange` (its FormatSize bytes); the format's
    // bytes go to `format`.
    Status Intersect(uint32_t pinId, const KSDATARANGE& callerRange,
                     std::vector<uint8_t>* format) const;

    // `property` begins with a KSPROPERTY, whose Set, Id and Flags are filled here.
    Status GetProperty(const GUID& set, uint32_t id, void* property, uint32_t propertyBytes,
                       void* data, uint32_t dataBytes, uint32_t* bytesReturned = nullptr) const;
    Status SetProperty(const GUID& set, uint32_t id, void* property, uint32_t propertyBytes,
                       void* data, uint32_t dataBytes, uint32_t* bytesReturned = nullptr) const;
    // For request records that begin with a KSPROPERTY and serve as property and data buffer.
    template <typename Record>
    Status GetProperty(const GUID& set, uint32_t id, Record* record) const {
        static_assert(sizeof(Record) >= sizeof(KSPROPERTY));
        return GetProperty(set, id, record, sizeof *record, record, sizeof *record);
    }
    template <typename Record>
    Status SetProperty(const GUID& set, uint32_t id, Record* record) const {
        static_assert(sizeof(Record) >= sizeof(KSPROPERTY));
        return SetProperty(set, id, record, sizeof *record, record, sizeof *record);
    }

    struct Handle;

  private:
    friend class Pin;
    Status Property(uint32_t flags, const GUID& set, uint32_t id, void* property,
                    uint32_t propertyBytes, void* data, uint32_t dataBytes,
                    uint32_t* bytesReturned) const;

    std::shared_ptr<Handle> handle_;
};

struct PinOptions {
    bool referenceClock = true;  // false: the pin runs without a clock and frames carry time 0
};

class Pin {
  public:
    Pin();
    ~Pin();
    Pin(Pin&&) noexcept;
    Pin& operator=(Pin&&) noexcept;

    // Creates pin `pinId` of `filter` with the connection format in `format` (`formatBytes`
    // long, e.g. the result of Filter::Intersect).
    Status Create(const Filter& filter, uint32_t pinId, const void* format, uint32_t formatBytes,
                  PinOptions options = {});
    // Walks the pin down to stop (queued frames come back cancelled) and closes it; its frames
    // go with it.
    Status Close();
    bool IsOpen() const { return pin_ != nullptr; }
    KSPIN* Object() const { return pin_; }

    Status SetFormat(const void* format, uint32_t formatBytes);
    // The current connection format, null when closed.
    const KSDATAFORMAT* Format() const;
    Status SetState(KSSTATE state);
    KSSTATE State() const;

    // Makes `count` frames of `bytes` each, owned by the pin; empty when the pin is closed.
    std::vector<Frame*> AllocateFrames(uint32_t count, uint32_t bytes, bool withFrameInfo = true);
    // Hands a frame of this pin to the driver (the pin must not be stopped).
    Status Queue(Frame* frame);
    // Waits at most `timeoutMs` for the next frame to come back; STATUS_TIMEOUT when none did.
    Status WaitFrame(uint32_t timeoutMs, Frame** frame);

  private:
    std::shared_ptr<Filter::Handle> filter_;
    KSPIN* pin_ = nullptr;
    std::vector<std::unique_ptr<Frame>> frames_;
};

}  // namespace bayercam::client
