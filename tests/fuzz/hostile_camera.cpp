#include "fuzz/hostile_camera.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "simcam/command_dispatcher.h"

namespace bayercam::fuzz {
namespace {

constexpr uint32_t kPacket = 64;
constexpr uint8_t kFrameRequest = 0x02;
constexpr uint8_t kSilentChunk = 0xFF;
constexpr uint8_t kSilentTransfer = 0xFF;  // the fault byte that leaves a transfer unanswered
// Chunks of the first three frame reads: failed frames make the capture thread back off, so
// more would cost time without reaching new code.
constexpr size_t kAttackedChunks = 3 * 22;

// Response packets the driver reads after a command: two for the logic register and memory
// reads, none for the others.
uint32_t AnswersOwed(const uint8_t* packet, uint32_t length) {
    return length > 0 && (packet[0] == 0x26 || packet[0] == 0x41) ? 2 : 0;
}

// Reads bytes from the front; past the end every byte is 0.
class ByteStream {
  public:
    ByteStream() = default;
    ByteStream(const uint8_t* data, size_t size) : data_(data, data + size) {}
    uint8_t Byte() { return offset_ < data_.size() ? data_[offset_++] : 0; }
    uint32_t Take(size_t bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) value |= uint32_t{Byte()} << (8 * i);
        return value;
    }
    bool Done() const { return offset_ >= data_.size(); }
    size_t Left() const { return data_.size() - std::min(offset_, data_.size()); }
    const uint8_t* Here() const { return data_.data() + std::min(offset_, data_.size()); }

  private:
    std::vector<uint8_t> data_;
    size_t offset_ = 0;
};

const uint8_t kEndpoints[] = {sim::kCommandEndpoint, sim::kResponseEndpoint, sim::kImageEndpoint};

// A fault from its four input bytes.
sim::SimFault DecodeFault(const uint8_t bytes[4], bool* silent) {
    sim::SimFault fault{kEndpoints[bytes[0] % 3], uint32_t{bytes[1]} + 1u,
                        sim::SimFaultAction::Stall};
    *silent = bytes[0] == kSilentTransfer;
    if (*silent) {
        fault.action = sim::SimFaultAction::NoAnswer;
        return fault;
    }
    const USBD_STATUS statuses[] = {USBD_STATUS_CANCELED, USBD_STATUS_DEVICE_GONE,
                                    USBD_STATUS_BABBLE_DETECTED, USBD_STATUS_ERROR_BUSY};
    switch ((bytes[0] >> 2) % 6) {
        case 0:
            fault.action = sim::SimFaultAction::Stall;
            break;
        case 1:
            fault.action = sim::SimFaultAction::Error;
            break;
        case 2:
            fault.action = sim::SimFaultAction::Short;
            fault.shortLength = bytes[2] % (kPacket + 1);  // zero-length included
            break;
        case 3:
            fault.action = sim::SimFaultAction::Short;
            fault.shortLength = uint32_t{bytes[2]} << 8 | bytes[3];  // for image chunks
            break;
        case 4:
            fault.action = sim::SimFaultAction::Long;
            fault.overrun = uint32_t{bytes[2]} + 1u;
            break;
        default:
            fault.action = sim::SimFaultAction::Status;
            fault.status = statuses[bytes[3] % 4];
    }
    return fault;
}

}  // namespace

struct HostileCamera::Script {
    std::mutex lock;  // the hooks run on the camera's thread, Unplugged on the caller's
    std::vector<sim::SimFault> faults;
    uint32_t unplugAt = 0;
    ByteStream responses;
    ByteStream image;
    uint32_t commands = 0;
    uint32_t owed = 0;    // response packets the driver will read, by the commands so far
    uint32_t queued = 0;  // response packets queued so far
    bool unplugged = false;
    bool silenceUsed = false;    // the one unanswered transfer of the input
    bool imageSilent = false;    // until the next frame request
    uint32_t chunksOfFrame = 0;  // answered since the last frame request
    FramePacer pacer;

    void OnCommand(sim::SimCamera& camera, const uint8_t* packet, uint32_t length);
    void OnImageControl(const uint8_t* packet, uint32_t length);
    bool OnChunk(uint8_t* buffer, uint32_t length, uint32_t* produced);
};

