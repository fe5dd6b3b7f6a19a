#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/kernel/pool.h"
#include "platform/registry/registry.h"
#include "support/registry_test_root.h"

namespace bayercam {
namespace {

using test_support::ReadWholeFile;
using test_support::TestSettingsRoot;
using test_support::WriteWholeFile;

HANDLE OpenDriverKey(TestSettingsRoot& root, ACCESS_MASK access = READ_CONTROL) {
    HANDLE key = nullptr;
    EXPECT_EQ(IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, access, &key),
              STATUS_SUCCESS);
    return key;
}

NTSTATUS CreateKey(HANDLE parent, const char* name, HANDLE* key,
                   ACCESS_MASK access = KEY_ALL_ACCESS, uint32_t* disposition = nullptr,
                   uint32_t attributes = OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE) {
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, name, attributes, parent);
    return ZwCreateKey(key, access, &object, 0, nullptr, REG_OPTION_NON_VOLATILE, disposition);
}

NTSTATUS SetBytes(HANDLE key, const char* name, uint32_t type, std::vector<uint8_t> data) {
    return ZwSetValueKey(key, name, 0, type, data.data(), static_cast<uint32_t>(data.size()));
}

// Opens the driver key and "Settings" below it for the length of a test.
struct SettingsKeys {
    explicit SettingsKeys(TestSettingsRoot& root) : driver(OpenDriverKey(root)) {
        EXPECT_EQ(CreateKey(driver, "Settings", &settings), STATUS_SUCCESS);
    }
    ~SettingsKeys() {
        if (settings) ZwClose(settings);
        if (driver) ZwClose(driver);
    }
    NTSTATUS Reopen() {
        NTSTATUS status = ZwClose(settings);
        settings = nullptr;
        EXPECT_EQ(CreateKey(driver, "Settings", &settings), STATUS_SUCCESS);
        return status;
    }
    HANDLE driver = nullptr;
    HANDLE settings = nullptr;
};

struct QueryCase {
    size_t dataBytes;
    uint32_t bufferBytes;
    NTSTATUS status;
    bool headerFilled;
    bool dataFilled;
};

TEST(Registry, QueryAnswersLikeTheKernelForEveryBufferSize) {
    const QueryCase cases[] = {
        {4, 0, STATUS_BUFFER_TOO_SMALL, false, false},
        {4, 11, STATUS_BUFFER_TOO_SMALL, false, false},
        {4, 12, STATUS_BUFFER_OVERFLOW, true, false},
        {4, 15, STATUS_BUFFER_OVERFLOW, true, false},
        {4, 16, STATUS_SUCCESS, true, true},
        {4, 20, STATUS_SUCCESS, true, true},
        {0, 12, STATUS_SUCCESS, true, true},
        {9, 20, STATUS_BUFFER_OVERFLOW, true, false},
        {8, 20, STATUS_SUCCESS, true, true},
    };
    TestSettingsRoot root;
    SettingsKeys keys(root);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.dataBytes << " data bytes, " << c.bufferBytes << " buffer bytes");
        std::vector<uint8_t> data(c.dataBytes);
        for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
        ASSERT_EQ(SetBytes(keys.settings, "Value", REG_BINARY, data), STATUS_SUCCESS);

        std::vector<uint8_t> buffer(32, 0xEE);
        uint32_t resultLength = 0;
        EXPECT_EQ(ZwQueryValueKey(keys.settings, "Value", KeyValuePartialInformation, buffer.data(),
                                  c.bufferBytes, &resultLength),
                  c.status);
        EXPECT_EQ(resultLength, 12 + c.dataBytes);
        KEY_VALUE_PARTIAL_INFORMATION header;
        std::memcpy(&header, buffer.data(), 12);
        if (c.headerFilled) {
            EXPECT_EQ(header.TitleIndex, 0u);
            EXPECT_EQ(header.Type, REG_BINARY);
            EXPECT_EQ(header.DataLength, c.dataBytes);
        } else {
            EXPECT_EQ(buffer[0], 0xEE);
        }
        std::vector<uint8_t> copied(buffer.begin() + 12, buffer.begin() + 12 + c.dataBytes);
        if (c.dataFilled) {
            EXPECT_EQ(copied, data);
        } else if (c.dataBytes) {
            EXPECT_EQ(copied, std::vector<uint8_t>(c.dataBytes, 0xEE));
        }
        // Nothing is written past the buffer it was given.
        EXPECT_EQ(buffer[std::max<size_t>(c.bufferBytes, 12 + c.dataBytes)], 0xEE);
    }
}

