// Access to the settings group below a device's driver key, one 32-bit value at a time.
#pragma once

#include <cstdint>

#include "platform/registry/registry.h"
#include "settings/settings_values.h"

namespace bayercam {

// Opens `path` below `parent` with full access, creating it when absent. For a path of several
// backslash-separated components each leading part is created first (and closed), since a
// create makes only the last component. Returns the status of the last create.
NTSTATUS OpenSettingsKey(HANDLE parent, HANDLE* key, const char* path = kSettingsKeyName);

// Reads a REG_DWORD value of 4 to 8 bytes (its first 4 bytes, little-endian) into `value` and
// returns true. A missing value, one of another type, shorter than 4 bytes or longer than 8
// leaves `value` unchanged and returns false, so the caller's default stays.
bool QueryDwordSetting(HANDLE key, const char* name, int32_t* value);

// Stores `value` as a REG_DWORD. A failed write is not reported: a lost setting only means its
// default next time.
void StoreDwordSetting(HANDLE key, const char* name, int32_t value);

}  // namespace bayercam
