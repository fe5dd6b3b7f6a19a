#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "camera/camera_controls.h"
#include "camera/frame_timeout.h"
#include "camera/start_capture.h"
#include "imaging/image_processor.h"
#include "platform/kernel/pool.h"
#include "support/sim_device.h"
#include "support/wire_log.h"
#include "usb/frame_timeout.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;
using testing::WireLog;
using Lines = std::vector<std::string>;

class CameraControlsTest : public SimDeviceTest {
  protected:
    void SetUp() override {
        SimDeviceTest::SetUp();
        Restart();
    }
    void Restart() {
        sim_.reset();
        Started();
        Clear();
    }
    void Clear() { sim_->bus.Recorder().Clear(); }
    CameraDevice* device() { return sim_->device(); }
    Lines Wire() { return WireLog(sim_->Records()); }
    void FailCommand(uint32_t nth) {
        sim_->camera.AddFault({sim::kCommandEndpoint, nth, sim::SimFaultAction::Error});
    }
};

const Lines kToLong = {"S154=1", "S157=0", "S158=7", "S159=0",
                       "S160=1", "S161=7", "S162=0", "S163=1"};
const Lines kToShort = {"S154=0", "S155=7", "S157=1", "S160=1", "S163=0"};

Lines Join(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Steps run in order on one device, which starts in short mode.
TEST_F(CameraControlsTest, ExposureSwitchesModesOnlyWhenCrossing) {
    struct Step {
        uint32_t value;
        int32_t stored;
        Lines wire;
    };
    const Step steps[] = {
        {100, 100, {"S158=36", "S159=1", "S161=36", "S162=1"}},
        {1070, 1070, Join({kToLong, {"S155=3"}})},
        {1070, 1070, {"S155=3"}},
        {100, 100, Join({kToShort, {"S158=36", "S159=1", "S161=36", "S162=1"}})},
        {7, 8, {"S158=8", "S159=0", "S161=8", "S162=0"}},
        {1068, 1068, {"S158=44", "S159=16", "S161=44", "S162=16"}},
        {1069, 1069, Join({kToLong, {"S155=2"}})},
        {1075, 1074, {"S155=7"}},
        {static_cast<uint32_t>(-1), 1074, {"S155=7"}},
        {0, 8, Join({kToShort, {"S158=8", "S159=0", "S161=8", "S162=0"}})},
    };
    for (const Step& step : steps) {
        Clear();
        EXPECT_TRUE(SetExposure(device(), step.value));
        EXPECT_EQ(device()->exposure, step.stored) << step.value;
        EXPECT_EQ(Wire(), step.wire) << step.value;
    }
}

TEST_F(CameraControlsTest, ExposureIsStoredEvenWhenTheCameraRefusesIt) {
    sim_->camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Stall});
    EXPECT_TRUE(SetExposure(device(), 1070));
    EXPECT_EQ(device()->exposure, 1070);
    EXPECT_EQ(Wire().size(), 9u);  // every write is still sent
}

TEST_F(CameraControlsTest, GlobalGain) {
    struct Case {
        const char* name;
        uint32_t value;
        uint32_t failNth;  // command to fail, 0: none
        bool ok;
        uint32_t stored;  // from an old gain of 5
        Lines wire;
    };
    const Case cases[] = {
        {"100", 100, 0, true, 100, {"S6=36", "S7=1"}},
        {"1024 clamps", 1024, 0, true, 1023, {"S6=63", "S7=15"}},
        {"-1 clamps", static_cast<uint32_t>(-1), 0, true, 1023, {"S6=63", "S7=15"}},
        {"0", 0, 0, true, 0, {"S6=0", "S7=0"}},
        {"low write fails", 100, 1, false, 5, {"S6=36", "S7=1"}},
        {"high write fails", 100, 2, false, 5, {"S6=36", "S7=1"}},
    };
    for (const Case& c : cases) {
        Restart();
        device()->globalGain = 5;
        if (c.failNth) FailCommand(c.failNth);
        EXPECT_EQ(SetGlobalGain(device(), c.value), c.ok) << c.name;
        EXPECT_EQ(device()->globalGain, c.stored) << c.name;
        EXPECT_EQ(Wire(), c.wire) << c.name;
    }
}

// The capture start with the stored exposure 100 and gain 100.
const Lines kCaptureStart = {"L0=0",    "L1=64",  "L2=21",   "L3=0",   "X0A01", "L14=0",
                             "S158=36", "S159=1", "S161=36", "S162=1", "S6=36", "S7=1"};

TEST_F(CameraControlsTest, StartCaptureProgramsTheCameraAndFixesTheRawFrame) {
    SetExposure(device(), 100);
    SetGlobalGain(device(), 100);
    device()->pipelineMode = 0;
    Clear();
    EXPECT_TRUE(StartCapture(device()));
    EXPECT_EQ(Wire(), kCaptureStart);
    EXPECT_EQ(device()->rawFrameBytes, 1392640u);
    EXPECT_EQ(device()->rawStride, 1360);
    EXPECT_EQ(device()->rawOffset, 0);
    EXPECT_EQ(device()->pipelineMode, 2);
    EXPECT_EQ(sim_->camera.LogicRegister(1), 0x40);

    // Nothing stops the sequence; the result is the gain write's.
    for (uint32_t failNth : {1u, 5u, 11u}) {
        Clear();
        FailCommand(failNth);
        EXPECT_EQ(StartCapture(device()), failNth < 11) << failNth;
        EXPECT_EQ(Wire(), kCaptureStart) << failNth;
    }
}

