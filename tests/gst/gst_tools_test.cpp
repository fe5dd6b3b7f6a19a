// The plugin as GStreamer's own tools load it, from the build folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "gst_test_support.h"

namespace bayercam::gst::test {
namespace {

struct ToolRun {
    int exitCode;
    std::string output;  // stdout and stderr
};

ToolRun Shell(const std::string& command) {
    ToolRun run{-1, ""};
#ifdef BAYERCAM_GST_PLUGIN_DIR
    std::string line = "GST_PLUGIN_PATH='" BAYERCAM_GST_PLUGIN_DIR "' ";
    line += command + " 2>&1";
    FILE* pipe = popen(line.c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
    (void)command;
#endif
    return run;
}

class GstToolsTest : public ::testing::Test {
  protected:
    void SetUp() override {
#ifndef BAYERCAM_GST_PLUGIN_DIR
        // Sanitizer builds: GStreamer's tools cannot load an instrumented plugin.
        GTEST_SKIP() << "the plugin is not loadable by GStreamer's tools in this build";
#endif
    }
};

TEST_F(GstToolsTest, InspectShowsTheProperties) {
    ToolRun run = Shell("gst-inspect-1.0 bayercamsrc");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const char* expected[] = {
        "camera",      "settings-dir", "auto-exposure", "region-of-interest",
        "dropped",     "exposure",     "global-gain",   "white-balance",
        "red-gain",    "hue",          "flip-h",        "Range: 8 - 1074 Default: 8",
        "num-buffers", "format: BGRx", "sensor-width",  "Range: 501 - 9999 Default: 3000",
    };
    for (const char* text : expected)
        EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
    EXPECT_EQ(run.output.find("Range: -2147483648 - 2147483647"), std::string::npos) << run.output;
}

TEST_F(GstToolsTest, DeviceMonitorListsTheSimulatedCameraWhenAskedFor) {
    ToolRun run = Shell("BAYERCAM_SIM=1 gst-device-monitor-1.0 Video/Source");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char* text : {"class : Video/Source", "bayercam.selector = sim",
                             "gst-launch-1.0 bayercamsrc camera=sim"})
        EXPECT_NE(run.output.find(text), std::string::npos) << text << "\n" << run.output;
}

TEST_F(GstToolsTest, FileSinkWritesTheLibrarysFrames) {
    ScratchDir dir, settings;
    std::string scene = PatternScene(dir);
    std::string written = dir.Path() + "/frames.bgrx";
    ToolRun run = Shell("gst-launch-1.0 -q bayercamsrc camera='" + scene + "' settings-dir='" +
                        settings.Path() + "' num-buffers=3 ! filesink location='" + written + "'");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    std::string expected;
    for (const std::string& frame : LibraryFrames(scene, 3)) expected += frame;
    ASSERT_EQ(expected.size(), 3u * 1360 * 1024 * 4);
    std::ifstream in(written, std::ios::binary);
    std::string frames((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(frames == expected) << frames.size() << " bytes written";
}

}  // namespace
}  // namespace bayercam::gst::test
