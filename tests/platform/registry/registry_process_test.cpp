// Several processes on one store: killed writers, a full disk, writers racing each other.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "support/registry_test_root.h"

namespace bayercam {
namespace {

using test_support::ReadWholeFile;
using test_support::TestSettingsRoot;

constexpr int kValueCount = 24;

std::string ValueName(char group, int i) {
    return std::string(1, group) + std::to_string(i);
}

struct Keys {
    HANDLE driver = nullptr;
    HANDLE settings = nullptr;
};

bool OpenKeys(TestSettingsRoot& root, Keys* keys) {
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, READ_CONTROL,
                                            &keys->driver))) {
        return false;
    }
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, "Settings", OBJ_CASE_INSENSITIVE, keys->driver);
    if (NT_SUCCESS(ZwCreateKey(&keys->settings, KEY_ALL_ACCESS, &object, 0, nullptr,
                               REG_OPTION_NON_VOLATILE, nullptr))) {
        return true;
    }
    ZwClose(keys->driver);
    return false;
}

// Saves `count` values of `group` all set to `value`; the status of closing "Settings".
NTSTATUS SaveGroup(TestSettingsRoot& root, char group, int count, int32_t value) {
    Keys keys;
    if (!OpenKeys(root, &keys)) return STATUS_UNSUCCESSFUL;
    for (int i = 0; i < count; ++i) {
        ZwSetValueKey(keys.settings, ValueName(group, i).c_str(), 0, REG_DWORD, &value, 4);
    }
    NTSTATUS status = ZwClose(keys.settings);
    ZwClose(keys.driver);
    return status;
}

// What one reader sees of a group: nullopt when the values disagree or only some exist, -1 when
// none exists, else the one value they all hold.
std::optional<int32_t> LoadGroup(HANDLE settings, char group, int count) {
    int found = 0;
    std::optional<int32_t> common;
    for (int i = 0; i < count; ++i) {
        uint8_t buffer[16];
        uint32_t length;
        if (!NT_SUCCESS(ZwQueryValueKey(settings, ValueName(group, i).c_str(),
                                        KeyValuePartialInformation, buffer, sizeof buffer,
                                        &length))) {
            continue;
        }
        int32_t value;
        std::memcpy(&value, buffer + 12, 4);
        if (found++ && value != *common) return std::nullopt;
        common = value;
    }
    if (found == 0) return -1;
    return found == count ? common : std::nullopt;
}

std::optional<int32_t> LoadGroup(TestSettingsRoot& root, char group, int count) {
    Keys keys;
    if (!OpenKeys(root, &keys)) return std::nullopt;
    auto result = LoadGroup(keys.settings, group, count);
    ZwClose(keys.settings);
    ZwClose(keys.driver);
    return result;
}

int WaitForExit(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(RegistryProcesses, AKilledWriterLeavesTheOldOrTheNewValuesWhole) {
    TestSettingsRoot root;
    std::mt19937 random(11);
    int32_t lastSeen = -1;
    for (int round = 0; round < 25; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(ready[0]);
            for (int32_t generation = 0;; ++generation) {
                SaveGroup(root, 'V', kValueCount, round * 1000000 + generation);
                if (generation == 0 && write(ready[1], "x", 1) != 1) _exit(1);
            }
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        usleep(random() % 3000);
        kill(child, SIGKILL);
        EXPECT_EQ(WaitForExit(child), 128 + SIGKILL);

        auto seen = LoadGroup(root, 'V', kValueCount);
        ASSERT_TRUE(seen.has_value()) << "torn save in round " << round;
        EXPECT_GE(*seen, round * 1000000);
        EXPECT_GT(*seen, lastSeen);
        lastSeen = *seen;
    }
}

TEST(RegistryProcesses, AFullDiskLeavesThePreviousFile) {
    TestSettingsRoot root;
    ASSERT_EQ(SaveGroup(root, 'V', kValueCount, 7), STATUS_SUCCESS);
    std::string file = root.ValuesFile("Settings");
    std::string before = ReadWholeFile(file);

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Files may not grow past the size of the current one: the disk is full.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{before.size(), before.size()};
        setrlimit(RLIMIT_FSIZE, &limit);
        Keys keys;
        if (!OpenKeys(root, &keys)) _exit(2);
        std::vector<uint8_t> big(before.size());
        ZwSetValueKey(keys.settings, "V0", 0, REG_BINARY, big.data(), big.size());
        NTSTATUS status = ZwClose(keys.settings);
        ZwClose(keys.driver);
        _exit(NT_SUCCESS(status) ? 1 : 0);
    }
    EXPECT_EQ(WaitForExit(child), 0) << "the failed write was reported as success";
    EXPECT_EQ(ReadWholeFile(file), before);
    EXPECT_FALSE(std::filesystem::exists(root.InstanceFolder() + "/Settings/.values.new"));
    EXPECT_EQ(LoadGroup(root, 'V', kValueCount), 7);
}

TEST(RegistryProcesses, RacingWritersNeitherTearNorLoseSaves) {
    constexpr int kSaves = 60;
    constexpr int kGroupSize = kValueCount / 2;
    TestSettingsRoot root;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    std::vector<pid_t> children;
    for (char group : {'A', 'B'}) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(start[1]);
            char byte;
            if (read(start[0], &byte, 1) != 1) _exit(2);
            for (int i = 1; i <= kSaves; ++i) {
                if (!NT_SUCCESS(SaveGroup(root, group, kGroupSize, i))) _exit(1);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    close(start[0]);
    ASSERT_EQ(write(start[1], "xx", 2), 2);
    close(start[1]);

    // Read while they write: every load sees each group whole.
    int finished = 0;
    int loads = 0;
    while (finished < 2) {
        Keys keys;
        ASSERT_TRUE(OpenKeys(root, &keys));
        EXPECT_TRUE(LoadGroup(keys.settings, 'A', kGroupSize).has_value()) << "load " << loads;
        EXPECT_TRUE(LoadGroup(keys.settings, 'B', kGroupSize).has_value()) << "load " << loads;
        ZwClose(keys.settings);
        ZwClose(keys.driver);
        ++loads;
        finished = 0;
        for (pid_t& child : children) {
            int status;
            if (child > 0 && waitpid(child, &status, WNOHANG) == child) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
                child = -1;
            }
            finished += child < 0;
        }
    }
    // Each writer's last save is in the file: no save overwrote another's values.
    EXPECT_EQ(LoadGroup(root, 'A', kGroupSize), kSaves);
    EXPECT_EQ(LoadGroup(root, 'B', kGroupSize), kSaves);
}

}  // namespace
}  // namespace bayercam
