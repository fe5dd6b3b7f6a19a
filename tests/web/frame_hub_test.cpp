#include "web/frame_hub.h"

#include <gtest/gtest.h>

#include <thread>

namespace bayercam::web {
namespace {

using std::chrono::milliseconds;

// One row of width 2 with 4 bytes of padding: the padding must not reach the copy.
void PublishPadded(FrameHub& hub, uint8_t fill, uint64_t timestampNs, uint32_t dropped = 0) {
    std::vector<uint8_t> data(2 * 12, 0xEE);
    for (int row = 0; row < 2; ++row) std::fill_n(&data[row * 12], 8, fill);
    hub.Publish(data.data(), 2, 2, 12, timestampNs, dropped);
}

TEST(FrameHubTest, ViewersGetTheNewestFrameAndSkipTheRest) {
    FrameHub hub;
    EXPECT_EQ(hub.WaitNewer(0, milliseconds(1)), nullptr);
    PublishPadded(hub, 1, 1'000'000'000);
    PublishPadded(hub, 2, 1'033'333'333, 3);
    PublishPadded(hub, 3, 1'066'666'666);
    std::shared_ptr<const LiveFrame> frame = hub.WaitNewer(1, milliseconds(1));
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->Serial(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(frame->Image().pixels.begin(), frame->Image().pixels.end()),
              std::vector<uint8_t>(16, 3));
    EXPECT_EQ(hub.WaitNewer(3, milliseconds(1)), nullptr);

    LiveStats stats = hub.Stats();
    EXPECT_EQ(stats.delivered, 3u);
    EXPECT_EQ(stats.dropped, 3u);
    EXPECT_NEAR(stats.fps, 30.0, 0.01);
}

TEST(FrameHubTest, CloseWakesAWaitingViewer) {
    FrameHub hub;
    std::thread closer([&] {
        std::this_thread::sleep_for(milliseconds(20));
        hub.Close();
    });
    EXPECT_EQ(hub.WaitNewer(0, std::chrono::seconds(30)), nullptr);
    closer.join();
    EXPECT_TRUE(hub.Closed());
}

TEST(FrameHubTest, RestartedClockStartsTheRateAgain) {
    FrameHub hub;
    PublishPadded(hub, 0, 5'000'000'000);
    PublishPadded(hub, 0, 5'100'000'000);
    PublishPadded(hub, 0, 100);  // a new stream
    PublishPadded(hub, 0, 50'000'100);
    EXPECT_NEAR(hub.Stats().fps, 20.0, 0.01);
}

}  // namespace
}  // namespace bayercam::web