TEST(Registry, BadCallsAreRefused) {
    TestSettingsRoot root;
    SettingsKeys keys(root);
    uint8_t buffer[20];
    uint32_t length = 0;
    int notAKey = 0;
    struct Case {
        const char* what;
        NTSTATUS got;
        NTSTATUS expected;
    };
    HANDLE unset = reinterpret_cast<HANDLE>(1);
    DEVICE_OBJECT stranger{};
    const Case cases[] = {
        {"missing value",
         ZwQueryValueKey(keys.settings, "Nope", KeyValuePartialInformation, buffer, 20, &length),
         STATUS_OBJECT_NAME_NOT_FOUND},
        {"other information class",
         ZwQueryValueKey(keys.settings, "Nope", KeyValueFullInformation, buffer, 20, &length),
         STATUS_INVALID_PARAMETER},
        {"no result length",
         ZwQueryValueKey(keys.settings, "Nope", KeyValuePartialInformation, buffer, 20, nullptr),
         STATUS_INVALID_PARAMETER},
        {"query on a non-handle",
         ZwQueryValueKey(&notAKey, "Nope", KeyValuePartialInformation, buffer, 20, &length),
         STATUS_INVALID_PARAMETER},
        {"set on a non-handle", SetBytes(&notAKey, "X", REG_DWORD, {1, 0, 0, 0}),
         STATUS_INVALID_PARAMETER},
        {"set without data", ZwSetValueKey(keys.settings, "X", 0, REG_DWORD, nullptr, 4),
         STATUS_INVALID_PARAMETER},
        {"set on a read-control key", SetBytes(keys.driver, "X", REG_DWORD, {1, 0, 0, 0}),
         STATUS_ACCESS_DENIED},
        {"query on a read-control key",
         ZwQueryValueKey(keys.driver, "X", KeyValuePartialInformation, buffer, 20, &length),
         STATUS_ACCESS_DENIED},
        {"close of a non-handle", ZwClose(unset), STATUS_INVALID_PARAMETER},
        {"flush of a non-handle", ZwFlushKey(unset), STATUS_INVALID_PARAMETER},
        {"unregistered device",
         IoOpenDeviceRegistryKey(&stranger, PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &unset),
         STATUS_INVALID_DEVICE_REQUEST},
        {"device key type",
         IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DEVICE, READ_CONTROL, &unset),
         STATUS_INVALID_PARAMETER},
        {"value too large",
         SetBytes(keys.settings, "Huge", REG_BINARY, std::vector<uint8_t>(600 * 1024)),
         STATUS_INSUFFICIENT_RESOURCES},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.expected) << c.what << ": " << NtStatusName(c.got);
    }
}

TEST(Registry, KeyNamesThatCannotBeFoldersAreRefused) {
    const char* names[] = {"",       ".",      "..",  ".hidden", "a/b",     "values",
                           "VALUES", "a\\\\b", "a\\", "\\a",     "a\\..\\b"};
    TestSettingsRoot root;
    HANDLE driver = OpenDriverKey(root);
    for (const char* name : names) {
        HANDLE key = reinterpret_cast<HANDLE>(1);
        EXPECT_EQ(CreateKey(driver, name, &key), STATUS_INVALID_PARAMETER) << name;
        EXPECT_EQ(key, nullptr);
    }
    EXPECT_EQ(ZwClose(driver), STATUS_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(root.InstanceFolder() + "/a"));
}

