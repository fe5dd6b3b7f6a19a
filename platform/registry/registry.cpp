#include "platform/registry/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "platform/kernel/pool.h"
#include "platform/registry/registry_store.h"
#include "platform/registry/registry_text.h"

namespace bayercam {
namespace {

constexpr size_t kMaxValueNameBytes = 16383;
constexpr size_t kMaxInstanceIdBytes = 255;

// A key folder, whatever name or handle reaches it.
struct FolderId {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FolderId&) const = default;
};

// An open key: its folder, the values read at open plus those set through it, and the names
// set since the last flush.
struct RegistryKey {
    std::mutex lock;
    int folderFd;
    std::string path;
    FolderId folder;
    bool writable;
    bool readable;
    std::vector<RegistryValue> values;
    std::vector<std::string> changed;
};

std::mutex stateLock;
std::string settingsRoot;
// Instance folder and, when the device has one of its own, settings root of each bound device.
struct DeviceBinding {
    std::string instanceId;
    std::string root;
};
std::map<DEVICE_OBJECT*, DeviceBinding> bindings;
std::unordered_set<RegistryKey*> openKeys;
// Per folder, each value as this process last read it, took it in its place, or wrote it: what
// a save compares against to find this process's own changes.
std::map<FolderId, std::vector<RegistryValue>> seenValues;
std::optional<RegistryWriteFailure> writeFailure;

void RecordWriteFailure(const std::string& path, int error, bool lost) {
    std::lock_guard<std::mutex> guard(stateLock);
    if (!writeFailure || (lost && !writeFailure->lost)) writeFailure = {path, error, lost};
}

void RememberSeen(const FolderId& folder, const RegistryValue& value) {
    std::lock_guard<std::mutex> guard(stateLock);
    std::vector<RegistryValue>& seen = seenValues[folder];
    if (RegistryValue* known = FindRegistryValue(seen, value.name))
        *known = value;
    else
        seen.push_back(value);
}

bool SameAsSeen(const FolderId& folder, const RegistryValue& value) {
    std::lock_guard<std::mutex> guard(stateLock);
    auto found = seenValues.find(folder);
    if (found == seenValues.end()) return false;
    const RegistryValue* known = FindRegistryValue(found->second, value.name);
    return known && known->type == value.type && known->data == value.data;
}

RegistryKey* LookUpKey(HANDLE handle) {
    std::lock_guard<std::mutex> guard(stateLock);
    auto* key = static_cast<RegistryKey*>(handle);
    return openKeys.count(key) ? key : nullptr;
}

std::string DefaultSettingsRoot() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/bayercam";
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config/bayercam";
    return {};
}

bool WantsWrite(ACCESS_MASK access) {
    return access & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
}

// Gives the folder at `path` a key record and a handle. Takes ownership of `folderFd` and `key`
// either way.
NTSTATUS AttachFolder(RegistryKey* key, int folderFd, const std::string& path, ACCESS_MASK access,
                      HANDLE* handle) {
    struct stat info;
    if (faccessat(folderFd, ".", R_OK | X_OK, AT_EACCESS) != 0 || fstat(folderFd, &info) != 0) {
        NTSTATUS status = StatusFromErrno(errno);
        close(folderFd);
        PoolDelete(key);
        return status;
    }
    // Reading needs no write access: a folder that cannot be written fails only a save.
    if (WantsWrite(access) && faccessat(folderFd, ".", W_OK, AT_EACCESS) != 0)
        RecordWriteFailure(path, errno, false);
    key->folderFd = folderFd;
    key->path = path;
    key->folder = {info.st_dev, info.st_ino};
    key->writable = access & KEY_SET_VALUE;
    key->readable = access & KEY_QUERY_VALUE;
    key->values = ReadValuesFile(folderFd);
    std::lock_guard<std::mutex> guard(stateLock);
    openKeys.insert(key);
    *handle = key;
    return STATUS_SUCCESS;
}

