// The device as the attacker: a camera that answers the driver as the input says (see
// hostile_camera.h) during one phase of a driver life. The first input byte picks the phase by
// its low four bits:
//
//   0       the whole life on a new device: add and start (start-up sequence, settings load),
//           filter, the properties and the stream below, stop and removal
//   1       stop: frames on the shared device, then its filter closed (settings saved) and the
//           device stopped and removed
//   2-8     stream: pin created on the shared device, three frames, pin closed
//   9-15    properties: exposure, gain, clock, register shadow, sensor write, raw command and
//           memory byte set and read through the shared device's filter; the second byte picks
//           which, and whether the camera is initialised again
//
// A camera may leave one transfer unanswered only when the first byte's high four bits are all
// set and the last byte is 0xFF: a silence costs a whole time-out, and were it easy to reach,
// most inputs would spend their time waiting.
//
// The shared device is started once with a camera that behaves and kept while inputs leave it
// usable; a stop, an unplug or a failed start makes the next input start a new one. Each input
// must end with no leak (the pool's live count back to where it was), within its time bound, and
// with each settings file as it was or as one whole save writes it.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "bayercam/client.h"
#include "bayercam/video_stream.h"
#include "core/camera_device.h"
#include "core/device_lifecycle.h"
#include "fuzz/fuzz_target.h"
#include "fuzz/hostile_camera.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_device.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_text.h"
#include "platform/usb_stack/usb_bus.h"
#include "props/control_requests.h"
#include "robustness/device_scenario.h"
#include "stream/capture_descriptors.h"
#include "usb/frame_timeout.h"

namespace {

using namespace bayercam;

// Short enough that an input with a silent frame costs little (the fuzzer keeps such inputs and
// mutates them, so they come back often); long enough for a loaded machine to fill a frame under
// the sanitizers, which with the camera answering in the reader's thread takes a millisecond or
// two. A frame that misses it fails, which costs coverage, never a false finding.
constexpr uint32_t kFrameTimeoutMs = 20;
constexpr uint32_t kFrameWaitMs = 3 * kFrameTimeoutMs;
constexpr int kFrames = 3;
// One unanswered packet (1 s; 20 ms in fuzz builds) or frame, a whole start-up and three frame
// waits fit many times.
constexpr std::chrono::seconds kInputBound{20};

// Aborts the process when an input runs past its bound: a hang is a finding, not a stall. Time the
// whole process stood still (stopped by a signal, a suspended machine) does not count: it looks
// from here like a gap between two of the watchdog's own ticks.
class Watchdog {
  public:
    Watchdog() : thread_([this] { Run(); }) { thread_.detach(); }
    void Arm() {
        std::lock_guard<std::mutex> guard(lock_);
        deadline_ = std::chrono::steady_clock::now() + kInputBound;
        armed_ = true;
        wake_.notify_all();
    }
    void Disarm() {
        std::lock_guard<std::mutex> guard(lock_);
        armed_ = false;
    }

  private:
    static constexpr std::chrono::seconds kTick{1};
    static constexpr std::chrono::seconds kStoodStill{5};

    void Run() {
        std::unique_lock<std::mutex> guard(lock_);
        auto lastTick = std::chrono::steady_clock::now();
        for (;;) {
            wake_.wait_for(guard, kTick);
            const auto now = std::chrono::steady_clock::now();
            if (now - lastTick > kStoodStill) deadline_ += now - lastTick;
            lastTick = now;
            if (armed_ && now >= deadline_) {
                std::fprintf(stderr, "HANG: an input ran past %lld s\n",
                             static_cast<long long>(kInputBound.count()));
                std::abort();
            }
        }
    }
    std::mutex lock_;
    std::condition_variable wake_;
    std::chrono::steady_clock::time_point deadline_;
    bool armed_ = false;
    std::thread thread_;
};

// A camera that answers in the driver's thread where it can: two thread hand-offs per transfer
// would cost more than the rest of an input.
sim::SimCameraOptions AnswerInSubmit() {
    sim::SimCameraOptions options;
    options.completeInSubmit = true;
    return options;
}

// A camera on a bus with the driver added and started over it and the capture filter open.
struct Rig {
    explicit Rig(int64_t liveBefore) : live(liveBefore) {
        DriverEntry(&driver, "fuzz");
        // Nobody reads the bus record here; a long one would only grow from input to input.
        bus.Recorder().SetCapacity(1);
    }

