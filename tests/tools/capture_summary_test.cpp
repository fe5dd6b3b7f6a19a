#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tools/tool_process.h"

namespace bayercam::tool_test {
namespace {

// The number after `label` in the capture summary, or -1 when the line is missing.
double SummaryValue(const std::string& summary, const std::string& label) {
    const size_t at = summary.find("\n" + label);
    if (at == std::string::npos) return -1;
    return std::strtod(summary.c_str() + at + 1 + label.size(), nullptr);
}

// The driver's share leaves out the simulated camera and the writer, so it is a real part of the
// process's time: neither nothing (its threads not counted) nor all of it.
TEST(CaptureSummaryTest, DriverCpuIsPartOfTheProcessCpu) {
    test_support::TestSettingsRoot root;
    const ToolRun run =
        RunShell(ToolCommand(root.root(), "capture -n 40 --format bgra -o -"), root.root());
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const double process = SummaryValue(run.err, "cpu per frame:");
    const double driver = SummaryValue(run.err, "driver cpu per frame: ");
    EXPECT_GT(driver, 0) << run.err;
    EXPECT_LT(driver, process) << run.err;
    EXPECT_NE(run.err.find(" ms\n", run.err.find("driver cpu per frame: ")), std::string::npos);
}

}  // namespace
}  // namespace bayercam::tool_test
