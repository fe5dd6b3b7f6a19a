#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/registry_test_root.h"

namespace bayercam {
namespace {

struct ToolRun {
    int exitCode;
    std::string out;
    std::string err;
};

// Runs the tool on the simulated camera with its settings in `settingsDir`.
ToolRun Tool(const std::string& settingsDir, const std::string& arguments) {
    std::string errFile = settingsDir + "/stderr";
    // Appended piece by piece: GCC 12 misreads a long chain of temporaries as an overflow.
    std::string command = BAYERCAM_TOOL;
    command += " --sim --sim-fps 0 --settings-dir '";
    command += settingsDir + "' " + arguments + " 2>'" + errFile + "'";
    ToolRun run{};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, "", "popen failed"};
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = test_support::ReadWholeFile(errFile);
    return run;
}

class PropertyCommandsTest : public ::testing::Test {
  protected:
    ToolRun Tool(const std::string& arguments) { return bayercam::Tool(root_.root(), arguments); }
    test_support::TestSettingsRoot root_;
};

TEST_F(PropertyCommandsTest, ExitCodesAndMessages) {
    struct Case {
        const char* arguments;
        int exitCode;
        const char* out;  // the whole of stdout
        const char* err;  // part of stderr
    };
    const Case cases[] = {
        {"get Exposure", 0, "Exposure=8\n", ""},
        {"get exposuremax 39 huedefault", 0, "ExposureMax=1074\nSensorHeight=1024\nHueDefault=0\n",
         ""},
        {"set Hue=360 redgain=0 Brightness=300", 0, "Hue=359\nRedGain=1\nBrightness=300\n", ""},
        {"set ExposureMax=3", 1, "", "ExposureMax cannot be set"},
        {"get Reinitialize", 1, "", "Reinitialize cannot be read"},
        {"get SensorRegisterWrite", 1, "", "STATUS_UNSUCCESSFUL"},
        {"get Brightness Nope", 2, "", "'Nope': no such property"},
        {"get 69", 2, "", "'69': no such property"},
        {"set Brightness=bright", 2, "", "Brightness takes INTEGER"},
        {"set Brightness", 2, "", "expected NAME=VALUE"},
        {"set RegionOfInterest=1,2", 2, "", "RegionOfInterest takes X,Y,W,H"},
        {"set RawCommand=1,256", 2, "", "bytes are 0..255"},
        {"set RegionOfInterest=3,5,100,50 RawCommand=0x11,0x22 SensorRegisterWrite=6,37", 0,
         "RegionOfInterest=4,6,100,50\n", ""},
        {"get RegionOfInterest", 0, "RegionOfInterest=4,6,100,50\n", ""},
        {"set RegionOfInterest=0,0,7,7", 2, "", "the region must be at least 8 pixels wide"},
        {"set Brightness=2147483648", 2, "", "Brightness takes INTEGER"},
        {"set Brightness=4294967295", 2, "", "Brightness takes INTEGER"},
        {"set Brightness=-2147483648", 0, "Brightness=0\n", ""},
        {"reinit", 0, "camera re-initialised\n", ""},
    };
    for (const Case& c : cases) {
        ToolRun run = Tool(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << c.arguments << "\n" << run.err;
    }
}

TEST_F(PropertyCommandsTest, SettingsReachTheNextProcess) {
    ASSERT_EQ(Tool("set Brightness=300 FlipH=1 Timeout=500").exitCode, 0);
    ToolRun run = Tool("get Brightness FlipH Timeout");
    EXPECT_EQ(run.out, "Brightness=300\nFlipH=1\nTimeout=3000\n");
    // Another settings folder is another store.
    test_support::TestSettingsRoot other;
    EXPECT_EQ(bayercam::Tool(other.root(), "get Brightness").out, "Brightness=255\n");
}

TEST_F(PropertyCommandsTest, PropsListsEveryPropertyAsJson) {
    ToolRun run = Tool("props --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.rfind("{\"properties\": [\n", 0), 0u);
    EXPECT_EQ(run.out.substr(run.out.size() - 3), "]}\n");
    size_t entries = 0;
    for (size_t at = run.out.find("{\"id\": "); at != std::string::npos;
         at = run.out.find("{\"id\": ", at + 1)) {
        EXPECT_EQ(run.out.compare(at, 8 + std::to_string(entries).size(),
                                  "{\"id\": " + std::to_string(entries) + ","),
                  0)
            << "entry " << entries << " out of order";
        ++entries;
    }
    EXPECT_EQ(entries, 69u);
    const char* lines[] = {
        "{\"id\": 2, \"name\": \"Exposure\", \"get\": true, \"set\": true, \"value\": 8, "
        "\"min\": 8, \"max\": 1074, \"default\": 8},",
        "{\"id\": 6, \"name\": \"GlobalGain\", \"get\": true, \"set\": true, \"value\": 0, "
        "\"min\": 0, \"max\": 1023, \"default\": 512},",
        "{\"id\": 15, \"name\": \"GreenGain\", \"get\": true, \"set\": true, \"value\": 128, "
        "\"min\": 1, \"max\": 512, \"default\": 128},",
        "{\"id\": 32, \"name\": \"Hue\", \"get\": true, \"set\": true, \"value\": 0, "
        "\"min\": 0, \"max\": 359, \"default\": 0},",
        "{\"id\": 44, \"name\": \"RegionOfInterest\", \"get\": false, \"set\": true, "
        "\"value\": null, \"min\": null, \"max\": null, \"default\": null},",
        "{\"id\": 59, \"name\": \"RawCommand\", \"get\": true, \"set\": true, \"value\": null, "
        "\"min\": null, \"max\": null, \"default\": null},",
        "{\"id\": 68, \"name\": \"Reserved68\", \"get\": true, \"set\": false, \"value\": 0, "
        "\"min\": null, \"max\": null, \"default\": null}\n",
    };
    for (const char* line : lines) EXPECT_NE(run.out.find(line), std::string::npos) << line;
}

TEST_F(PropertyCommandsTest, ConvertStartsFromTheSavedSettings) {
    std::string raw = root_.root() + "/raw.pgm";
    std::string frame = "P5\n1360 1024\n255\n";
    for (int i = 0; i < 1360 * 1024; ++i) frame += static_cast<char>(i * 7 % 251);
    test_support::WriteWholeFile(raw, frame);
    std::string out = root_.root() + "/out.bgra";
    auto Convert = [&](const std::string& overrides) {
        ToolRun run = Tool("convert " + raw + " " + out + " " + overrides);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return test_support::ReadWholeFile(out);
    };
    EXPECT_EQ(Convert("").size(), 1360u * 1024 * 4);
    ASSERT_EQ(Tool("set RegionOfInterest=8,8,640,480 Brightness=300").exitCode, 0);
    std::string saved = Convert("");
    EXPECT_EQ(saved.size(), 640u * 480 * 4);
    EXPECT_EQ(Convert("--set brightness=300"), saved);
    EXPECT_NE(Convert("--set Brightness=255"), saved);
    EXPECT_EQ(Tool("convert " + raw + " " + out + " --set Exposure=9").exitCode, 2);
}

}  // namespace
}  // namespace bayercam