TEST_F(CameraControlsTest, ClockSelection) {
    struct Case {
        const char* name;
        int32_t value;
        uint32_t failNth;
        int32_t stored;  // from an old clock of 1
        Lines wire;
    };
    const Case cases[] = {
        {"2 is written as 3", 2, 0, 3, Join({{"S32=0", "L15=3"}, kCaptureStart})},
        {"3", 3, 0, 3, Join({{"S32=0", "L15=3"}, kCaptureStart})},
        {"5", 5, 0, 5, Join({{"S32=0", "L15=5"}, kCaptureStart})},
        {"6 becomes 0", 6, 0, 0, Join({{"S32=0", "L15=0"}, kCaptureStart})},
        {"-1 becomes 0", -1, 0, 0, Join({{"S32=0", "L15=0"}, kCaptureStart})},
        {"sensor write fails", 4, 1, 4, Join({{"S32=0", "L15=4"}, kCaptureStart})},
        {"logic write fails", 4, 2, 1, {"S32=0", "L15=4"}},
    };
    for (const Case& c : cases) {
        Restart();
        SetExposure(device(), 100);
        SetGlobalGain(device(), 100);
        device()->clock = 1;
        Clear();
        if (c.failNth) FailCommand(c.failNth);
        SetClock(device(), c.value);
        EXPECT_EQ(device()->clock, c.stored) << c.name;
        EXPECT_EQ(Wire(), c.wire) << c.name;
    }
}

TEST_F(CameraControlsTest, ReadClockReportsThreeAsTwoAndKeepsTheOldValueOnFailureOrNonsense) {
    struct Case {
        uint8_t camera;
        bool answers;
        int32_t clock;  // from an old clock of 4
    };
    // An answer that is no selection (a stale acknowledgement after a lost answer) is no read.
    const Case cases[] = {{3, true, 2},  {2, true, 2}, {0, true, 0},  {5, true, 5},
                          {1, false, 4}, {6, true, 4}, {38, true, 4}, {255, true, 4}};
    for (const Case& c : cases) {
        Restart();
        device()->clock = 4;
        sim_->camera.SetLogicRegister(15, c.camera);
        if (!c.answers) {
            sim_->camera.AddFault({sim::kResponseEndpoint, 2, sim::SimFaultAction::Short, 10});
        }
        EXPECT_EQ(ReadClock(device()), c.clock) << int{c.camera};
        EXPECT_EQ(device()->clock, c.clock) << int{c.camera};
    }
    // A clock set to 2 reads back as 2, though the camera holds 3.
    SetClock(device(), 2);
    EXPECT_EQ(sim_->camera.LogicRegister(15), 3);
    EXPECT_EQ(ReadClock(device()), 2);
}

TEST_F(CameraControlsTest, TimeoutRules) {
    struct Case {
        const char* name;
        bool (*set)(CameraDevice*, uint32_t);
        uint32_t value;
        bool accepted;
    };
    const Case cases[] = {
        {"property 500", &SetFrameTimeout, 500, false},
        {"property 501", &SetFrameTimeout, 501, true},
        {"property 10000", &SetFrameTimeout, 10000, true},
        {"property -1 counts as large", &SetFrameTimeout, 0xFFFFFFFF, true},
        {"property 0", &SetFrameTimeout, 0, false},
        {"load 500", &LoadFrameTimeout, 500, false},
        {"load 501", &LoadFrameTimeout, 501, true},
        {"load 9999", &LoadFrameTimeout, 9999, true},
        {"load 10000", &LoadFrameTimeout, 10000, false},
    };
    ASSERT_EQ(GetFrameTimeoutMs(), kDefaultFrameTimeoutMs);
    for (const Case& c : cases) {
        device()->timeout = 1234;
        ASSERT_TRUE(SetFrameTimeout(device(), 1234));
        EXPECT_EQ(c.set(device(), c.value), c.accepted) << c.name;
        uint32_t expected = c.accepted ? c.value : 1234;
        EXPECT_EQ(static_cast<uint32_t>(device()->timeout.load()), expected) << c.name;
        EXPECT_EQ(GetFrameTimeoutMs(), expected) << c.name;
    }
    // The wait time is shared by every device of the process: leave it as it was found.
    SetFrameTimeout(device(), kDefaultFrameTimeoutMs);
}

TEST_F(CameraControlsTest, WhiteBalanceSwitch) {
    // Without a stream only the device's switch changes.
    SetWhiteBalance(device(), 1);
    EXPECT_EQ(device()->whiteBalance, 1);

    // With one, the processor follows, and switching off keeps the gains it measured.
    ImageProcessor* processor = CreateImageProcessor(device());
    ASSERT_NE(processor, nullptr);
    device()->imageProcessor = processor;
    struct Step {
        int32_t value;
        int32_t red, green, blue;  // device gains afterwards
    };
    const Step steps[] = {{0, 150, 128, 90}, {5, 150, 128, 90}, {0, 200, 100, 60}};
    for (const Step& step : steps) {
        processor->redGain = step.red;  // what the automatic balance measured
        processor->greenGain = step.green;
        processor->blueGain = step.blue;
        device()->redGain = device()->greenGain = device()->blueGain = 128;
        SetWhiteBalance(device(), step.value);
        EXPECT_EQ(device()->whiteBalance, step.value);
        EXPECT_EQ(processor->whiteBalance, step.value);
        bool copied = step.value == 0;
        EXPECT_EQ(device()->redGain, copied ? step.red : 128) << step.value;
        EXPECT_EQ(device()->greenGain, copied ? step.green : 128) << step.value;
        EXPECT_EQ(device()->blueGain, copied ? step.blue : 128) << step.value;
    }
    device()->imageProcessor = nullptr;
    FreeImageProcessor(processor);
    EXPECT_TRUE(Wire().empty());
}

}  // namespace
}  // namespace bayercam
