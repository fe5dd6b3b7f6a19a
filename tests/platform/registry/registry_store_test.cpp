#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/registry/registry_store.h"

namespace bayercam {
namespace {

// A values file of exactly `bytes` bytes: one readable value, then lines nobody can read.
std::string FileOfSize(size_t bytes) {
    std::string text = FormatRegistryValues({{"Gain", 4, {7, 0, 0, 0}}});
    while (text.size() < bytes) {
        size_t line = std::min<size_t>(bytes - text.size(), 4096);
        text.append(line - 1, 'x');
        text.push_back('\n');
    }
    return text;
}

TEST(RegistryStore, ValuesFileIsReadWholeUpToTheLimitAndNotPastIt) {
    struct Case {
        size_t bytes;
        bool hasValues;
    };
    const Case cases[] = {
        {0, true},  // just the value line
        {4096, true},
        {kMaxValuesFileBytes / 2 + 1, true},
        {kMaxValuesFileBytes - 1, true},
        {kMaxValuesFileBytes, true},
        {kMaxValuesFileBytes + 1, false},
        {2 * kMaxValuesFileBytes, false},
    };
    char pattern[] = "/tmp/registry_store_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::filesystem::path folder = pattern;
    const int folderFd = open(pattern, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folderFd, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const std::string text = FileOfSize(c.bytes);
        std::ofstream(folder / kValuesFileName, std::ios::binary | std::ios::trunc) << text;
        const std::vector<RegistryValue> values = ReadValuesFile(folderFd);
        if (!c.hasValues) {
            EXPECT_TRUE(values.empty());
            continue;
        }
        ASSERT_EQ(values.size(), 1u);
        EXPECT_EQ(values[0].name, "Gain");
        EXPECT_EQ(values[0].data, (std::vector<uint8_t>{7, 0, 0, 0}));
    }
    close(folderFd);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace bayercam
