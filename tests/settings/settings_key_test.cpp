#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/settings_key.h"
#include "settings/settings_values.h"
#include "support/registry_test_root.h"

namespace bayercam {
namespace {

using test_support::ReadWholeFile;
using test_support::TestSettingsRoot;

// The driver key and its settings group, as a load or save opens them.
struct OpenedSettings {
    explicit OpenedSettings(TestSettingsRoot& root, const char* path = kSettingsKeyName) {
        EXPECT_EQ(
            IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driver),
            STATUS_SUCCESS);
        status = OpenSettingsKey(driver, &key, path);
    }
    ~OpenedSettings() {
        if (key) ZwClose(key);
        ZwClose(driver);
    }
    HANDLE driver = nullptr;
    HANDLE key = nullptr;
    NTSTATUS status;
};

struct StoredCase {
    const char* what;
    uint32_t type;
    std::vector<uint8_t> data;
    bool read;
    int32_t expected;
};

TEST(SettingsKey, OnlyDwordsOfFourToEightBytesAreRead) {
    const StoredCase cases[] = {
        {"dword", REG_DWORD, {0x2a, 0, 0, 0}, true, 42},
        {"negative dword", REG_DWORD, {0xff, 0xff, 0xff, 0xff}, true, -1},
        {"8-byte dword: its first 4 bytes", REG_DWORD, {1, 2, 0, 0, 9, 9, 9, 9}, true, 0x0201},
        {"9-byte dword does not fit", REG_DWORD, {1, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"2-byte dword", REG_DWORD, {5, 0}, false, 0},
        {"empty dword", REG_DWORD, {}, false, 0},
        {"text", REG_SZ, {'1', '2', '3', 0}, false, 0},
        {"2 bytes of binary", REG_BINARY, {5, 0}, false, 0},
        {"4 bytes of binary", REG_BINARY, {5, 0, 0, 0}, false, 0},
        {"8 bytes of binary", REG_BINARY, {5, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"9 bytes of binary", REG_BINARY, {5, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"big-endian dword", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 5}, false, 0},
    };
    TestSettingsRoot root;
    OpenedSettings settings(root);
    ASSERT_EQ(settings.status, STATUS_SUCCESS);
    for (const auto& c : cases) {
        ASSERT_EQ(ZwSetValueKey(settings.key, "Exposure", 0, c.type, c.data.data(),
                                static_cast<uint32_t>(c.data.size())),
                  STATUS_SUCCESS);
        int32_t value = 777;
        EXPECT_EQ(QueryDwordSetting(settings.key, "Exposure", &value), c.read) << c.what;
        EXPECT_EQ(value, c.read ? c.expected : 777) << c.what;
    }
    int32_t value = 777;
    EXPECT_FALSE(QueryDwordSetting(settings.key, "Missing", &value));
    EXPECT_EQ(value, 777);
}

TEST(SettingsKey, AllSettingsSurviveASaveAndALoad) {
    TestSettingsRoot root;
    std::array<int32_t, kControlCount> saved;
    for (size_t i = 0; i < kControlCount; ++i) saved[i] = static_cast<int32_t>(i * 1000) - 5000;
    {
        OpenedSettings settings(root);
        ASSERT_EQ(settings.status, STATUS_SUCCESS);
        for (size_t i = 0; i < kControlCount; ++i) {
            StoreDwordSetting(settings.key, kControls[i].savedName, saved[i]);
        }
    }
    OpenedSettings settings(root);
    ASSERT_EQ(settings.status, STATUS_SUCCESS);
    for (size_t i = 0; i < kControlCount; ++i) {
        int32_t value = kControls[i].defaultValue;
        EXPECT_TRUE(QueryDwordSetting(settings.key, kControls[i].savedName, &value));
        EXPECT_EQ(value, saved[i]) << kControls[i].savedName;
    }
    // One readable line per value, in the order they were saved.
    std::string text = ReadWholeFile(root.ValuesFile(kSettingsKeyName));
    size_t previous = 0;
    for (size_t i = 0; i < kControlCount; ++i) {
        std::string line = std::string("\n") + kControls[i].savedName +
                           " = dword:" + std::to_string(saved[i]) + "\n";
        size_t at = text.find(line);
        ASSERT_NE(at, std::string::npos) << line << text;
        EXPECT_GT(at, previous) << line;
        previous = at;
    }
}

TEST(SettingsKey, AMissingGroupIsCreatedAndKeepsEveryDefault) {
    TestSettingsRoot root;
    OpenedSettings settings(root);
    ASSERT_EQ(settings.status, STATUS_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(root.InstanceFolder() + "/" + kSettingsKeyName));
    for (const ControlInfo& setting : kControls) {
        int32_t value = setting.defaultValue;
        EXPECT_FALSE(QueryDwordSetting(settings.key, setting.savedName, &value))
            << setting.savedName;
        EXPECT_EQ(value, setting.defaultValue);
    }
}

TEST(SettingsKey, EachLeadingPartOfAPathIsCreated) {
    struct Case {
        const char* path;
        NTSTATUS status;
        const char* mustExist;
    };
    const Case cases[] = {
        {"A\\B\\C", STATUS_SUCCESS, "A/B/C"},
        {"D\\values", STATUS_INVALID_PARAMETER, "D"},
        {"E\\\\F", STATUS_INVALID_PARAMETER, "E"},
    };
    for (const auto& c : cases) {
        TestSettingsRoot root;
        OpenedSettings settings(root, c.path);
        EXPECT_EQ(settings.status, c.status) << c.path;
        EXPECT_EQ(settings.key != nullptr, NT_SUCCESS(c.status)) << c.path;
        EXPECT_TRUE(std::filesystem::is_directory(root.InstanceFolder() + "/" + c.mustExist))
            << c.path;
    }
}

}  // namespace
}  // namespace bayercam