TEST(Registry, CreateMakesOnlyTheLastComponent) {
    TestSettingsRoot root;
    HANDLE driver = OpenDriverKey(root);
    HANDLE key = nullptr;
    uint32_t disposition = 0;
    EXPECT_EQ(CreateKey(driver, "A\\B", &key), STATUS_OBJECT_NAME_NOT_FOUND);
    EXPECT_FALSE(std::filesystem::exists(root.InstanceFolder() + "/A"));

    ASSERT_EQ(CreateKey(driver, "A", &key, KEY_ALL_ACCESS, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    ASSERT_EQ(CreateKey(driver, "A\\B", &key, KEY_ALL_ACCESS, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    ASSERT_EQ(CreateKey(driver, "a\\b", &key, KEY_ALL_ACCESS, &disposition), STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_directory(root.InstanceFolder() + "/A/B"));

    // Without OBJ_CASE_INSENSITIVE the spelling must match.
    ASSERT_EQ(CreateKey(driver, "a", &key, KEY_ALL_ACCESS, &disposition, OBJ_KERNEL_HANDLE),
              STATUS_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_EQ(ZwClose(key), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(driver), STATUS_SUCCESS);
}

TEST(Registry, SetValuesReachTheFileAtFlushOrCloseMergedWithOthers) {
    TestSettingsRoot root;
    SettingsKeys keys(root);
    std::string file = root.ValuesFile("Settings");
    ASSERT_EQ(SetBytes(keys.settings, "Exposure", REG_DWORD, {8, 0, 0, 0}), STATUS_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(file));

    // The handle sees its own write at once; a second handle still sees the file.
    uint8_t buffer[20];
    uint32_t length;
    EXPECT_EQ(
        ZwQueryValueKey(keys.settings, "exposure", KeyValuePartialInformation, buffer, 20, &length),
        STATUS_SUCCESS);
    HANDLE other = nullptr;
    ASSERT_EQ(CreateKey(keys.driver, "Settings", &other), STATUS_SUCCESS);
    EXPECT_EQ(ZwQueryValueKey(other, "Exposure", KeyValuePartialInformation, buffer, 20, &length),
              STATUS_OBJECT_NAME_NOT_FOUND);
    // Each handle writes what it set, merged into what the file holds by then.
    ASSERT_EQ(SetBytes(other, "Gain", REG_DWORD, {1, 0, 0, 0}), STATUS_SUCCESS);
    EXPECT_EQ(ZwClose(other), STATUS_SUCCESS);
    EXPECT_EQ(ZwFlushKey(keys.settings), STATUS_SUCCESS);
    EXPECT_NE(ReadWholeFile(file).find("\nExposure = dword:8\n"), std::string::npos);
    EXPECT_NE(ReadWholeFile(file).find("\nGain = dword:1\n"), std::string::npos);
    // A later spelling updates the value under the name it was first written with.
    ASSERT_EQ(SetBytes(keys.settings, "EXPOSURE", REG_DWORD, {9, 0, 0, 0}), STATUS_SUCCESS);
    EXPECT_EQ(keys.Reopen(), STATUS_SUCCESS);
    EXPECT_NE(ReadWholeFile(file).find("\nExposure = dword:9\n"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(file).find("EXPOSURE"), std::string::npos);
}

TEST(Registry, ADirectoryInPlaceOfTheFileReadsEmptyAndFailsTheWrite) {
    TestSettingsRoot root;
    std::filesystem::create_directories(root.ValuesFile("Settings"));
    SettingsKeys keys(root);
    ASSERT_NE(keys.settings, nullptr);
    uint8_t buffer[20];
    uint32_t length;
    ASSERT_EQ(SetBytes(keys.settings, "A", REG_DWORD, {1, 0, 0, 0}), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(ZwClose(keys.settings)));
    keys.settings = nullptr;
    EXPECT_TRUE(std::filesystem::is_directory(root.ValuesFile("Settings")));
    EXPECT_FALSE(std::filesystem::exists(root.InstanceFolder() + "/Settings/.values.new"));
    ASSERT_EQ(CreateKey(keys.driver, "Settings", &keys.settings), STATUS_SUCCESS);
    EXPECT_EQ(ZwQueryValueKey(keys.settings, "A", KeyValuePartialInformation, buffer, 20, &length),
              STATUS_OBJECT_NAME_NOT_FOUND);
}

// Runs `body` in a child process without root's right to ignore permissions; the child's exit
// code is what `body` returns.
int RunUnprivileged(int (*body)(TestSettingsRoot&), TestSettingsRoot& root) {
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
        _exit(body(root));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

// Attempts for the permission table: 0 when the open failed, 1 when it succeeded.
int OpenDriverKeyAttempt(TestSettingsRoot& root) {
    HANDLE key = nullptr;
    NTSTATUS status =
        IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &key);
    if (!NT_SUCCESS(status)) return key == nullptr ? 0 : 3;
    ZwClose(key);
    return 1;
}

int OpenSettingsAttempt(TestSettingsRoot& root) {
    HANDLE driver = nullptr, key = nullptr;
    if (!NT_SUCCESS(IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, READ_CONTROL,
                                            &driver))) {
        return 2;
    }
    NTSTATUS status = CreateKey(driver, "Settings", &key);
    ZwClose(driver);
    if (!NT_SUCCESS(status)) return key == nullptr ? 0 : 3;
    ZwClose(key);
    return 1;
}

void MakeFolder(const std::string& path, mode_t mode) {
    std::filesystem::create_directories(path);
    chmod(path.c_str(), mode);
}

TEST(Registry, FoldersThatCannotBeReadOrMadeMakeTheOpenFail) {
    struct Case {
        const char* what;
        void (*prepare)(TestSettingsRoot& root);
        int (*attempt)(TestSettingsRoot& root);
        int expected;
    };
    const Case cases[] = {
        {"writable folders", [](TestSettingsRoot& root) { chmod(root.root().c_str(), 0777); },
         OpenSettingsAttempt, 1},
        {"root is a file",
         [](TestSettingsRoot& root) {
             std::filesystem::remove_all(root.root());
             WriteWholeFile(root.root(), "x");
         },
         OpenDriverKeyAttempt, 0},
        {"instance folder is a file",
         [](TestSettingsRoot& root) { WriteWholeFile(root.InstanceFolder(), "x"); },
         OpenDriverKeyAttempt, 0},
        {"Settings is a file",
         [](TestSettingsRoot& root) { WriteWholeFile(root.InstanceFolder() + "/Settings", "x"); },
         OpenSettingsAttempt, 0},
        {"unreadable instance folder",
         [](TestSettingsRoot& root) { MakeFolder(root.InstanceFolder(), 0); }, OpenDriverKeyAttempt,
         0},
        {"read-only instance folder, no Settings yet",
         [](TestSettingsRoot& root) { MakeFolder(root.InstanceFolder(), 0555); },
         OpenSettingsAttempt, 0},
        // Reading needs no write access: its writes fail at the flush instead.
        {"read-only Settings folder",
         [](TestSettingsRoot& root) {
             MakeFolder(root.InstanceFolder(), 0777);
             MakeFolder(root.InstanceFolder() + "/Settings", 0555);
         },
         OpenSettingsAttempt, 1},
        {"read-only root, no instance folder yet",
         [](TestSettingsRoot& root) { chmod(root.root().c_str(), 0555); }, OpenDriverKeyAttempt, 0},
    };
    for (const auto& c : cases) {
        TestSettingsRoot root;
        c.prepare(root);
        EXPECT_EQ(RunUnprivileged(c.attempt, root), c.expected) << c.what;
    }
}

TEST(Registry, EveryFailedAllocationFailsCleanly) {
    TestSettingsRoot root;
    int64_t live = pool::LiveAllocations();
    bool sawSuccess = false;
    for (uint64_t n = 1; !sawSuccess; ++n) {
        pool::Reset();
        pool::FailNth(n);
        HANDLE driver = nullptr, settings = nullptr;
        NTSTATUS status =
            IoOpenDeviceRegistryKey(root.device(), PLUGPLAY_REGKEY_DRIVER, READ_CONTROL, &driver);
        if (NT_SUCCESS(status)) {
            status = CreateKey(driver, "Settings", &settings);
            if (NT_SUCCESS(status)) {
                SetBytes(settings, "A", REG_DWORD, {1, 0, 0, 0});
                ZwClose(settings);
            }
            ZwClose(driver);
        }
        if (pool::InjectedFailures() == 0) {
            sawSuccess = true;
            EXPECT_EQ(status, STATUS_SUCCESS);
        } else {
            EXPECT_EQ(status, STATUS_INSUFFICIENT_RESOURCES) << "allocation " << n;
            EXPECT_EQ(settings, nullptr);
        }
        EXPECT_EQ(pool::LiveAllocations(), live) << "allocation " << n;
    }
    pool::Reset();
}

}  // namespace
}  // namespace bayercam
