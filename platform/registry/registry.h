// The registry stand-in: device registry keys and their values, kept in plain text files.
//
// Where keys live. A process-wide settings root folder (RegistrySetSettingsRoot; by default
// $XDG_CONFIG_HOME/bayercam, else ~/.config/bayercam) holds one folder per device instance, which
// is the device's driver key. A physical device object is tied to its instance folder by
// RegistryRegisterDevice before the driver opens its key. Every key is a folder; its subkeys are
// folders inside it and its values are the text file "values" inside it, so the subkey
// "Settings" of instance "sim" keeps its values in ROOT/sim/Settings/values. docs/settings.md
// describes the file format.
//
// What the store guarantees. Opening a key reads its values once; queries answer from that
// snapshot, so one reader sees all values of one save or of the next, never a mix. Values set
// through a handle stay in the handle until ZwFlushKey or ZwClose writes them in one atomic
// rewrite (new file, fsync, rename over the old one, fsync of the folder) under an exclusive lock
// of the key folder, merged into what the file holds at that moment. Only values this process
// changed are written: a value set to what the process last read from the file (or took in its
// place, see RegistryNoteDefaultValue) or last wrote there is left as the file holds it, so
// processes sharing a folder keep each other's changes, and a process that changed nothing
// writes nothing. A crash, a kill or a full disk during a write leaves the previous file in
// place. A value that cannot be read from the file counts as missing; a key folder that cannot
// be read makes the open fail. A folder that cannot be written opens for reading all the same:
// its writes fail at the flush. Either failure is kept for RegistryTakeWriteFailure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernel/irp.h"
#include "platform/kernel/ntstatus.h"

namespace bayercam {

using HANDLE = void*;
using ACCESS_MASK = uint32_t;

constexpr ACCESS_MASK KEY_QUERY_VALUE = 0x0001;
constexpr ACCESS_MASK KEY_SET_VALUE = 0x0002;
constexpr ACCESS_MASK KEY_CREATE_SUB_KEY = 0x0004;
constexpr ACCESS_MASK READ_CONTROL = 0x00020000;
constexpr ACCESS_MASK KEY_READ = 0x00020019;
constexpr ACCESS_MASK KEY_WRITE = 0x00020006;
constexpr ACCESS_MASK KEY_ALL_ACCESS = 0x000F003F;

constexpr uint32_t PLUGPLAY_REGKEY_DEVICE = 1;
constexpr uint32_t PLUGPLAY_REGKEY_DRIVER = 2;

constexpr uint32_t OBJ_CASE_INSENSITIVE = 0x00000040;
constexpr uint32_t OBJ_KERNEL_HANDLE = 0x00000200;

constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
constexpr uint32_t REG_CREATED_NEW_KEY = 1;
constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;
constexpr uint32_t REG_DWORD_BIG_ENDIAN = 5;
constexpr uint32_t REG_QWORD = 11;

// The name of a key relative to an open key: components separated by backslashes.
struct OBJECT_ATTRIBUTES {
    HANDLE RootDirectory;
    const char* ObjectName;
    uint32_t Attributes;
};

inline void InitializeObjectAttributes(OBJECT_ATTRIBUTES* attributes, const char* name,
                                       uint32_t flags, HANDLE root) {
    attributes->RootDirectory = root;
    attributes->ObjectName = name;
    attributes->Attributes = flags;
}

enum KEY_VALUE_INFORMATION_CLASS : uint32_t {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
};

struct KEY_VALUE_PARTIAL_INFORMATION {
    uint32_t TitleIndex;
    uint32_t Type;
    uint32_t DataLength;
    uint8_t Data[1];
};
static_assert(offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) == 12);
static_assert(sizeof(KEY_VALUE_PARTIAL_INFORMATION) == 16);

