#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "camera/frame_timeout.h"
#include "platform/kernel/pool.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "support/sim_device.h"
#include "usb/frame_read.h"
#include "usb/frame_timeout.h"

namespace bayercam {
namespace {

using sim::kFrameBytes;
using sim::kImageEndpoint;
using testing::SimDevice;

// Long enough that a read which should finish never reaches it.
constexpr uint32_t kGenerousTimeoutMs = 20'000;
// For the reads that are meant to time out: the shortest the driver accepts.
constexpr uint32_t kShortTimeoutMs = 501;

// A frame whose bytes differ between any two offsets a whole number of chunks apart.
std::vector<uint8_t> Pattern() {
    std::vector<uint8_t> frame(kFrameBytes);
    for (uint32_t i = 0; i < kFrameBytes; ++i) frame[i] = static_cast<uint8_t>(i % 251);
    return frame;
}

class FrameReadTest : public testing::LeakCheckedTest<> {
  protected:
    void ReleaseAll() override {
        if (sim_) SetFrameTimeout(device(), kDefaultFrameTimeoutMs);
        Release();
    }
    // The stream goes first: it is attached to the camera.
    void Release() {
        stream_.reset();
        sim_.reset();
    }

    // A started camera that streams Pattern() as fast as it is read.
    SimDevice& Started(sim::SimCameraOptions options = {}) {
        Release();
        sim_ = std::make_unique<SimDevice>(std::move(options));
        sim_->AddAndStart();
        stream_ = std::make_unique<sim::SimImageStream>(
            sim_->camera, std::make_unique<sim::FileScene>(Pattern()), 0.0);
        device()->rawFrameBytes.store(kFrameBytes);
        SetFrameTimeout(device(), kGenerousTimeoutMs);
        sim_->bus.Recorder().Clear();
        return *sim_;
    }
    CameraDevice* device() { return sim_->device(); }

    NTSTATUS Read(uint32_t length = kFrameBytes) {
        buffer_.assign(length, 0xEE);
        return ReadFrameChunked(device(), length, buffer_.data());
    }
    std::vector<BusRecord> ImageTransfers() {
        std::vector<BusRecord> image;
        for (BusRecord& record : sim_->Records(BusRequestKind::BulkOrInterrupt)) {
            if (record.endpoint == kImageEndpoint) image.push_back(std::move(record));
        }
        return image;
    }
    // The bus lets go of a transfer just after the driver's completion routine has run.
    void AwaitBusIdle() {
        while (sim_->bus.PendingTransfers() != 0) std::this_thread::yield();
    }
    // Nothing of a read is left: no table, no descriptor, nothing in flight.
    void ExpectIdle(const char* label) {
        AwaitBusIdle();
        EXPECT_EQ(device()->chunkTable, nullptr) << label;
        EXPECT_EQ(device()->frameMdl, nullptr) << label;
        EXPECT_EQ(sim_->bus.PendingTransfers(), 0) << label;
        EXPECT_EQ(sim_->camera.PendingTransfers(), 0) << label;
    }

