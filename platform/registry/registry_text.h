// The text form of one key's values: one "Name = type:data" line per value, made to be read and
// edited by hand. docs/settings.md describes it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bayercam {

struct RegistryValue {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// Registry names compare without regard to ASCII case.
bool RegistryNamesEqual(std::string_view a, std::string_view b);
RegistryValue* FindRegistryValue(std::vector<RegistryValue>& values, std::string_view name);

// Lines that cannot be read are skipped: their values count as missing. When a name appears on
// several readable lines, the last one holds.
std::vector<RegistryValue> ParseRegistryValues(std::string_view text);

// Writes every value so that parsing gives it back unchanged: names, types and bytes.
std::string FormatRegistryValues(const std::vector<RegistryValue>& values);

}  // namespace bayercam
