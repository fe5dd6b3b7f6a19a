#include "settings/settings_key.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

namespace bayercam {
namespace {

NTSTATUS CreateKey(HANDLE parent, const std::string& path, HANDLE* key) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path.c_str(), OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               parent);
    return ZwCreateKey(key, KEY_ALL_ACCESS, &attributes, 0, nullptr, REG_OPTION_NON_VOLATILE,
                       nullptr);
}

}  // namespace

NTSTATUS OpenSettingsKey(HANDLE parent, HANDLE* key, const char* path) {
    std::string fullPath = path;
    for (size_t slash = fullPath.find('\\'); slash != std::string::npos;
         slash = fullPath.find('\\', slash + 1)) {
        HANDLE leading = nullptr;
        if (NT_SUCCESS(CreateKey(parent, fullPath.substr(0, slash), &leading))) ZwClose(leading);
    }
    return CreateKey(parent, fullPath, key);
}

namespace {

std::vector<uint8_t> DwordBytes(int32_t value) {
    const auto bits = static_cast<uint32_t>(value);
    return {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8),
            static_cast<uint8_t>(bits >> 16), static_cast<uint8_t>(bits >> 24)};
}

bool ReadDword(HANDLE key, const char* name, int32_t* value) {
    constexpr size_t kHeaderBytes = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    // Header plus room for 8 data bytes; anything longer does not fit and is not a number.
    alignas(KEY_VALUE_PARTIAL_INFORMATION) uint8_t buffer[kHeaderBytes + 8];
    uint32_t resultLength = 0;
    NTSTATUS status = ZwQueryValueKey(key, name, KeyValuePartialInformation, buffer, sizeof buffer,
                                      &resultLength);
    if (!NT_SUCCESS(status)) return false;
    KEY_VALUE_PARTIAL_INFORMATION header;
    std::memcpy(&header, buffer, kHeaderBytes);
    // Reading another type's first bytes as a number would load garbage as a setting.
    if (header.Type != REG_DWORD || header.DataLength < 4) return false;
    const uint8_t* data = buffer + kHeaderBytes;
    *value = static_cast<int32_t>(data[0] | data[1] << 8 | data[2] << 16 |
                                  static_cast<uint32_t>(data[3]) << 24);
    return true;
}

}  // namespace

bool QueryDwordSetting(HANDLE key, const char* name, int32_t* value) {
    if (ReadDword(key, name, value)) return true;
    // Saving the default taken here again is no change of this process's.
    RegistryNoteDefaultValue(key, name, REG_DWORD, DwordBytes(*value));
    return false;
}

void StoreDwordSetting(HANDLE key, const char* name, int32_t value) {
    const std::vector<uint8_t> data = DwordBytes(value);
    ZwSetValueKey(key, name, 0, REG_DWORD, data.data(), static_cast<uint32_t>(data.size()));
}

}  // namespace bayercam
