#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/tool_process.h"

namespace bayercam::tool_test {
namespace {

namespace fs = std::filesystem;

constexpr size_t kFullFrameBgraBytes = size_t(1360) * 1024 * 4;

class CaptureProcessTest : public ::testing::Test {
  protected:
    ToolRun Tool(const std::string& arguments) {
        return RunShell(ToolCommand(Dir(), arguments), Dir());
    }
    const std::string& Dir() const { return root_.root(); }
    test_support::TestSettingsRoot root_;
};

// Frame files in `folder`, and whether any is only partly written.
std::vector<fs::path> FrameFiles(const std::string& folder, bool* partial) {
    std::vector<fs::path> files;
    *partial = false;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files.push_back(entry.path());
        *partial = *partial || entry.path().extension() == ".part";
    }
    return files;
}

TEST_F(CaptureProcessTest, ASlowReaderStillGetsEveryFrameAskedFor) {
    // The reader starts late: the writer must hold the stream back, not drop frames.
    const std::string errFile = Dir() + "/capture-stderr";
    const std::string statusFile = Dir() + "/capture-status";
    ToolRun run =
        RunShell("{ " + ToolCommand(Dir(), "capture -n 12 --roi 0,0,64,32 --format bgra -o -") +
                     " 2>'" + errFile + "'; echo $? >'" + statusFile + "'; } | (sleep 1; cat)",
                 Dir());
    const std::string err = test_support::ReadWholeFile(errFile);
    EXPECT_EQ(test_support::ReadWholeFile(statusFile), "0\n") << err;
    EXPECT_EQ(run.out.size(), size_t(12) * 64 * 32 * 4);
    EXPECT_NE(err.find("frames written:   12\n"), std::string::npos) << err;
}

// Signals end a capture as Ctrl-C does: stopped, settings saved, files whole, status 128 + N.
TEST_F(CaptureProcessTest, SignalsEndACaptureInOrder) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string folder = Dir() + "/frames-" + std::to_string(signal);
        Spawned capture = SpawnTool(
            {"--sim", "--sim-fps", "30", "--settings-dir", Dir(), "capture", "-n", "100000",
             "--format", "bgra", "--set", "Hue=" + std::to_string(signal), "-o", folder},
            Dir() + "/stderr");
        ASSERT_GT(capture.pid, 0);
        // Until a few frames are on disk (bounded, should the capture fail to start).
        bool partial = false;
        for (int i = 0; i < 500; ++i) {
            if (fs::exists(folder) && FrameFiles(folder, &partial).size() >= 3) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(capture.pid, signal);
        EXPECT_EQ(capture.Wait(), 128 + signal) << test_support::ReadWholeFile(Dir() + "/stderr");
        for (const fs::path& file : FrameFiles(folder, &partial))
            EXPECT_EQ(fs::file_size(file), kFullFrameBgraBytes) << file;
        EXPECT_FALSE(partial) << signal;
        EXPECT_EQ(Tool("get Hue").out, "Hue=" + std::to_string(signal) + "\n");
    }
}

TEST_F(CaptureProcessTest, StandardOutputEndsOnAFrameBoundary) {
    Spawned capture = SpawnTool({"--sim", "--sim-fps", "30", "--settings-dir", Dir(), "capture",
                                 "-n", "100000", "--format", "bgra", "-o", "-"},
                                Dir() + "/stderr");
    ASSERT_GT(capture.pid, 0);
    std::string out = ReadBytes(capture.out, kFullFrameBgraBytes + 100);
    kill(capture.pid, SIGTERM);
    out += ReadBytes(capture.out, size_t(1) << 31);
    EXPECT_EQ(capture.Wait(), 128 + SIGTERM);
    EXPECT_EQ(out.size() % kFullFrameBgraBytes, 0u);
}

TEST_F(CaptureProcessTest, AClosedPipeFailsTheCaptureWithItsSummary) {
    Spawned capture = SpawnTool({"--sim", "--sim-fps", "0", "--settings-dir", Dir(), "capture",
                                 "-n", "100000", "--format", "bgra", "-o", "-"},
                                Dir() + "/stderr");
    ASSERT_GT(capture.pid, 0);
    EXPECT_EQ(ReadBytes(capture.out, 1000).size(), 1000u);
    capture.CloseOutput();
    EXPECT_EQ(capture.Wait(), 1);
    const std::string err = test_support::ReadWholeFile(Dir() + "/stderr");
    EXPECT_NE(err.find("standard output: Broken pipe"), std::string::npos) << err;
    EXPECT_NE(err.find("frames written:"), std::string::npos) << err;
}

TEST_F(CaptureProcessTest, EarlierFramesAreRefusedUnlessOverwritten) {
    const std::string folder = Dir() + "/frames";
    const std::string capture = "capture --roi 0,0,64,32 --format bgra -o '" + folder + "' ";
    ASSERT_EQ(Tool(capture + "-n 3").exitCode, 0);
    ToolRun refused = Tool(capture + "-n 2");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find(folder + " holds 3 frame file(s)"), std::string::npos)
        << refused.err;
    ASSERT_EQ(Tool(capture + "-n 2 --overwrite -q").exitCode, 0);
    bool partial = false;
    std::vector<fs::path> files = FrameFiles(folder, &partial);
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[1].filename(), "frame-0002.bgra");
}

// Inputs that once aborted the tool or read until memory ran out: one line, exit 1, at once.
TEST_F(CaptureProcessTest, HostileImagesEndWithOneLine) {
    const std::string huge = Dir() + "/huge.pgm";
    test_support::WriteWholeFile(huge, "P5\n30000 30000\n255\n");
    for (const std::string& input : {Dir(), std::string("/dev/zero"), huge}) {
        for (const std::string& arguments : {"convert '" + input + "' '" + Dir() + "/out.png'",
                                             "--sim-scene 'file:" + input + "' info"}) {
            ToolRun run = Tool(arguments);
            EXPECT_EQ(run.exitCode, 1) << arguments;
            EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        }
    }
    EXPECT_FALSE(fs::exists(Dir() + "/out.png"));
}

TEST_F(CaptureProcessTest, FailuresSayWhatToDo) {
    const std::string settings = Dir() + "/sim/Settings";
    fs::create_directories(settings);
    test_support::WriteWholeFile(settings + "/values", "RoiW = dword:4\nRoiH = dword:4\n");
    struct Case {
        const char* arguments;
        const char* err;
    };
    const Case cases[] = {
        {"capture -n 1 -o -",
         "gives no image: set one at least 8 pixels wide, e.g. bayercam set "
         "RegionOfInterest=0,0,1360,1024"},
        {"--usb-trace /dev/full info", "the USB trace could not be written completely"},
        {"--usb-trace /dev/full get Hue", "the USB trace could not be written completely"},
        {"--usb-trace /dev/full capture -n 1 -o - --format raw",
         "the USB trace could not be written completely"},
        {"--usb-trace /nonexistent/trace.pcap info", "No such file or directory"},
    };
    for (const Case& c : cases) {
        ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.exitCode, 1) << c.arguments;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

TEST_F(CaptureProcessTest, UsageErrorsExitTwo) {
    for (const char* arguments :
         {"--sim-fps nan get Hue", "--usb-trace - capture -o - -n 1", "--usb 12 get Hue",
          "--sim-scene picture get Hue", "capture --roi 0,0,7,7 -n 1 -o -",
          "capture --set Brightness=4294967295 -n 1 -o -"}) {
        ToolRun run = Tool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments << "\n" << run.err;
        EXPECT_TRUE(run.out.empty()) << arguments;
    }
}

}  // namespace
}  // namespace bayercam::tool_test
