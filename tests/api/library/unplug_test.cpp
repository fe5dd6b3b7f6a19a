// A camera that leaves the bus while an application uses it: every wait for a frame ends with
// -ENODEV however long it was willing to wait, and keeps doing so; frames held across the unplug
// can be released and the camera closed.
#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

#include "api/library/library_fixture.h"
#include "bayercam/bayercam.h"
#include "bayercam/bayercam_raw.h"

namespace bayercam::test {
namespace {

// Longer than the test's own time limit: a wait that sits out its time-out fails the test.
constexpr uint32_t kLongerThanTheTestMs = 600000;
constexpr uint32_t kGuardMs = 20000;

class Unplug : public LibraryTest {
  protected:
    ~Unplug() override { bayercam_close(cam_); }
    bayercam_camera* cam_ = nullptr;
};

TEST_F(Unplug, EveryLaterCallSaysTheCameraIsGone) {
    enum class When { BeforeStart, WhileStreaming, WhileWaiting, WhileHoldingAFrame };
    struct Case {
        const char* name;
        When when;
    } cases[] = {
        {"before the stream starts", When::BeforeStart},
        {"while the stream runs", When::WhileStreaming},
        {"while the application waits for a frame", When::WhileWaiting},
        {"while the application holds a frame", When::WhileHoldingAFrame},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bayercam_close(cam_);
        ASSERT_EQ(bayercam_open("sim", Settings(), &cam_), 0) << bayercam_last_error(nullptr);
        bayercam_frame* frame = nullptr;
        if (c.when == When::BeforeStart) {
            ASSERT_EQ(bayercam_sim_unplug(cam_), 0);
            EXPECT_EQ(bayercam_start(cam_), -ENODEV);
            EXPECT_EQ(bayercam_next_frame(cam_, kLongerThanTheTestMs, &frame), -EACCES);
            continue;
        }
        ASSERT_EQ(bayercam_start(cam_), 0) << bayercam_last_error(cam_);
        ASSERT_EQ(bayercam_next_frame(cam_, kGuardMs, &frame), 0) << bayercam_last_error(cam_);
        bayercam_frame* held = frame;
        if (c.when != When::WhileHoldingAFrame) {
            ASSERT_EQ(bayercam_release_frame(cam_, frame), 0);
        }
        // A frame or two may have been complete before the cable went; none comes after.
        auto waitPastTheLastFrames = [&] {
            int code = 0;
            for (int i = 0; i < 8 && code == 0; ++i) {
                code = bayercam_next_frame(cam_, kLongerThanTheTestMs, &frame);
                if (code == 0) bayercam_release_frame(cam_, frame);
            }
            return code;
        };
        if (c.when == When::WhileWaiting) {
            std::thread waiter([&] { EXPECT_EQ(waitPastTheLastFrames(), -ENODEV); });
            // The unplug may come before the wait begins or during it; both must end it.
            std::this_thread::yield();
            ASSERT_EQ(bayercam_sim_unplug(cam_), 0);
            waiter.join();
        } else {
            ASSERT_EQ(bayercam_sim_unplug(cam_), 0);
            EXPECT_EQ(waitPastTheLastFrames(), -ENODEV);
        }
        EXPECT_STRNE(bayercam_last_error(cam_), "");
        EXPECT_EQ(bayercam_next_frame(cam_, 0, &frame), -ENODEV);
        EXPECT_EQ(bayercam_next_frame(cam_, kLongerThanTheTestMs, &frame), -ENODEV);
        if (c.when == When::WhileHoldingAFrame) {
            EXPECT_EQ(bayercam_release_frame(cam_, held), 0);
        }
        EXPECT_EQ(bayercam_stop(cam_), 0);
        EXPECT_EQ(bayercam_start(cam_), -ENODEV);
    }
}

}  // namespace
}  // namespace bayercam::test
