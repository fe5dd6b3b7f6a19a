#include "platform/registry/registry_text.h"

#include <optional>

#include "platform/registry/registry.h"

namespace bayercam {
namespace {

constexpr char kHeader[] =
    "# Registry values of one key, one per line: Name = type:data\n"
    "#   dword:-12 or dword:0x1F   32-bit number\n"
    "#   sz:\"text\"                text; \\\\ \\\" and \\xHH escapes\n"
    "#   hex:00,ff                 binary bytes; hex(N):.. for a value of registry type N\n"
    "# Lines starting with # or ; are comments. A line that cannot be read counts as missing\n"
    "# and is dropped at the next save.\n";

constexpr char kHexDigits[] = "0123456789abcdef";

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsControl(unsigned char c) {
    return c < 0x20 || c == 0x7F;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = LowerAscii(c);
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// An unsigned number of at most `limit`, decimal or with a 0x prefix, and nothing else.
std::optional<uint64_t> ParseNumber(std::string_view s, uint64_t limit) {
    int base = 10;
    if (s.size() > 2 && s[0] == '0' && LowerAscii(s[1]) == 'x') {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : s) {
        int digit = HexDigit(c);
        if (digit < 0 || digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > limit) return std::nullopt;
    }
    return value;
}

// A quoted string at the start of `s`; `s` is left after the closing quote.
std::optional<std::string> ParseQuoted(std::string_view& s) {
    if (s.empty() || s.front() != '"') return std::nullopt;
    std::string out;
    size_t i = 1;
    for (; i < s.size() && s[i] != '"'; ++i) {
        char c = s[i];
        if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++i == s.size()) return std::nullopt;
        if (s[i] == '\\' || s[i] == '"') {
            out.push_back(s[i]);
        } else if (s[i] == 'x' && i + 2 < s.size() && HexDigit(s[i + 1]) >= 0 &&
                   HexDigit(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexDigit(s[i + 1]) * 16 + HexDigit(s[i + 2])));
            i += 2;
        } else {
            return std::nullopt;
        }
    }
    if (i == s.size()) return std::nullopt;
    s.remove_prefix(i + 1);
    return out;
}

std::optional<std::vector<uint8_t>> ParseDword(std::string_view s) {
    bool negative = !s.empty() && s.front() == '-';
    if (negative) s.remove_prefix(1);
    auto magnitude = ParseNumber(s, negative ? 0x80000000ull : 0xFFFFFFFFull);
    if (!magnitude) return std::nullopt;
    uint32_t value = static_cast<uint32_t>(negative ? 0 - *magnitude : *magnitude);
    return std::vector<uint8_t>{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                static_cast<uint8_t>(value >> 16),
                                static_cast<uint8_t>(value >> 24)};
}

std::optional<std::vector<uint8_t>> ParseText(std::string_view s) {
    auto text = ParseQuoted(s);
    if (!text || !Trim(s).empty()) return std::nullopt;
    std::vector<uint8_t> data(text->begin(), text->end());
    data.push_back(0);
    return data;
}

// Comma-separated two-digit hex bytes; nothing at all is an empty value.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view s) {
    std::vector<uint8_t> data;
    if (s.empty()) return data;
    while (true) {
        size_t comma = s.find(',');
        std::string_view byte = Trim(s.substr(0, comma));
        if (byte.size() != 2 || HexDigit(byte[0]) < 0 || HexDigit(byte[1]) < 0) {
            return std::nullopt;
        }
        data.push_back(static_cast<uint8_t>(HexDigit(byte[0]) * 16 + HexDigit(byte[1])));
        if (comma == std::string_view::npos) return data;
        s.remove_prefix(comma + 1);
    }
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && RegistryNamesEqual(s.substr(0, prefix.size()), prefix);
}

