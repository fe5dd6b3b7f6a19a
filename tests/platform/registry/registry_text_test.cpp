#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/registry/registry_text.h"

namespace bayercam {
namespace {

std::optional<int32_t> DwordNamed(std::vector<RegistryValue>& values, const char* name) {
    RegistryValue* value = FindRegistryValue(values, name);
    if (!value || value->type != REG_DWORD || value->data.size() != 4) return std::nullopt;
    int32_t number;
    std::memcpy(&number, value->data.data(), 4);
    return number;
}

struct HandEditedCase {
    const char* what;
    std::string text;
    std::optional<int32_t> exposure;  // nullopt: the value counts as missing
};

TEST(RegistryText, HandEditedAndDamagedLines) {
    using namespace std::string_literals;
    const HandEditedCase cases[] = {
        {"empty file", "", std::nullopt},
        {"plain line", "Exposure = dword:8\n", 8},
        {"no final newline", "Exposure = dword:8", 8},
        {"CRLF", "Timeout = dword:3000\r\nExposure = dword:8\r\n", 8},
        {"blanks and tabs", "  Exposure\t=\tdword:  8  \n", 8},
        {"upper-case tag", "Exposure = DWORD:8\n", 8},
        {"hex number", "Exposure = dword:0x1F\n", 31},
        {"negative", "Exposure = dword:-1\n", -1},
        {"largest unsigned", "Exposure = dword:4294967295\n", -1},
        {"smallest signed", "Exposure = dword:-2147483648\n", INT32_MIN},
        {"quoted name", "\"Exposure\" = dword:8\n", 8},
        {"other lines around", "# comment\n; comment\n\nHue = dword:3\nExposure = dword:8\n", 8},
        {"missing '='", "Exposure dword:8\n", std::nullopt},
        {"missing tag", "Exposure = 8\n", std::nullopt},
        {"truncated tag", "Exposure = dwo", std::nullopt},
        {"truncated number", "Exposure = dword:", std::nullopt},
        {"above 32 bits", "Exposure = dword:4294967296\n", std::nullopt},
        {"below 32 bits", "Exposure = dword:-2147483649\n", std::nullopt},
        {"huge number", "Exposure = dword:99999999999999999999999999\n", std::nullopt},
        {"hex without prefix", "Exposure = dword:1f\n", std::nullopt},
        {"trailing junk", "Exposure = dword:8 apples\n", std::nullopt},
        {"unknown tag", "Exposure = qword:8\n", std::nullopt},
        {"text, not a number", "Exposure = sz:\"8\"\n", std::nullopt},
        {"commented out", "# Exposure = dword:8\n", std::nullopt},
        {"unterminated quote", "\"Exposure = dword:8\n", std::nullopt},
        {"empty name", " = dword:8\nExposure = dword:9\n", 9},
        {"duplicate: the last holds", "Exposure = dword:8\nexposure = dword:9\n", 9},
        {"duplicate, later one broken", "Exposure = dword:8\nExposure = dword:x\n", 8},
        {"binary junk line", "\x01\xff\xfe\x00junk\x7f\nExposure = dword:8\n"s, 8},
        {"NUL inside the line", "Expo\0sure = dword:8\n"s, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto values = ParseRegistryValues(c.text);
        EXPECT_EQ(DwordNamed(values, "Exposure"), c.exposure);
    }
}

TEST(RegistryText, EveryValueSurvivesFormatAndParse) {
    std::vector<RegistryValue> values = {
        {"Exposure", REG_DWORD, {8, 0, 0, 0}},
        {"Negative", REG_DWORD, {0xff, 0xff, 0xff, 0xff}},
        {"Short dword", REG_DWORD, {1, 2}},
        {"Long dword", REG_DWORD, {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"Text", REG_SZ, {'a', '"', '\\', '\n', 0xC3, 0xA9, 0}},
        {"Text without end", REG_SZ, {'a', 'b'}},
        {"Text with NUL", REG_SZ, {'a', 0, 'b', 0}},
        {"Empty text", REG_SZ, {0}},
        {"Bytes", REG_BINARY, {0, 0xff, 0x10}},
        {"No bytes", REG_BINARY, {}},
        {"Other type", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}},
        {"", REG_DWORD, {1, 0, 0, 0}},
        {"a = b", REG_DWORD, {2, 0, 0, 0}},
        {" padded ", REG_DWORD, {3, 0, 0, 0}},
        {"#hash", REG_DWORD, {4, 0, 0, 0}},
        {";semi", REG_DWORD, {5, 0, 0, 0}},
        {"\"quoted\"", REG_DWORD, {6, 0, 0, 0}},
        {"line\nbreak\ttab", REG_DWORD, {7, 0, 0, 0}},
        {"back\\slash", REG_DWORD, {8, 0, 0, 0}},
    };
    auto parsed = ParseRegistryValues(FormatRegistryValues(values));
    ASSERT_EQ(parsed.size(), values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(values[i].name);
        EXPECT_EQ(parsed[i].name, values[i].name);
        EXPECT_EQ(parsed[i].type, values[i].type);
        EXPECT_EQ(parsed[i].data, values[i].data);
    }
}

TEST(RegistryText, RandomValuesRoundTripAndRandomBytesParse) {
    std::mt19937 random(7);
    auto byte = [&] { return static_cast<uint8_t>(random()); };
    for (int round = 0; round < 200; ++round) {
        std::vector<RegistryValue> values;
        for (int n = random() % 6; n > 0; --n) {
            RegistryValue value{"", static_cast<uint32_t>(random() % 8), {}};
            for (int i = random() % 12; i > 0; --i) value.name.push_back(byte() % 255 + 1);
            for (int i = random() % 12; i > 0; --i) value.data.push_back(byte());
            if (!FindRegistryValue(values, value.name)) values.push_back(value);
        }
        auto parsed = ParseRegistryValues(FormatRegistryValues(values));
        ASSERT_EQ(parsed.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_EQ(parsed[i].name, values[i].name);
            EXPECT_EQ(parsed[i].type, values[i].type);
            EXPECT_EQ(parsed[i].data, values[i].data);
        }
        // Whatever the bytes, parsing returns; the sanitizers watch how.
        std::string junk;
        for (int i = random() % 400; i > 0; --i) junk.push_back(static_cast<char>(byte()));
        ParseRegistryValues(junk);
    }
}

}  // namespace
}  // namespace bayercam
