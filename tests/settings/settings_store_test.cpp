#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/frame_timeout.h"
#include "core/camera_device.h"
#include "platform/kernel/pool.h"
#include "settings/settings_store.h"
#include "settings/settings_values.h"
#include "support/settings_camera.h"
#include "usb/frame_timeout.h"

namespace bayercam {
namespace {

using test_support::ReadWholeFile;
using test_support::TestSettingsRoot;
using testing::SettingsCamera;

struct DeviceView {
    int32_t timeout, exposure, globalGain, flipH, flipV, colorEnable, whiteBalance, colorCorrection,
        brightness, contrast, saturation, hue, redGain, greenGain, blueGain, agc, aec, exTrigger,
        subSample, roiX, roiY, roiW, roiH;
    bool operator==(const DeviceView&) const = default;
};

DeviceView View(CameraDevice* d) {
    return {d->timeout,
            d->exposure,
            static_cast<int32_t>(d->globalGain.load()),
            d->flipH,
            d->flipV,
            d->colorEnable,
            d->whiteBalance,
            d->colorCorrection,
            d->brightness,
            d->contrast,
            d->saturation,
            d->hue,
            d->redGain,
            d->greenGain,
            d->blueGain,
            d->agc,
            d->aec,
            d->exTrigger,
            d->subSample,
            d->roiX,
            d->roiY,
            d->roiW,
            d->roiH};
}

std::ostream& operator<<(std::ostream& out, const DeviceView& v) {
    return out << "timeout " << v.timeout << " exposure " << v.exposure << " gain " << v.globalGain
               << " flips " << v.flipH << "," << v.flipV << " colour " << v.colorEnable << " wb "
               << v.whiteBalance << " cc " << v.colorCorrection << " b/c/s/h " << v.brightness
               << "/" << v.contrast << "/" << v.saturation << "/" << v.hue << " gains " << v.redGain
               << "/" << v.greenGain << "/" << v.blueGain << " agc/aec/ext/sub " << v.agc << "/"
               << v.aec << "/" << v.exTrigger << "/" << v.subSample << " roi " << v.roiX << ","
               << v.roiY << " " << v.roiW << "x" << v.roiH;
}

// What an empty "Settings" group loads.
constexpr DeviceView kDefaults = {3000, 8,   0,   0, 0, 1, 0, 1, 255, 10,   10,  0,
                                  128,  128, 128, 0, 0, 0, 0, 0, 0,   1360, 1024};

class SettingsStoreTest : public ::testing::Test {
  protected:
    void TearDown() override {
        // The frame wait time is driver-wide: leave it as the next test expects it.
        CameraDevice scratch{};
        SetFrameTimeout(&scratch, kDefaultFrameTimeoutMs);
    }
    TestSettingsRoot root;
};

TEST_F(SettingsStoreTest, AnEmptyGroupLoadsTheDefaultsAndIsCreated) {
    SettingsCamera camera(root);
    camera.StartWith("");
    EXPECT_EQ(View(camera.device()), kDefaults);
    EXPECT_TRUE(std::filesystem::is_directory(root.root() + "/camera/Settings"));
}

// Each case changes the defaults in the fields its values touch.
template <typename Change>
DeviceView Defaults(Change change) {
    DeviceView view = kDefaults;
    change(view);
    return view;
}

TEST_F(SettingsStoreTest, ValuesAreClampedOrIgnoredAsTheirRulesSay) {
    struct Case {
        const char* values;
        void (*change)(DeviceView&);
    };
    const Case cases[] = {
        {"Timeout = dword:500", [](DeviceView&) {}},
        {"Timeout = dword:10000", [](DeviceView&) {}},
        {"Timeout = dword:-1", [](DeviceView&) {}},
        {"Timeout = dword:501", [](DeviceView& v) { v.timeout = 501; }},
        {"Timeout = dword:9999", [](DeviceView& v) { v.timeout = 9999; }},
        {"Brightness = dword:600", [](DeviceView& v) { v.brightness = 510; }},
        {"Brightness = dword:-4", [](DeviceView& v) { v.brightness = 0; }},
        {"Hue = dword:400", [](DeviceView& v) { v.hue = 359; }},
        {"Contrast = dword:21\nSaturation = dword:-1",
         [](DeviceView& v) { v.contrast = 20, v.saturation = 0; }},
        {"RedGain = dword:0\nGreenGain = dword:513\nBlueGain = dword:7",
         [](DeviceView& v) { v.redGain = 1, v.greenGain = 512, v.blueGain = 7; }},
        {"Exposure = dword:3", [](DeviceView&) {}},
        {"Exposure = dword:5000", [](DeviceView& v) { v.exposure = 1074; }},
        {"GlobalGain = dword:-1", [](DeviceView& v) { v.globalGain = 1023; }},
        {"FlipH = dword:-7\nFlipV = dword:2\nColorEnable = dword:5\nColorCorrection = dword:0",
         [](DeviceView& v) {
             v.flipH = -7, v.flipV = 2, v.colorEnable = 5, v.colorCorrection = 0;
         }},
        {"WhiteBalance = dword:1", [](DeviceView& v) { v.whiteBalance = 1; }},
        // Read, never applied.
        {"AGC = dword:3\nAEC = dword:4\nExTrigger = dword:5\nSubSample = dword:6",
         [](DeviceView&) {}},
        // The region of interest: x and y below the sensor size or 0, sizes at most the sensor
        // (unsigned), then the camera's own alignment and edge limits.
        {"RoiX = dword:1360", [](DeviceView&) {}},
        {"RoiX = dword:1359", [](DeviceView& v) { v.roiX = 1352, v.roiW = 8; }},
        {"RoiX = dword:-2", [](DeviceView&) {}},
        {"RoiX = dword:100\nRoiW = dword:-1", [](DeviceView& v) { v.roiX = 100, v.roiW = 1260; }},
        {"RoiY = dword:1000\nRoiH = dword:100", [](DeviceView& v) { v.roiY = 1000, v.roiH = 24; }},
        {"RoiY = dword:1024\nRoiH = dword:5000", [](DeviceView&) {}},
        {"RoiX = dword:3\nRoiY = dword:5\nRoiW = dword:100\nRoiH = dword:50",
         [](DeviceView& v) { v.roiX = 4, v.roiY = 6, v.roiW = 100, v.roiH = 50; }},
        // A value that is not a number keeps its default.
        {"Brightness = sz:\"300\"\nHue = hex:05,00,00,00", [](DeviceView&) {}},
    };
    for (const Case& c : cases) {
        TestSettingsRoot caseRoot;
        SettingsCamera camera(caseRoot);
        camera.StartWith(c.values);
        EXPECT_EQ(View(camera.device()), Defaults(c.change)) << c.values;
        EXPECT_EQ(GetFrameTimeoutMs(), static_cast<uint32_t>(camera.device()->timeout)) << c.values;
    }
}

TEST_F(SettingsStoreTest, AnExposureAboveTheShortRangeSwitchesTheSensorToLongMode) {
    SettingsCamera camera(root);
    camera.StartWith("Exposure = dword:5000");
    EXPECT_EQ(camera.sim().camera.SensorRegister(154), 1u);
    EXPECT_EQ(camera.sim().camera.SensorRegister(155), 7u);
}

TEST_F(SettingsStoreTest, TheSavedClockIsNotApplied) {
    sim::SimCameraOptions options;
    options.clockSelection = 1;
    SettingsCamera camera(root, options);
    camera.StartWith("Clock = dword:5");
    EXPECT_EQ(camera.device()->clock, 1);
    EXPECT_EQ(camera.sim().camera.LogicRegister(15), 1);
    std::vector<std::string> wire = camera.Wire();
    EXPECT_EQ(std::count(wire.begin(), wire.end(), "L15=5"), 0);
}

TEST_F(SettingsStoreTest, WithoutAUsableStoreNothingIsAppliedAndNothingSaved) {
    // The device instance has no folder: its name is taken by a file.
    test_support::WriteWholeFile(root.root() + "/camera", "not a folder");
    SettingsCamera camera(root);
    camera.StartWith("");
    CameraDevice* device = camera.device();
    // Creation values, not the load defaults.
    EXPECT_EQ(device->exposure, 0);
    EXPECT_EQ(device->brightness, 255);
    device->brightness = 300;
    EXPECT_FALSE(LoadSettings(device));
    EXPECT_EQ(device->brightness, 300);
    EXPECT_FALSE(SaveSettings(device));
}

// The gain keeps its old value when the camera refuses it, but a load must not lose the saved
// one: the next save would write the old value over it.
TEST_F(SettingsStoreTest, AGainTheCameraRefusesAtLoadIsStillSaved) {
    SettingsCamera camera(root);
    camera.StartWith("GlobalGain = dword:100");
    test_support::WriteWholeFile(camera.ValuesFile(), "GlobalGain = dword:2000");
    camera.sim().camera.Unplug();
    ASSERT_TRUE(LoadSettings(camera.device()));
    EXPECT_EQ(camera.device()->globalGain.load(), 1023u);
    ASSERT_TRUE(SaveSettings(camera.device()));
    EXPECT_NE(ReadWholeFile(camera.ValuesFile()).find("GlobalGain = dword:1023"),
              std::string::npos);
}

TEST_F(SettingsStoreTest, AnUnboundDeviceLoadsAndSavesNothing) {
    testing::SimDevice sim;
    sim.AddAndStart();
    EXPECT_FALSE(LoadSettings(sim.device()));
    EXPECT_FALSE(SaveSettings(sim.device()));
    EXPECT_EQ(sim.device()->exposure, 0);
}

// Every value in range and different from its default, so a lost or swapped value shows.
void SetDistinctSettings(CameraDevice* d) {
    d->timeout = 777;
    d->exposure = 900;
    d->globalGain = 600;
    d->flipH = 1;
    d->flipV = 3;
    d->colorEnable = 0;
    d->whiteBalance = 2;
    d->colorCorrection = 0;
    d->brightness = 400;
    d->contrast = 12;
    d->saturation = 14;
    d->hue = 90;
    d->redGain = 200;
    d->greenGain = 210;
    d->blueGain = 220;
    d->roiX = 16;
    d->roiY = 32;
    d->roiW = 640;
    d->roiH = 480;
}

TEST_F(SettingsStoreTest, ASaveIsLoadedBackByTheNextStart) {
    DeviceView saved;
    {
        SettingsCamera camera(root);
        camera.StartWith("");
        SetDistinctSettings(camera.device());
        saved = View(camera.device());
        ASSERT_TRUE(SaveSettings(camera.device()));
    }
    SettingsCamera camera(root);
    camera.StartWith("");
    EXPECT_EQ(View(camera.device()), saved);
}

// Values still at the default the load took (AGC, AEC, ExTrigger, SubSample) are no change.
TEST_F(SettingsStoreTest, ASaveWritesTheChangedValuesInOrder) {
    SettingsCamera camera(root);
    camera.StartWith("");
    SetDistinctSettings(camera.device());
    camera.device()->clock = 3;
    ASSERT_TRUE(SaveSettings(camera.device()));
    std::string text = ReadWholeFile(camera.ValuesFile());
    const std::string expected[] = {
        "Timeout = dword:777",    "Exposure = dword:900",      "GlobalGain = dword:600",
        "FlipH = dword:1",        "FlipV = dword:3",           "ColorEnable = dword:0",
        "WhiteBalance = dword:2", "ColorCorrection = dword:0", "Brightness = dword:400",
        "Contrast = dword:12",    "Saturation = dword:14",     "Hue = dword:90",
        "RedGain = dword:200",    "GreenGain = dword:210",     "BlueGain = dword:220",
        "Clock = dword:3",        "RoiX = dword:16",           "RoiY = dword:32",
        "RoiW = dword:640",       "RoiH = dword:480",
    };
    size_t at = 0;
    for (const std::string& line : expected) {
        size_t found = text.find(line + "\n", at);
        if (found == std::string::npos) found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << line << " missing or out of order in\n" << text;
        at = found + line.size();
    }
    EXPECT_EQ(text.find("AGC"), std::string::npos) << text;
}

TEST_F(SettingsStoreTest, ASaveThatCannotBeWrittenReportsFailure) {
    CameraDevice* device = PoolNew<CameraDevice>();
    ASSERT_NE(device, nullptr);
    device->usb.physicalDevice = root.device();
    ASSERT_TRUE(SaveSettings(device));  // creates the group with a file of all 24 values
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The disk is full: no file may grow.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{1, 1};
        setrlimit(RLIMIT_FSIZE, &limit);
        device->brightness = 123;
        _exit(SaveSettings(device) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "a save that wrote nothing was reported as success";
    PoolDelete(device);
}

}  // namespace
}  // namespace bayercam