// Opens the driver key of the device instance registered for `physicalDevice`, creating the
// settings root and the instance folder when absent. STATUS_INVALID_DEVICE_REQUEST for a device
// object that was never registered, STATUS_INVALID_PARAMETER for another key type.
NTSTATUS IoOpenDeviceRegistryKey(DEVICE_OBJECT* physicalDevice, uint32_t devInstKeyType,
                                 ACCESS_MASK desiredAccess, HANDLE* deviceRegKey);

// Opens the key named relative to objectAttributes->RootDirectory, creating its last component
// when absent (every earlier component must exist: STATUS_OBJECT_NAME_NOT_FOUND otherwise).
// Names compare case-insensitively. A component may not be empty, start with '.', hold '/' or
// be named "values" (STATUS_INVALID_PARAMETER). The title index and class are ignored; only
// non-volatile keys exist. `disposition` may be null.
NTSTATUS ZwCreateKey(HANDLE* keyHandle, ACCESS_MASK desiredAccess,
                     const OBJECT_ATTRIBUTES* objectAttributes, uint32_t titleIndex,
                     const char* className, uint32_t createOptions, uint32_t* disposition);

// Only KeyValuePartialInformation. `resultLength` receives the size the whole answer needs
// (12 + data bytes) whenever the value exists. A buffer shorter than 12 bytes gets nothing and
// STATUS_BUFFER_TOO_SMALL; one that holds the header but not the data gets the header and
// STATUS_BUFFER_OVERFLOW. A missing value: STATUS_OBJECT_NAME_NOT_FOUND.
NTSTATUS ZwQueryValueKey(HANDLE keyHandle, const char* valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         void* keyValueInformation, uint32_t length, uint32_t* resultLength);

// Sets the value in the handle; ZwFlushKey or ZwClose writes it. Names compare
// case-insensitively and keep the case they were first written with. The title index is
// ignored. STATUS_INSUFFICIENT_RESOURCES when the key's file would outgrow what the store reads
// back.
NTSTATUS ZwSetValueKey(HANDLE keyHandle, const char* valueName, uint32_t titleIndex, uint32_t type,
                       const void* data, uint32_t dataSize);

// Writes the values set through this handle since its last flush. Nothing to write: success.
NTSTATUS ZwFlushKey(HANDLE keyHandle);

// Flushes and closes the key. The handle is gone afterwards even when the flush fails; the
// flush's status is returned so that a lost write is not reported as success. A handle may be
// used by several threads at once, but not while it is being closed.
NTSTATUS ZwClose(HANDLE handle);

// ---- Binding devices to the store (called by the code that brings devices up, and the tool) ----

// Sets the settings root folder for the whole process; empty restores the default. A relative
// folder is taken relative to the current folder at the time of the call.
void RegistrySetSettingsRoot(const std::string& folder);
// The settings root in effect; empty when there is no default (no HOME).
std::string RegistrySettingsRoot();

// Ties `physicalDevice` to the instance folder `instanceId` below the settings root (replacing an
// earlier binding). The id is one folder name: not empty, at most 255 bytes, printable ASCII
// without '/' or '\', not starting with '.'; STATUS_INVALID_PARAMETER otherwise. A `root` other
// than empty is this device's own settings root (taken relative to the current folder now), so
// that cameras of one process can keep their settings in different places.
NTSTATUS RegistryRegisterDevice(DEVICE_OBJECT* physicalDevice, const std::string& instanceId,
                                const std::string& root = {});
void RegistryUnregisterDevice(DEVICE_OBJECT* physicalDevice);

// The reader of `key` took this value in place of a missing or unreadable `valueName`: a later
// save of the same value counts as unchanged, so it is not written.
void RegistryNoteDefaultValue(HANDLE key, const char* valueName, uint32_t type,
                              const std::vector<uint8_t>& data);

// A key folder that could not be opened for writing, or values that could not be written.
struct RegistryWriteFailure {
    std::string path;   // the folder or the values file
    int error = 0;      // errno
    bool lost = false;  // values set through a handle were not written
};
// The failure to report since the last call: the first that lost values, else the first of
// all; false when there was none.
bool RegistryTakeWriteFailure(RegistryWriteFailure* failure);

}  // namespace bayercam