    // Add, start and open the filter; false when any fails.
    bool Start() {
        RegistryRegisterDevice(bus.PhysicalDevice(), "cam0");
        if (!NT_SUCCESS(KsPnpAddDevice(&driver, bus.PhysicalDevice(), &ksDevice))) return false;
        if (!NT_SUCCESS(KsPnpStartDevice(ksDevice))) return false;
        SetFrameTimeoutMs(kFrameTimeoutMs);  // the settings load sets it back
        // The device's own descriptor, whose data range follows the region: a small region then
        // makes small client frames and a cheap conversion.
        if (!filter.Open(*ksDevice, GetCameraDevice(ksDevice)->captureDescriptors->filter).ok())
            return false;
        RoiRequest region{};
        region.width = 64;
        region.height = 32;
        filter.SetProperty(ControlPropertySetId, 44, &region);
        return true;
    }
    // Filter closed (settings saved), device stopped and removed.
    void Stop() {
        filter.Close();
        if (ksDevice) {
            KsPnpStopDevice(ksDevice);
            KsPnpRemoveDevice(ksDevice);
            ksDevice = nullptr;
        }
        RegistryUnregisterDevice(bus.PhysicalDevice());
    }

    const int64_t live;  // before the device was added
    sim::SimCamera camera{AnswerInSubmit()};
    UsbBus bus{camera};
    DRIVER_OBJECT driver{};
    KSDEVICE* ksDevice = nullptr;
    client::Filter filter;
};

ControlRequest Control(int32_t value, int32_t secondValue = 0) {
    ControlRequest request{};
    request.value = value;
    request.secondValue = secondValue;
    return request;
}

// The property requests that reach the camera; `which` picks them bit by bit.
void TouchCamera(const client::Filter& filter, uint8_t which) {
    const GUID& set = ControlPropertySetId;
    ControlRequest request = Control(300);
    if (which & 0x01) filter.SetProperty(set, 2, &request);  // exposure
    filter.GetProperty(set, 2, &request);
    request = Control(700);
    if (which & 0x02) filter.SetProperty(set, 6, &request);  // global gain
    filter.GetProperty(set, 49, &request);                   // clock, read from the camera
    request = Control(1);
    if (which & 0x04) filter.SetProperty(set, 49, &request);
    request = Control(384, 0x35001);
    if (which & 0x08) filter.SetProperty(set, 57, &request);  // sensor register write
    request = Control(384);
    filter.SetProperty(set, 58, &request);  // register shadow
    filter.GetProperty(set, 58, &request);
    RawCommandRequest raw{};
    raw.count = 5;
    if (which & 0x10) filter.SetProperty(set, 59, &raw);  // raw command
    raw.address = 0x1234;
    filter.SetProperty(set, 60, &raw);
    filter.GetProperty(set, 60, &raw);  // memory byte
    request = Control(1);
    // Initialising again runs the whole start-up sequence: only now and then.
    if ((which & 0xE0) == 0xE0) filter.SetProperty(set, 67, &request);
}

void StreamFrames(const client::Filter& filter, const fuzz::HostileCamera& hostile) {
    client::VideoStream stream;
    if (!stream.Open(filter, {.frames = 2}).ok() || !stream.Start().ok()) return;
    for (int i = 0; i < kFrames && !hostile.Unplugged(); ++i) {
        client::Frame* frame = nullptr;
        if (!stream.Next(kFrameWaitMs, &frame).ok()) break;
        stream.Requeue(frame);
    }
    stream.Close();
}

bool HasValue(const std::vector<RegistryValue>& values, const std::string& name) {
    for (const RegistryValue& value : values) {
        if (value.name == name) return true;
    }
    return false;
}

// Each settings file as before the input, or as one whole save writes it: well formed, with
// every value the old file held (a save merges its values into the file).
void CheckSettings(const bayercam::testing::SettingsSnapshot& before,
                   const bayercam::testing::SettingsSnapshot& after) {
    for (const auto& [path, text] : before) {
        if (!after.count(path)) std::abort();
    }
    for (const auto& [path, text] : after) {
        auto old = before.find(path);
        if (old != before.end() && old->second == text) continue;
        const std::vector<RegistryValue> values = ParseRegistryValues(text);
        if (FormatRegistryValues(values) != text) std::abort();
        if (old == before.end()) continue;
        for (const RegistryValue& value : ParseRegistryValues(old->second)) {
            if (!HasValue(values, value.name)) std::abort();
        }
    }
}

struct Process {
    // In memory where there is such a folder: each save syncs its file, which on a disk costs
    // more than the rest of an input.
    bayercam::testing::SettingsFolder settings{
        std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp"};
    Watchdog watchdog;
    std::unique_ptr<Rig> shared;
};

// Never freed: inputs run until the process ends, which removes only the settings folder.
Process& TheProcess() {
    static Process* process = [] {
        auto* made = new Process;
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(TheProcess().settings.root(), error);
        });
        return made;
    }();
    return *process;
}