int OpenFolderAt(int parentFd, const char* name) {
    return openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool ValidComponent(std::string_view name) {
    if (name.empty() || name.front() == '.') return false;
    if (RegistryNamesEqual(name, kValuesFileName)) return false;
    for (char c : name) {
        if (c == '/') return false;
    }
    return true;
}

// The folder of subkey `name` inside `parentFd`: the exact name first, then, when case does not
// matter, any subfolder whose name differs only in case.
int OpenSubkeyFolder(int parentFd, const std::string& name, bool caseInsensitive) {
    int fd = OpenFolderAt(parentFd, name.c_str());
    if (fd >= 0 || errno != ENOENT || !caseInsensitive) return fd;
    // A listing of its own: a duplicate of `parentFd` would share its read position with every
    // other scan of the same key.
    int scanFd = OpenFolderAt(parentFd, ".");
    DIR* dir = scanFd >= 0 ? fdopendir(scanFd) : nullptr;
    if (!dir) {
        if (scanFd >= 0) close(scanFd);
        errno = ENOENT;
        return -1;
    }
    fd = -1;
    while (dirent* entry = readdir(dir)) {
        if (ValidComponent(entry->d_name) && RegistryNamesEqual(entry->d_name, name)) {
            fd = OpenFolderAt(parentFd, entry->d_name);
            if (fd >= 0) break;
        }
    }
    closedir(dir);
    if (fd < 0) errno = ENOENT;
    return fd;
}

std::vector<std::string> SplitKeyPath(std::string_view path) {
    std::vector<std::string> components;
    while (true) {
        size_t slash = path.find('\\');
        components.emplace_back(path.substr(0, slash));
        if (slash == std::string_view::npos) return components;
        path.remove_prefix(slash + 1);
    }
}

NTSTATUS FlushLocked(RegistryKey* key) {
    std::vector<RegistryValue> changes;
    for (const auto& name : key->changed) {
        const RegistryValue* value = FindRegistryValue(key->values, name);
        if (!SameAsSeen(key->folder, *value)) changes.push_back(*value);
    }
    key->changed.clear();
    if (changes.empty()) return STATUS_SUCCESS;
    std::vector<RegistryValue> merged;
    int error = 0;
    NTSTATUS status = UpdateValuesFile(key->folderFd, changes, &merged, &error);
    if (!NT_SUCCESS(status)) {
        // Still this handle's to write at the next flush.
        for (const auto& change : changes) key->changed.push_back(change.name);
        RecordWriteFailure(key->path + "/" + kValuesFileName, error, true);
        return status;
    }
    for (const auto& change : changes) RememberSeen(key->folder, change);
    key->values = std::move(merged);
    return STATUS_SUCCESS;
}

}  // namespace

void RegistrySetSettingsRoot(const std::string& folder) {
    std::error_code error;
    std::string root = folder.empty() ? folder : std::filesystem::absolute(folder, error).string();
    std::lock_guard<std::mutex> guard(stateLock);
    settingsRoot = error ? folder : root;
    // Another root holds other folders, whose inodes may repeat those of folders now gone.
    seenValues.clear();
}

std::string RegistrySettingsRoot() {
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (!settingsRoot.empty()) return settingsRoot;
    }
    return DefaultSettingsRoot();
}

NTSTATUS RegistryRegisterDevice(DEVICE_OBJECT* physicalDevice, const std::string& instanceId,
                                const std::string& root) {
    if (!physicalDevice || instanceId.empty() || instanceId.size() > kMaxInstanceIdBytes ||
        instanceId.front() == '.') {
        return STATUS_INVALID_PARAMETER;
    }
    for (char c : instanceId) {
        if (c < 0x20 || c > 0x7E || c == '/' || c == '\\') return STATUS_INVALID_PARAMETER;
    }
    std::error_code error;
    std::string absolute = root.empty() ? root : std::filesystem::absolute(root, error).string();
    std::lock_guard<std::mutex> guard(stateLock);
    bindings[physicalDevice] = {instanceId, error ? root : absolute};
    return STATUS_SUCCESS;
}

void RegistryUnregisterDevice(DEVICE_OBJECT* physicalDevice) {
    std::lock_guard<std::mutex> guard(stateLock);
    bindings.erase(physicalDevice);
}

