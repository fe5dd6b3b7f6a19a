// Arbitrary packets on the simulated camera's command endpoint: each input is a run of packets,
// one length byte then that many bytes, sent one after another as the bus would deliver them.
// One camera serves every input, with a blank scene so that a frame costs a copy, not a render.
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "fuzz/fuzz_target.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"

namespace {

struct Waiter {
    std::mutex lock;
    std::condition_variable done;
    bool complete = false;
};

void Completed(bayercam::UsbTransfer* transfer) {
    auto* waiter = static_cast<Waiter*>(transfer->context);
    std::lock_guard<std::mutex> guard(waiter->lock);
    waiter->complete = true;
    waiter->done.notify_all();
}

// Answers each packet in the submitter's thread: a hand-off to the camera's thread and back
// would cost more than the packet.
bayercam::sim::SimCameraOptions AnswerInSubmit() {
    bayercam::sim::SimCameraOptions options;
    options.completeInSubmit = true;
    return options;
}

struct Camera {
    Camera() { camera.SetConfiguration(1); }
    bayercam::sim::SimCamera camera{AnswerInSubmit()};
    bayercam::sim::SimImageStream images{camera,
                                         std::make_unique<bayercam::sim::FileScene>(
                                             std::vector<uint8_t>(bayercam::sim::kFrameBytes)),
                                         0};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam;
    static Camera* shared = new Camera;  // never freed: inputs run until the process ends
    sim::SimCamera& camera = shared->camera;
    size_t offset = 0;
    while (offset < size) {
        size_t declared = data[offset++];
        size_t length = std::min(declared, size - offset);
        // Exactly the packet's size, so that reading past it lands in a sanitizer redzone.
        std::unique_ptr<uint8_t[]> packet(new uint8_t[length]);
        if (length > 0) std::memcpy(packet.get(), data + offset, length);
        offset += length;
        Waiter waiter;
        UsbTransfer transfer{};
        transfer.endpoint = sim::kCommandEndpoint;
        transfer.buffer = packet.get();
        transfer.length = static_cast<uint32_t>(length);
        transfer.complete = &Completed;
        transfer.context = &waiter;
        if (!USBD_SUCCESS(camera.Submit(&transfer))) continue;
        std::unique_lock<std::mutex> guard(waiter.lock);
        waiter.done.wait(guard, [&] { return waiter.complete; });
    }
    // Responses left unread and the command record would pile up; memory an input leaves behind
    // also sends libFuzzer into a leak search after it.
    camera.StartNewRun();
    return 0;
}
