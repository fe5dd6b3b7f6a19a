#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/tool_process.h"

namespace bayercam::tool_test {
namespace {

class SettingsProcessesTest : public ::testing::Test {
  protected:
    ToolRun Tool(const std::string& arguments) { return ToolIn(root_.root(), arguments); }
    ToolRun ToolIn(const std::string& settingsDir, const std::string& arguments,
                   const std::string& prefix = "") {
        return RunShell(ToolCommand(settingsDir, arguments, prefix), root_.root());
    }
    std::string Scratch() const { return root_.root(); }
    test_support::TestSettingsRoot root_;
};

// A save that cannot be made fails a command that changes settings, naming the place and the
// reason; a command that only reads still works and says once that changes cannot be saved.
TEST_F(SettingsProcessesTest, SavesThatCannotBeMadeAreReported) {
    const std::string file = Scratch() + "/a-file";
    test_support::WriteWholeFile(file, "x");
    const std::string readOnly = Scratch() + "/read-only";
    ASSERT_EQ(ToolIn(readOnly, "set Hue=44").exitCode, 0);
    chmod(readOnly.c_str(), 0555);
    chmod((readOnly + "/sim").c_str(), 0555);
    chmod((readOnly + "/sim/Settings").c_str(), 0555);
    const std::string nobody =
        geteuid() == 0 ? "setpriv --reuid 65534 --regid 65534 --clear-groups" : "";
    struct Case {
        std::string settingsDir;
        std::string arguments;
        std::string prefix;
        int exitCode;
        std::string out;
        std::string err;
    };
    const Case cases[] = {
        {file, "set Hue=45", "", 1, "Hue=45\n",
         "bayercam: settings not saved to " + file + "/sim: Not a directory\n"},
        {file, "get Hue", "", 0, "Hue=0\n",
         "changes to settings cannot be saved to " + file + "/sim: Not a directory"},
        {"/proc/bayercam-test", "set Hue=45", "", 1, "Hue=45\n",
         "settings not saved to /proc/bayercam-test/sim: No such file or directory"},
        {readOnly, "set Hue=46", nobody, 1, "Hue=46\n",
         "settings not saved to " + readOnly + "/sim/Settings/values: Permission denied"},
        {readOnly, "get Hue", nobody, 0, "Hue=44\n",
         "cannot be saved to " + readOnly + "/sim/Settings: Permission denied"},
    };
    for (const Case& c : cases) {
        ToolRun run = ToolIn(c.settingsDir, c.arguments, c.prefix);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

TEST_F(SettingsProcessesTest, ReadingChangesNothingOnDisk) {
    ASSERT_EQ(Tool("set Hue=44").exitCode, 0);
    const std::string file = Scratch() + "/sim/Settings/values";
    const std::string edited = "# kept by hand\n" + test_support::ReadWholeFile(file);
    test_support::WriteWholeFile(file, edited);
    for (const char* arguments : {"get Hue", "info", "props", "capture -n 2 -o - --format raw"}) {
        EXPECT_EQ(Tool(arguments).exitCode, 0) << arguments;
        EXPECT_EQ(test_support::ReadWholeFile(file), edited) << arguments;
    }
}

// Processes sharing one folder keep each other's changes: each saves only what it changed.
TEST_F(SettingsProcessesTest, ParallelSetsOfDistinctValuesAllSurvive) {
    const std::vector<std::string> assignments = {
        "Timeout=4000",   "Exposure=100",   "GlobalGain=600",
        "FlipH=1",        "FlipV=1",        "ColorEnable=0",
        "WhiteBalance=1", "RedGain=200",    "GreenGain=201",
        "BlueGain=202",   "Brightness=300", "Contrast=12",
        "Saturation=13",  "Hue=44",         "ColorCorrection=0",
        "AGC=1",          "AEC=1",          "RegionOfInterest=16,32,640,480",
    };
    std::vector<FILE*> runs;
    for (const std::string& assignment : assignments) {
        const std::string command = ToolCommand(Scratch(), "set " + assignment) + " 2>/dev/null";
        runs.push_back(popen(command.c_str(), "r"));
        ASSERT_NE(runs.back(), nullptr);
    }
    std::string expected;
    std::string names;
    for (size_t i = 0; i < runs.size(); ++i) {
        char line[256] = {};
        EXPECT_NE(fgets(line, sizeof line, runs[i]), nullptr) << assignments[i];
        expected += line;
        EXPECT_EQ(ExitCode(pclose(runs[i])), 0) << assignments[i];
        names += " " + assignments[i].substr(0, assignments[i].find('='));
    }
    EXPECT_EQ(Tool("get" + names).out, expected);
}

TEST_F(SettingsProcessesTest, ASetDuringACaptureOutlivesTheCapturesEnd) {
    Spawned capture = SpawnTool({"--sim", "--sim-fps", "20", "--settings-dir", Scratch(), "capture",
                                 "-n", "30", "--format", "raw", "-o", "-"},
                                Scratch() + "/capture-stderr");
    ASSERT_GT(capture.pid, 0);
    // The capture has loaded its settings once its first frame is out.
    EXPECT_FALSE(ReadBytes(capture.out, 1).empty());
    EXPECT_EQ(Tool("set Hue=50").exitCode, 0);
    std::thread drain([fd = capture.out] { ReadBytes(fd, size_t(1) << 30); });
    drain.join();
    EXPECT_EQ(capture.Wait(), 0);
    EXPECT_EQ(Tool("get Hue").out, "Hue=50\n");
}

}  // namespace
}  // namespace bayercam::tool_test