void HostileCamera::Script::OnCommand(sim::SimCamera& camera, const uint8_t* packet,
                                      uint32_t length) {
    std::unique_lock<std::mutex> guard(lock);
    if (unplugAt != 0 && ++commands == unplugAt) {
        unplugged = true;
        guard.unlock();
        camera.Unplug();
        return;
    }
    const uint8_t control = responses.Byte();
    owed += AnswersOwed(packet, length);
    if (control == 0) {
        queued += AnswersOwed(packet, length);
        guard.unlock();
        sim::DispatchCommand(camera, packet, length);
        return;
    }
    std::vector<std::vector<uint8_t>> answers;
    for (int i = 0; i < (control & 3); ++i) {
        const uint8_t declared = responses.Byte();
        std::vector<uint8_t> answer(declared >= 0xC0 ? kPacket : declared % 97u);
        for (uint8_t& byte : answer) byte = responses.Byte();
        const size_t echoed = std::min<size_t>({answer.size(), length, 6});
        if (i == 0 && (control & 4) && echoed > 0) std::memcpy(answer.data(), packet, echoed);
        answers.push_back(std::move(answer));
    }
    queued += static_cast<uint32_t>(answers.size());
    // A read with nothing to read waits for its whole time-out: that is the input's one silence;
    // after it the camera sends empty packets instead.
    if (queued < owed && !silenceUsed) {
        silenceUsed = true;
        owed = queued;
    }
    for (; queued < owed; ++queued) answers.emplace_back();
    guard.unlock();
    for (const auto& answer : answers) {
        camera.QueueResponse(answer.data(), static_cast<uint32_t>(answer.size()));
    }
}

void HostileCamera::Script::OnImageControl(const uint8_t* packet, uint32_t length) {
    std::unique_lock<std::mutex> guard(lock);
    if (length == 0 || packet[0] != kFrameRequest) return;
    imageSilent = false;
    chunksOfFrame = 0;
    guard.unlock();
    pacer.Wait();
}

bool HostileCamera::Script::OnChunk(uint8_t* buffer, uint32_t length, uint32_t* produced) {
    std::lock_guard<std::mutex> guard(lock);
    if (imageSilent) return false;
    const uint8_t b = image.Byte();
    if (b == kSilentChunk && !silenceUsed) {
        silenceUsed = imageSilent = true;
        return false;
    }
    const uint32_t filled = b < 0x80 ? length : uint32_t(uint64_t{length} * (b & 0x7F) / 127);
    // Only a frame's first chunk gets the input's bytes: it holds the small region the pipeline
    // converts, and the other chunks' bytes reach no code. Writing whole frames, page by page into
    // buffers fresh from the allocator, took a fifth of the run time.
    if (chunksOfFrame++ == 0) std::memset(buffer, b, filled);
    *produced = filled;
    return true;
}

HostileCamera::HostileCamera(const uint8_t* data, size_t size, bool mayGoSilent)
    : script_(std::make_shared<Script>()) {
    script_->silenceUsed = !mayGoSilent;
    ByteStream input(data, size);
    const uint8_t split = input.Byte();
    const int faults = input.Byte() % 8;
    for (int i = 0; i < faults; ++i) {
        uint8_t bytes[4];
        for (uint8_t& byte : bytes) byte = input.Byte();
        bool silent = false;
        sim::SimFault fault = DecodeFault(bytes, &silent);
        if (silent) {
            // Further silent transfers would only add time-outs, not new paths.
            if (script_->silenceUsed) continue;
            script_->silenceUsed = true;
        }
        script_->faults.push_back(fault);
    }
    script_->unplugAt = input.Take(2);
    const size_t responseBytes = input.Left() * split / 255;
    script_->responses = ByteStream(input.Here(), responseBytes);
    script_->image = ByteStream(input.Here() + responseBytes,
                                std::min(input.Left() - responseBytes, kAttackedChunks));
}

HostileCamera::~HostileCamera() {
    Detach();
}

void HostileCamera::Attach(sim::SimCamera& camera) {
    camera_ = &camera;
    camera.StartNewRun();
    // Unless the input keeps its one silence for a response, a read the camera has no answer for
    // gets an empty one: each left-out answer would otherwise cost a whole packet time-out.
    camera.SetAnswerEmptyReads(script_->silenceUsed);
    for (const sim::SimFault& fault : script_->faults) camera.AddFault(fault);
    std::shared_ptr<Script> script = script_;
    camera.SetImageControl([script](sim::SimCamera&, const uint8_t* packet, uint32_t length) {
        script->OnImageControl(packet, length);
    });
    camera.SetCommandHandler(
        [script](sim::SimCamera& device, const uint8_t* packet, uint32_t length) {
            script->OnCommand(device, packet, length);
        });
    camera.SetImageSource([script](uint8_t* buffer, uint32_t length, uint32_t* produced) {
        return script->OnChunk(buffer, length, produced);
    });
}

void HostileCamera::Detach() {
    if (!camera_) return;
    BehaveNormally(*camera_);
    camera_ = nullptr;
}

bool HostileCamera::Unplugged() const {
    std::lock_guard<std::mutex> guard(script_->lock);
    return script_->unplugged;
}

}  // namespace bayercam::fuzz
