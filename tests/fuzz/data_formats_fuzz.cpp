// Data ranges and formats as a client sends them to the capture pin: an intersection with the
// input as the caller's range (a size query, then the answer into a buffer of the size asked for
// or smaller), a pin created with the input as its format, a format change to the rest of the
// input and, for a quarter of the inputs, a frame streamed with that format. Every buffer has its
// exact size.
//
// Input: flags byte, split byte, then the bytes; the first split*len/255 bytes are the range and
// creation format, the rest the changed format.
#include <cstring>
#include <memory>

#include "fuzz/fuzz_camera.h"
#include "fuzz/fuzz_target.h"
#include "platform/ks/ks_intersection.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_stream_pointer.h"

namespace {

using bayercam::KSDATAFORMAT;

constexpr uint32_t kStreamedFrameLimit = 1 << 18;

std::unique_ptr<uint8_t[]> Exact(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return copy;
}

const KSDATAFORMAT* AsFormat(const std::unique_ptr<uint8_t[]>& bytes) {
    return reinterpret_cast<const KSDATAFORMAT*>(bytes.get());
}

void Exercise(bayercam::fuzz::FuzzCamera& camera, const uint8_t* data, size_t size) {
    using namespace bayercam;
    const uint8_t flags = data[0];
    const size_t bytes = size - 2;
    const size_t firstBytes = bytes * data[1] / 255;
    auto first = Exact(data + 2, firstBytes);
    auto second = Exact(data + 2 + firstBytes, bytes - firstBytes);
    // Mostly the capture pin; now and then an id the filter does not have.
    const uint32_t pinId = (flags & 0x80) ? (flags & 3) : 0;

    uint32_t answer = 0;
    NTSTATUS status = KsPinDataIntersection(camera.filter, pinId, AsFormat(first),
                                            static_cast<uint32_t>(firstBytes), nullptr, 0, &answer);
    if (status == STATUS_BUFFER_OVERFLOW && answer <= 1 << 16) {
        const uint32_t given = (flags & 0x40) ? answer / 2 : answer;
        std::unique_ptr<uint8_t[]> format(new uint8_t[given]);
        KsPinDataIntersection(camera.filter, pinId, AsFormat(first),
                              static_cast<uint32_t>(firstBytes), format.get(), given, &answer);
    }

    KSPIN* pin = nullptr;
    if (!NT_SUCCESS(KsCreatePin(camera.filter, pinId, AsFormat(first),
                                static_cast<uint32_t>(firstBytes), (flags & 0x10) != 0, &pin)))
        return;
    KsPinChangeFormat(pin, AsFormat(second), static_cast<uint32_t>(bytes - firstBytes));
    // A queued frame is the pin's until it completes it, which for a frame not delivered in time is
    // when the pin closes: its buffer and header outlive the pin.
    std::unique_ptr<uint8_t[]> frame;
    KSSTREAM_HEADER header{};
    // A quarter of the inputs, and frames of at most 256 KiB: a streamed frame costs several times
    // the rest of an input (its buffers are fresh pages every time), a whole-sensor frame's
    // conversion under the sanitizers a hundred times, and hostile_device streams three frames an
    // input. The campaign's corpus drifted to large frames until it ran 400 inputs a second.
    if ((flags & 0x24) == 0x24 && pin->ConnectionFormat->SampleSize <= kStreamedFrameLimit) {
        // One frame of the size the format names, or a smaller one.
        uint32_t frameBytes = pin->ConnectionFormat->SampleSize;
        if (flags & 0x08) frameBytes /= 3;
        frame.reset(new uint8_t[frameBytes]);
        header.Size = sizeof header;
        header.Data = frame.get();
        header.FrameExtent = frameBytes;
        if (NT_SUCCESS(KsPinChangeState(pin, KSSTATE_PAUSE)) &&
            KsPinQueueFrame(pin, &header) == STATUS_PENDING &&
            NT_SUCCESS(KsPinChangeState(pin, KSSTATE_RUN))) {
            KSSTREAM_HEADER* done = nullptr;
            NTSTATUS frameStatus = STATUS_SUCCESS;
            KsPinWaitFrame(pin, 5000, &done, &frameStatus);
        }
    }
    KsClosePin(pin);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    bayercam::fuzz::FuzzCamera& camera = bayercam::fuzz::TheCamera();
    Exercise(camera, data, size);
    bayercam::fuzz::FinishInput(camera);
    return 0;
}