void RegistryNoteDefaultValue(HANDLE keyHandle, const char* valueName, uint32_t type,
                              const std::vector<uint8_t>& data) {
    RegistryKey* key = LookUpKey(keyHandle);
    if (!key || !valueName) return;
    RememberSeen(key->folder, {valueName, type, data});
}

bool RegistryTakeWriteFailure(RegistryWriteFailure* failure) {
    std::lock_guard<std::mutex> guard(stateLock);
    if (!writeFailure) return false;
    *failure = std::move(*writeFailure);
    writeFailure.reset();
    return true;
}

NTSTATUS IoOpenDeviceRegistryKey(DEVICE_OBJECT* physicalDevice, uint32_t devInstKeyType,
                                 ACCESS_MASK desiredAccess, HANDLE* deviceRegKey) {
    if (!deviceRegKey) return STATUS_INVALID_PARAMETER;
    *deviceRegKey = nullptr;
    if (devInstKeyType != PLUGPLAY_REGKEY_DRIVER) return STATUS_INVALID_PARAMETER;
    DeviceBinding binding;
    {
        std::lock_guard<std::mutex> guard(stateLock);
        auto found = bindings.find(physicalDevice);
        if (found == bindings.end()) return STATUS_INVALID_DEVICE_REQUEST;
        binding = found->second;
    }
    const std::string& instanceId = binding.instanceId;
    std::string root = binding.root.empty() ? RegistrySettingsRoot() : binding.root;
    if (root.empty()) return STATUS_OBJECT_NAME_NOT_FOUND;

    auto* key = PoolNew<RegistryKey>();
    if (!key) return STATUS_INSUFFICIENT_RESOURCES;
    std::string folder = root + "/" + instanceId;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        const int cause = error ? error.value() : errno;
        // The instance folder is made here whatever the access: without it nothing is saved.
        RecordWriteFailure(folder, cause, false);
        PoolDelete(key);
        return StatusFromErrno(cause);
    }
    return AttachFolder(key, folderFd, folder, desiredAccess, deviceRegKey);
}