    std::unique_ptr<SimDevice> sim_;
    std::unique_ptr<sim::SimImageStream> stream_;
    std::vector<uint8_t> buffer_;
};

TEST_F(FrameReadTest, ChunksCoverTheBufferInOrder) {
    struct Case {
        uint32_t length;
        std::vector<uint32_t> chunks;
    };
    const Case cases[] = {
        {kFrameBytes,
         [] {
             std::vector<uint32_t> standard(21, 65'536);
             standard.push_back(16'384);
             return standard;
         }()},
        {3 * 65'536, {65'536, 65'536, 65'536}},
        {65'537, {65'536, 1}},
        {1, {1}},
    };
    Started();
    const std::vector<uint8_t> frame = Pattern();
    for (const Case& c : cases) {
        sim_->bus.Recorder().Clear();
        ASSERT_EQ(Read(c.length), STATUS_SUCCESS) << c.length;
        std::vector<uint32_t> lengths;
        for (const BusRecord& record : ImageTransfers()) lengths.push_back(record.requestedLength);
        EXPECT_EQ(lengths, c.chunks) << c.length;
        // Every chunk landed at its own offset.
        EXPECT_TRUE(std::equal(buffer_.begin(), buffer_.end(), frame.begin())) << c.length;
        ExpectIdle("after the read");
    }
}

TEST_F(FrameReadTest, WireOrderOfOneRead) {
    Started();
    bool ok = false;
    std::vector<uint8_t> buffer(kFrameBytes);
    EXPECT_TRUE(device()->ops->ReadFrame(device(), buffer.data(), &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(buffer, Pattern());

    // request, start mark, 22 IN transfers queued back to back, end mark
    std::vector<BusRecord> records = sim_->Records(BusRequestKind::BulkOrInterrupt);
    ASSERT_EQ(records.size(), 25u);
    std::vector<uint8_t> mark(64, 0);
    for (size_t i : {0, 1, 24}) {
        mark[0] = i == 24 ? 0x03 : 0x02;
        EXPECT_EQ(records[i].endpoint, sim::kCommandEndpoint) << i;
        EXPECT_EQ(records[i].data, mark) << i;
    }
    for (size_t i = 2; i < 24; ++i) {
        EXPECT_EQ(records[i].endpoint, kImageEndpoint) << i;
        EXPECT_EQ(records[i].actualLength, records[i].requestedLength) << i;
    }
}

TEST_F(FrameReadTest, RefusedBeforeAnyTraffic) {
    struct Case {
        const char* name;
        sim::SimCameraOptions options;
        std::function<void(SimDevice&)> prepare;
        uint32_t length;
        NTSTATUS status;
    };
    sim::SimCameraOptions twoPipes, isochronous;
    twoPipes.interfaces[0].endpoints.pop_back();
    isochronous.interfaces[0].endpoints[2].attributes = sim::kIsochronous;
    const Case cases[] = {
        {"not configured", {}, [](SimDevice& s) { s.Stop(); }, kFrameBytes, STATUS_UNSUCCESSFUL},
        {"two pipes", twoPipes, nullptr, kFrameBytes, STATUS_INVALID_PARAMETER},
        {"isochronous image pipe", isochronous, nullptr, kFrameBytes, STATUS_INVALID_PARAMETER},
        {"null image pipe handle",
         {},
         [](SimDevice& s) { s.device()->usb.interfaceInfo->Pipes[2].PipeHandle = nullptr; },
         kFrameBytes,
         STATUS_UNSUCCESSFUL},
        // Before the capture start fixes the frame size there is nothing to wait for.
        {"no frame size", {}, nullptr, 0, STATUS_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        Started(c.options);
        if (c.prepare) c.prepare(*sim_);
        EXPECT_EQ(Read(c.length), c.status) << c.name;
        EXPECT_TRUE(ImageTransfers().empty()) << c.name;
        EXPECT_EQ(device()->chunkTable, nullptr) << c.name;
    }
}

TEST_F(FrameReadTest, SilentCameraTimesOutAndEveryRequestIsCancelled) {
    Started();
    SetFrameTimeout(device(), kShortTimeoutMs);
    stream_->AddFault({1, sim::SimFrameFaultAction::Silent});
    bool ok = true;
    std::vector<uint8_t> buffer(kFrameBytes);
    EXPECT_FALSE(ReadFrame(device(), buffer.data(), &ok));
    EXPECT_FALSE(ok);
    std::vector<BusRecord> image = ImageTransfers();
    ASSERT_EQ(image.size(), 22u);
    for (const BusRecord& record : image) {
        EXPECT_TRUE(record.completed);
        EXPECT_EQ(record.ntStatus, STATUS_CANCELLED);
    }
    ExpectIdle("after the time-out");

    // The next read starts clean and gets a whole frame.
    SetFrameTimeout(device(), kGenerousTimeoutMs);
    EXPECT_TRUE(ReadFrame(device(), buffer.data(), &ok));
    EXPECT_EQ(buffer, Pattern());
}

// Frames whose requests all complete in time but that do not hold a whole frame are failures,
// not frames with stale bytes of an older one.
TEST_F(FrameReadTest, IncompleteFramesFail) {
    struct Case {
        const char* name;
        std::function<void(SimDevice&, sim::SimImageStream&)> inject;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"chunk 5 completes with an error",
         [](SimDevice& s, sim::SimImageStream&) {
             s.camera.AddFault({kImageEndpoint, 5, sim::SimFaultAction::Error});
         },
         STATUS_UNSUCCESSFUL},
        {"the frame ends 1000 bytes early, on a short packet",
         [](SimDevice&, sim::SimImageStream& stream) {
             stream.AddFault({1, sim::SimFrameFaultAction::Short, kFrameBytes - 1000});
         },
         STATUS_UNSUCCESSFUL},
        {"the frame ends two chunks early, on a packet boundary",
         [](SimDevice&, sim::SimImageStream& stream) {
             stream.AddFault({1, sim::SimFrameFaultAction::Short, kFrameBytes - 16'384 - 65'536});
         },
         STATUS_TIMEOUT},
    };
    for (const Case& c : cases) {
        Started();
        SetFrameTimeout(device(), kShortTimeoutMs);
        c.inject(*sim_, *stream_);
        EXPECT_EQ(Read(), c.status) << c.name;
        ExpectIdle(c.name);
    }
}

TEST_F(FrameReadTest, FailedSubmissionResetsThePipeThenThePort) {
    struct Case {
        const char* name;
        uint32_t failingChunk;
        bool pipeResetFails;
        uint32_t portStatus;
        std::vector<BusRequestKind> recovery;  // after the end mark
    };
    const uint32_t enabled = USBD_PORT_ENABLED | USBD_PORT_CONNECTED;
    const Case cases[] = {
        {"first chunk", 1, false, enabled, {BusRequestKind::ResetPipe}},
        {"fifth chunk", 5, false, enabled, {BusRequestKind::ResetPipe}},
        {"last chunk", 22, false, enabled, {BusRequestKind::ResetPipe}},
        {"pipe reset fails, port enabled",
         5,
         true,
         enabled,
         {BusRequestKind::ResetPipe, BusRequestKind::GetPortStatus}},
        {"pipe reset fails, port disabled",
         5,
         true,
         USBD_PORT_CONNECTED,
         {BusRequestKind::ResetPipe, BusRequestKind::GetPortStatus, BusRequestKind::ResetPort}},
    };
    for (const Case& c : cases) {
        Started();
        sim_->camera.SetPortStatus(c.portStatus);
        sim_->bus.InjectFault({BusRequestKind::BulkOrInterrupt, c.failingChunk,
                               STATUS_DEVICE_NOT_CONNECTED, USBD_STATUS_DEVICE_GONE,
                               kImageEndpoint});
        if (c.pipeResetFails) {
            sim_->bus.InjectFault(
                {BusRequestKind::ResetPipe, 1, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID});
        }
        // The requests that went out complete with the frame; only they are waited for.
        EXPECT_EQ(Read(), STATUS_DEVICE_NOT_CONNECTED) << c.name;
        EXPECT_EQ(ImageTransfers().size(), c.failingChunk) << c.name;

        std::vector<BusRecord> records = sim_->Records();
        auto endMark = std::find_if(records.begin(), records.end(), [](const BusRecord& r) {
            return r.endpoint == sim::kCommandEndpoint && !r.data.empty() && r.data[0] == 0x03;
        });
        ASSERT_NE(endMark, records.end()) << c.name;
        std::vector<BusRequestKind> after;
        for (auto it = endMark + 1; it != records.end(); ++it) after.push_back(it->kind);
        EXPECT_EQ(after, c.recovery) << c.name;
        ExpectIdle(c.name);

        // Whatever the camera still held of that frame does not leak into the next one.
        ASSERT_EQ(Read(), STATUS_SUCCESS) << c.name;
        EXPECT_EQ(buffer_, Pattern()) << c.name;
    }
}

TEST_F(FrameReadTest, EveryFailedAllocationLeavesNothingBehind) {
    Started();
    SetFrameTimeout(device(), kShortTimeoutMs);
    bool ok = false;
    buffer_.assign(kFrameBytes, 0);
    pool::Reset();
    ASSERT_TRUE(ReadFrame(device(), buffer_.data(), &ok));
    const uint64_t allocations = pool::AllocationCount();
    ASSERT_GT(allocations, 22u * 3);
    for (uint64_t nth = 1; nth <= allocations; ++nth) {
        AwaitBusIdle();
        const int64_t live = pool::LiveAllocations();
        pool::Reset();
        pool::FailNth(nth);
        ReadFrame(device(), buffer_.data(), &ok);
        pool::Reset();
        SCOPED_TRACE(nth);
        ExpectIdle("after the failed allocation");
        EXPECT_EQ(pool::LiveAllocations(), live);
        ASSERT_EQ(Read(), STATUS_SUCCESS);
        EXPECT_EQ(buffer_, Pattern());
    }
}

// Starts a read on its own thread and hands back its status when joined.
class ReadInThread {
  public:
    explicit ReadInThread(CameraDevice* device)
        : buffer_(kFrameBytes), thread_([this, device] {
              status_ = ReadFrameChunked(device, kFrameBytes, buffer_.data());
          }) {}
    NTSTATUS Join() {
        thread_.join();
        return status_;
    }

  private:
    std::vector<uint8_t> buffer_;
    NTSTATUS status_ = STATUS_PENDING;
    std::thread thread_;
};

TEST_F(FrameReadTest, CancelFromAnotherThreadEndsAWaitingRead) {
    Started();
    stream_->AddFault({1, sim::SimFrameFaultAction::Silent});
    ReadInThread read(device());
    // Waiting: every chunk request is with the camera and the end mark has gone out.
    auto endMarkSent = [this] {
        std::vector<std::vector<uint8_t>> commands = sim_->camera.ReceivedCommands();
        return !commands.empty() && commands.back()[0] == 0x03;
    };
    while (sim_->camera.PendingTransfers() < 22 || !endMarkSent()) std::this_thread::yield();
    device()->ops->CancelFrameRead(device());
    // With a 20 s time-out, only the cancel can end the read this way.
    EXPECT_EQ(read.Join(), STATUS_CANCELLED);
    for (const BusRecord& record : ImageTransfers()) EXPECT_EQ(record.ntStatus, STATUS_CANCELLED);
    ExpectIdle("after the cancel");
    // Nothing to cancel now: returns at once.
    device()->ops->CancelFrameRead(device());
}

TEST_F(FrameReadTest, CancelBeforeTheRequestsAreQueuedStopsTheRead) {
    Started();
    // The cancel arrives while the camera takes the start mark, after the read was prepared.
    std::thread canceller;
    CameraDevice* camera = device();
    sim_->camera.SetCommandHandler([&](sim::SimCamera&, const uint8_t* packet, uint32_t) {
        if (packet[0] != 0x02 || canceller.joinable()) return;
        canceller = std::thread([camera] { CancelChunkRequests(camera); });
        while (!camera->frameReadCancelled.load()) std::this_thread::yield();
    });
    EXPECT_EQ(Read(), STATUS_CANCELLED);
    canceller.join();
    EXPECT_TRUE(ImageTransfers().empty());
    ExpectIdle("after the cancel");
}

// A cancel racing the read's own release: the sanitizers watch for use after free.
TEST_F(FrameReadTest, CancelRacingReadsIsSafe) {
    Started();
    std::atomic<bool> done{false};
    std::thread canceller([&] {
        while (!done) device()->ops->CancelFrameRead(device());
    });
    for (int i = 0; i < 40; ++i) {
        NTSTATUS status = Read();
        EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << NtStatusName(status);
        if (status == STATUS_SUCCESS) {
            EXPECT_EQ(buffer_, Pattern());
        }
    }
    done = true;
    canceller.join();
    ExpectIdle("after the race");
}

}  // namespace
}  // namespace bayercam
