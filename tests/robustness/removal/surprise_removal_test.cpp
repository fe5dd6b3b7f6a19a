// The cable pulled at every step of a camera's life: during start, in the middle of register
// traffic, during a frame read and during stop. Nothing may hang, every pending request must
// complete with an error, and everything must be freed once the device is removed.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "bayercam/client.h"
#include "bayercam/video_stream.h"
#include "platform/kernel/pool.h"
#include "props/control_requests.h"
#include "robustness/bounded_run.h"
#include "robustness/device_scenario.h"
#include "simcam/image_stream.h"
#include "simcam/scene.h"
#include "stream/capture_filter.h"
#include "support/leak_check.h"
#include "usb/frame_read.h"
#include "usb/frame_timeout.h"

namespace bayercam::testing {
namespace {

class SurpriseRemovalTest : public LeakCheckedTest<> {
  protected:
    SettingsFolder folder_;
};

// Arms an unplug at the moment the n-th request reaches the bus.
std::function<void(SimDevice&)> UnplugAtRequest(uint64_t n, std::atomic<uint64_t>* seen) {
    return [n, seen](SimDevice& sim) {
        sim.bus.Recorder().SetSink([n, seen, &sim](const BusRecord& record) {
            if (record.completed) return;
            if (seen->fetch_add(1) + 1 == n) sim.camera.Unplug();
        });
    };
}

TEST_F(SurpriseRemovalTest, UnplugAtEveryRequest) {
    std::atomic<uint64_t> requests{0};
    ScenarioOutcome clean;
    RunBounded("counting run", [&] {
        ScenarioOptions options;
        options.direct = true;
        options.arm = UnplugAtRequest(0, &requests);
        clean = RunScenario(options);
    });
    ASSERT_EQ(clean.framesGood, 2);
    uint64_t total = requests.load();
    ASSERT_GT(total, 0u);
    for (uint64_t n = 1; n <= total; ++n) {
        std::atomic<uint64_t> seen{0};
        ScenarioOutcome outcome;
        RunBounded("unplug at request " + std::to_string(n), [&] {
            ScenarioOptions options;
            options.direct = true;
            options.arm = UnplugAtRequest(n, &seen);
            outcome = RunScenario(options);
        });
        // Once the camera is gone no frame can be good.
        EXPECT_EQ(outcome.framesGood + outcome.framesFailed,
                  NT_SUCCESS(outcome.startStatus) ? 2 : 0);
        pool::Reset();
        ASSERT_EQ(pool::LiveAllocations(), live_) << "unplug at request " << n;
    }
    std::printf("[ figures ] unplug runs: %llu\n", static_cast<unsigned long long>(total));
}

// A reader waiting for a frame that never comes is woken by the unplug with a failed read, and
// every one of its requests has completed with an error.
TEST_F(SurpriseRemovalTest, WaitingReaderIsWokenByUnplug) {
    RunBounded("waiting reader", [&] {
        SimDevice sim;
        sim.AddAndStart();
        std::string error;
        sim::SimImageStream images(sim.camera, sim::MakeScene("chart", 1, &error), 0.0);
        images.AddFault({1, sim::SimFrameFaultAction::Silent});
        sim.device()->rawFrameBytes.store(sim::kFrameBytes);
        sim.bus.Recorder().Clear();
        std::vector<uint8_t> frame(sim::kFrameBytes);
        bool ok = true;
        bool returned = true;
        std::thread reader([&] { returned = ReadFrame(sim.device(), frame.data(), &ok); });
        // Unplug once the read's chunk requests are all out on the image endpoint.
        while (sim.bus.PendingTransfers() < 2) std::this_thread::yield();
        sim.camera.Unplug();
        reader.join();
        EXPECT_FALSE(ok);
        EXPECT_FALSE(returned);
        for (const BusRecord& record : sim.Records(BusRequestKind::BulkOrInterrupt)) {
            if (record.endpoint != sim::kImageEndpoint) continue;
            EXPECT_TRUE(record.completed);
            EXPECT_FALSE(NT_SUCCESS(record.ntStatus)) << "request " << record.id;
        }
        EXPECT_EQ(sim.bus.PendingTransfers(), 0);
        EXPECT_EQ(sim.camera.PortStatus(), 0u);
        sim.Stop();
        sim.Remove();
    });
}

// A client holding the filter and its running pin across the unplug and the removal: the device
// stays until the last handle closes (a property request still reaches it, a frame wait ends
// within its bound), then everything goes. With and without a client waiting for a frame at the
// moment of the unplug, and with either handle closed last.
TEST_F(SurpriseRemovalTest, DeviceMemoryGoesWhenTheLastHandleCloses) {
    struct Case {
        const char* name;
        bool clientWaiting;
        bool closePinFirst;
    } cases[] = {
        {"pin closed first", false, true},
        {"filter closed first", false, false},
        {"client waiting for a frame", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RunBounded(c.name, [&] {
            SimDevice sim;
            const int64_t beforeAdd = pool::LiveAllocations();
            sim.AddAndStart();
            std::string error;
            sim::SimImageStream images(sim.camera, sim::MakeScene("chart", 1, &error), 0.0);
            client::Filter filter;
            ASSERT_TRUE(filter.Open(*sim.ksDevice, CaptureFilterDescriptor).ok());
            client::VideoStream stream;
            ASSERT_TRUE(stream.Open(filter, {.frames = 2}).ok());
            ASSERT_TRUE(stream.Start().ok());
            client::Frame* frame = nullptr;
            ASSERT_TRUE(stream.Next(10'000, &frame).ok());
            stream.Requeue(frame);

            // The waiting client takes frames until one does not come within its bound.
            std::atomic<int> taken{0};
            std::thread client;
            if (c.clientWaiting) {
                client = std::thread([&] {
                    client::Frame* next = nullptr;
                    while (stream.Next(2'000, &next).ok()) {
                        ++taken;
                        stream.Requeue(next);
                    }
                });
                while (taken.load() < 3) std::this_thread::yield();
            }
            sim.camera.Unplug();
            sim.Remove();
            if (client.joinable()) client.join();

            // The handles still reach the device.
            ControlRequest exposure{};
            EXPECT_TRUE(filter.GetProperty(ControlPropertySetId, 2, &exposure).ok());
            EXPECT_GT(pool::LiveAllocations(), beforeAdd);
            if (c.closePinFirst) {
                EXPECT_TRUE(stream.Close().ok());
                EXPECT_GT(pool::LiveAllocations(), beforeAdd) << "the filter holds the device";
                filter.Close();
            } else {
                filter.Close();
                EXPECT_GT(pool::LiveAllocations(), beforeAdd) << "the pin holds the device";
                EXPECT_TRUE(stream.Close().ok());
            }
            EXPECT_EQ(pool::LiveAllocations(), beforeAdd);
            EXPECT_EQ(sim.bus.PendingTransfers(), 0);
        });
    }
}

}  // namespace
}  // namespace bayercam::testing