NTSTATUS ZwCreateKey(HANDLE* keyHandle, ACCESS_MASK desiredAccess,
                     const OBJECT_ATTRIBUTES* objectAttributes, uint32_t /*titleIndex*/,
                     const char* /*className*/, uint32_t createOptions, uint32_t* disposition) {
    if (!keyHandle) return STATUS_INVALID_PARAMETER;
    *keyHandle = nullptr;
    if (!objectAttributes || !objectAttributes->ObjectName ||
        createOptions != REG_OPTION_NON_VOLATILE) {
        return STATUS_INVALID_PARAMETER;
    }
    RegistryKey* parent = LookUpKey(objectAttributes->RootDirectory);
    if (!parent) return STATUS_INVALID_PARAMETER;
    std::vector<std::string> components = SplitKeyPath(objectAttributes->ObjectName);
    for (const auto& component : components) {
        if (!ValidComponent(component)) return STATUS_INVALID_PARAMETER;
    }
    auto* key = PoolNew<RegistryKey>();
    if (!key) return STATUS_INSUFFICIENT_RESOURCES;

    bool caseInsensitive = objectAttributes->Attributes & OBJ_CASE_INSENSITIVE;
    std::string path = parent->path;
    for (const auto& component : components) path += "/" + component;
    int folderFd = dup(parent->folderFd);
    uint32_t created = REG_OPENED_EXISTING_KEY;
    for (size_t i = 0; i < components.size() && folderFd >= 0; ++i) {
        int next = OpenSubkeyFolder(folderFd, components[i], caseInsensitive);
        bool last = i + 1 == components.size();
        if (next < 0 && errno == ENOENT && last) {
            if (mkdirat(folderFd, components[i].c_str(), 0777) == 0) {
                created = REG_CREATED_NEW_KEY;
                fsync(folderFd);
            }
            // EEXIST: another creator won the race, and the folder is there to open.
            if (created == REG_CREATED_NEW_KEY || errno == EEXIST) {
                next = OpenFolderAt(folderFd, components[i].c_str());
            }
        }
        int error = errno;
        close(folderFd);
        folderFd = next;
        errno = error;
    }
    if (folderFd < 0) {
        const int cause = errno;
        if (WantsWrite(desiredAccess)) RecordWriteFailure(path, cause, false);
        PoolDelete(key);
        return StatusFromErrno(cause);
    }
    NTSTATUS status = AttachFolder(key, folderFd, path, desiredAccess, keyHandle);
    if (NT_SUCCESS(status) && disposition) *disposition = created;
    return status;
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, const char* valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         void* keyValueInformation, uint32_t length, uint32_t* resultLength) {
    RegistryKey* key = LookUpKey(keyHandle);
    if (!key || !valueName || !resultLength || (length && !keyValueInformation) ||
        keyValueInformationClass != KeyValuePartialInformation) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(key->lock);
    if (!key->readable) return STATUS_ACCESS_DENIED;
    const RegistryValue* value = FindRegistryValue(key->values, valueName);
    if (!value) return STATUS_OBJECT_NAME_NOT_FOUND;
    // A value this handle set and has not written yet is its own change, not what it read.
    bool ownChange = false;
    for (const auto& name : key->changed)
        ownChange = ownChange || RegistryNamesEqual(name, valueName);
    if (!ownChange) RememberSeen(key->folder, *value);

    constexpr uint32_t kHeaderBytes = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    uint32_t dataLength = static_cast<uint32_t>(value->data.size());
    *resultLength = kHeaderBytes + dataLength;
    if (length < kHeaderBytes) return STATUS_BUFFER_TOO_SMALL;
    KEY_VALUE_PARTIAL_INFORMATION header{0, value->type, dataLength, {0}};
    auto* out = static_cast<uint8_t*>(keyValueInformation);
    std::memcpy(out, &header, kHeaderBytes);
    if (length < kHeaderBytes + dataLength) return STATUS_BUFFER_OVERFLOW;
    if (dataLength) std::memcpy(out + kHeaderBytes, value->data.data(), dataLength);
    return STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, const char* valueName, uint32_t /*titleIndex*/,
                       uint32_t type, const void* data, uint32_t dataSize) {
    RegistryKey* key = LookUpKey(keyHandle);
    if (!key || !valueName || std::strlen(valueName) > kMaxValueNameBytes || (dataSize && !data) ||
        dataSize > kMaxValuesFileBytes) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(key->lock);
    if (!key->writable) return STATUS_ACCESS_DENIED;
    std::vector<RegistryValue> values = key->values;
    auto* bytes = static_cast<const uint8_t*>(data);
    RegistryValue updated{valueName, type, std::vector<uint8_t>(bytes, bytes + dataSize)};
    if (RegistryValue* value = FindRegistryValue(values, valueName)) {
        value->type = type;
        value->data = std::move(updated.data);
    } else {
        values.push_back(std::move(updated));
    }
    if (FormatRegistryValues(values).size() > kMaxValuesFileBytes) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    key->values = std::move(values);
    bool known = false;
    for (const auto& name : key->changed) known = known || RegistryNamesEqual(name, valueName);
    if (!known) key->changed.emplace_back(valueName);
    return STATUS_SUCCESS;
}

NTSTATUS ZwFlushKey(HANDLE keyHandle) {
    RegistryKey* key = LookUpKey(keyHandle);
    if (!key) return STATUS_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(key->lock);
    return FlushLocked(key);
}

NTSTATUS ZwClose(HANDLE handle) {
    auto* key = static_cast<RegistryKey*>(handle);
    {
        std::lock_guard<std::mutex> guard(stateLock);
        if (!openKeys.erase(key)) return STATUS_INVALID_PARAMETER;
    }
    NTSTATUS status;
    {
        std::lock_guard<std::mutex> guard(key->lock);
        status = FlushLocked(key);
        close(key->folderFd);
    }
    PoolDelete(key);
    return status;
}

}  // namespace bayercam