std::optional<RegistryValue> ParseLine(std::string_view line) {
    RegistryValue value{};
    if (!line.empty() && line.front() == '"') {
        auto name = ParseQuoted(line);
        if (!name || name->find('\0') != std::string::npos) return std::nullopt;
        value.name = std::move(*name);
        line = Trim(line);
        if (line.empty() || line.front() != '=') return std::nullopt;
        line.remove_prefix(1);
    } else {
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        std::string_view name = Trim(line.substr(0, equals));
        if (name.empty()) return std::nullopt;
        for (char c : name) {
            if (IsControl(static_cast<unsigned char>(c))) return std::nullopt;
        }
        value.name = name;
        line.remove_prefix(equals + 1);
    }
    line = Trim(line);
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view tag = line.substr(0, colon);
    std::string_view body = Trim(line.substr(colon + 1));

    std::optional<std::vector<uint8_t>> data;
    if (RegistryNamesEqual(tag, "dword")) {
        value.type = REG_DWORD;
        data = ParseDword(body);
    } else if (RegistryNamesEqual(tag, "sz")) {
        value.type = REG_SZ;
        data = ParseText(body);
    } else if (RegistryNamesEqual(tag, "hex")) {
        value.type = REG_BINARY;
        data = ParseHexBytes(body);
    } else if (StartsWithNoCase(tag, "hex(") && tag.back() == ')') {
        auto type = ParseNumber(tag.substr(4, tag.size() - 5), 0xFFFFFFFFull);
        if (!type) return std::nullopt;
        value.type = static_cast<uint32_t>(*type);
        data = ParseHexBytes(body);
    }
    if (!data) return std::nullopt;
    value.data = std::move(*data);
    return value;
}

void AppendQuoted(std::string& out, std::string_view s) {
    out.push_back('"');
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"') {
            out.push_back('\\');
            out.push_back(c);
        } else if (IsControl(u)) {
            out += "\\x";
            out.push_back(kHexDigits[u >> 4]);
            out.push_back(kHexDigits[u & 15]);
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

bool NeedsQuotes(std::string_view name) {
    if (name.empty() || IsBlank(name.front()) || IsBlank(name.back())) return true;
    if (name.front() == '#' || name.front() == ';' || name.front() == '"') return true;
    for (char c : name) {
        if (c == '=' || IsControl(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

void AppendHexBytes(std::string& out, const std::vector<uint8_t>& data) {
    for (size_t i = 0; i < data.size(); ++i) {
        if (i) out.push_back(',');
        out.push_back(kHexDigits[data[i] >> 4]);
        out.push_back(kHexDigits[data[i] & 15]);
    }
}

// REG_SZ data that is one NUL-terminated string reads back as text; anything else as bytes.
bool IsPlainText(const std::vector<uint8_t>& data) {
    if (data.empty() || data.back() != 0) return false;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0) return false;
    }
    return true;
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

RegistryValue* FindRegistryValue(std::vector<RegistryValue>& values, std::string_view name) {
    for (auto& value : values) {
        if (RegistryNamesEqual(value.name, name)) return &value;
    }
    return nullptr;
}

std::vector<RegistryValue> ParseRegistryValues(std::string_view text) {
    std::vector<RegistryValue> values;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';') continue;
        auto value = ParseLine(line);
        if (!value) continue;
        if (RegistryValue* earlier = FindRegistryValue(values, value->name)) {
            earlier->type = value->type;
            earlier->data = std::move(value->data);
        } else {
            values.push_back(std::move(*value));
        }
    }
    return values;
}

std::string FormatRegistryValues(const std::vector<RegistryValue>& values) {
    std::string out = kHeader;
    for (const auto& value : values) {
        if (NeedsQuotes(value.name)) {
            AppendQuoted(out, value.name);
        } else {
            out += value.name;
        }
        out += " = ";
        if (value.type == REG_DWORD && value.data.size() == 4) {
            int32_t number =
                static_cast<int32_t>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                     static_cast<uint32_t>(value.data[3]) << 24);
            out += "dword:" + std::to_string(number);
        } else if (value.type == REG_SZ && IsPlainText(value.data)) {
            out += "sz:";
            AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                               value.data.size() - 1));
        } else {
            out += value.type == REG_BINARY ? "hex:" : "hex(" + std::to_string(value.type) + "):";
            AppendHexBytes(out, value.data);
        }
        out.push_back('\n');
    }
    return out;
}

}  // namespace bayercam
