#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tools/tool_process.h"

namespace bayercam::tool_test {
namespace {

// A full file system, as a small tmpfs mounted in a mount namespace of the test's own: settings
// and files that do not fit fail with the system's reason and leave nothing half written.
TEST(FullDisk, NothingIsLeftHalfWrittenAndTheReasonIsSaid) {
    test_support::TestSettingsRoot root;
    const std::string scratch = root.root();
    const std::string disk = scratch + "/disk";
    std::filesystem::create_directories(disk);
    test_support::WriteWholeFile(scratch + "/raw.pgm",
                                 "P5\n1360 1024\n255\n" + std::string(size_t(1360) * 1024, '\x40'));
    auto tool = [&](const std::string& settings, const std::string& arguments, const char* name) {
        return ToolCommand(settings, arguments) + " >/dev/null 2>'" + scratch + "/" + name +
               ".err'; echo $? >'" + scratch + "/" + name + ".status'\n";
    };
    std::string script = "mount -t tmpfs -o size=256k tmpfs '" + disk + "' || exit 77\n";
    script += ToolCommand(disk + "/settings", "set Hue=44") + " >/dev/null 2>&1 || exit 78\n";
    script += "dd if=/dev/zero of='" + disk + "/fill' bs=4k >/dev/null 2>&1\n";
    script += tool(disk + "/settings", "set Hue=45", "set");
    script += tool(scratch, "capture -n 1 --format bgra -o '" + disk + "/frames'", "capture");
    script += tool(scratch, "convert '" + scratch + "/raw.pgm' '" + disk + "/out.png'", "convert");
    script += "ls -A '" + disk + "' '" + disk + "/frames' >'" + scratch + "/listing'\n";
    test_support::WriteWholeFile(scratch + "/script", script);
    const int status = ExitCode(system(("unshare -m sh '" + scratch + "/script'").c_str()));
    if (status == 77 || status == 1) GTEST_SKIP() << "no tmpfs can be mounted here";
    ASSERT_EQ(status, 0);

    struct Case {
        const char* name;
        std::string err;
    };
    const Case cases[] = {
        {"set", "bayercam: settings not saved to " + disk +
                    "/settings/sim/Settings/values: No space left on device\n"},
        {"capture", "frame-0001.bgra: No space left on device"},
        {"convert", "out.png: No space left on device"},
    };
    for (const Case& c : cases) {
        const std::string base = scratch + "/" + c.name;
        EXPECT_EQ(test_support::ReadWholeFile(base + ".status"), "1\n") << c.name;
        const std::string err = test_support::ReadWholeFile(base + ".err");
        EXPECT_NE(err.find(c.err), std::string::npos) << c.name << ": " << err;
    }
    // The disk holds the filler, the settings and the empty frame folder; nothing else.
    const std::string listing = test_support::ReadWholeFile(scratch + "/listing");
    EXPECT_EQ(listing.find("frame-"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("out.png"), std::string::npos) << listing;
    EXPECT_EQ(listing.find(".part"), std::string::npos) << listing;
}

}  // namespace
}  // namespace bayercam::tool_test