// The shared rig, started anew with a camera that behaves when there is none; null when the
// start fails (the next input tries again).
Rig* SharedRig(Process& process) {
    if (process.shared) return process.shared.get();
    auto rig = std::make_unique<Rig>(pool::LiveAllocations());
    fuzz::BehaveNormally(rig->camera);
    if (!rig->Start()) {
        rig->Stop();  // a camera that behaves fails to start only when the bus does
        return nullptr;
    }
    process.shared = std::move(rig);
    return process.shared.get();
}

// Stops and removes the rig's device and frees the rig: every block since its start is back.
void EndRig(std::unique_ptr<Rig> rig, fuzz::HostileCamera& hostile) {
    rig->Stop();
    hostile.Detach();  // before its camera goes
    const int64_t live = rig->live;
    rig.reset();
    if (pool::LiveAllocations() != live) std::abort();
}

void WholeLife(fuzz::HostileCamera& hostile, uint8_t which) {
    auto rig = std::make_unique<Rig>(pool::LiveAllocations());
    hostile.Attach(rig->camera);
    if (rig->Start()) {
        TouchCamera(rig->filter, which);
        StreamFrames(rig->filter, hostile);
    }
    EndRig(std::move(rig), hostile);
}

void SharedPhase(Process& process, fuzz::HostileCamera& hostile, uint8_t phase, uint8_t which) {
    Rig* rig = SharedRig(process);
    if (!rig) return;
    const int64_t live = pool::LiveAllocations();
    hostile.Attach(rig->camera);
    if (phase >= 9) {
        TouchCamera(rig->filter, which);
    } else {
        StreamFrames(rig->filter, hostile);
    }
    // A stopped or unplugged device is not shared again.
    if (phase == 1 || hostile.Unplugged()) {
        EndRig(std::move(process.shared), hostile);
        return;
    }
    hostile.Detach();
    SetFrameTimeoutMs(kFrameTimeoutMs);  // an initialisation loads the saved time-out again
    if (pool::LiveAllocations() != live) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    Process& process = TheProcess();
    const uint8_t phase = data[0] % 16;
    const uint8_t which = data[1];
    fuzz::HostileCamera hostile(data + 2, size - 2, data[0] >= 0xF0 && data[size - 1] == 0xFF);
    const bayercam::testing::SettingsSnapshot before = process.settings.Snapshot();
    process.watchdog.Arm();
    if (phase == 0) {
        WholeLife(hostile, which);
    } else {
        SharedPhase(process, hostile, phase, which);
    }
    process.watchdog.Disarm();
    CheckSettings(before, process.settings.Snapshot());
    return 0;
}
