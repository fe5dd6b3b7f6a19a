#include "web/control_api.h"

#include <gtest/gtest.h>

#include "web/listen_address.h"

namespace bayercam::web {
namespace {

const std::vector<ControlInfo> kControls = {
    {"Hue", 32, true, true, 0, 359, 0},
    {"FlipH", 10, true, true, {}, {}, {}},
    {"SensorWidth", 38, true, false, {}, {}, {}},
    {std::string(kRegionControl), 0, false, true, {}, {}, {}},
};

struct WriteCase {
    const char* name;
    const char* body;
    int status;
    std::vector<int32_t> values;
};

TEST(ControlWriteTest, AcceptsOnlyWhatTheControlTakes) {
    const WriteCase cases[] = {
        {"Hue", R"({"value": 180})", 200, {180}},
        {"hue", R"({"value": 359})", 200, {359}},
        {"Hue", R"({"value": 0, "note": "extra members are ignored"})", 200, {0}},
        {"FlipH", R"({"value": -2147483648})", 200, {INT32_MIN}},
        {"RegionOfInterest", R"({"value": [8, 4, 640, 480]})", 200, {8, 4, 640, 480}},
        {"Nothing", R"({"value": 1})", 404, {}},
        {"", R"({"value": 1})", 404, {}},
        {"SensorWidth", R"({"value": 1})", 400, {}},
        {"Hue", R"({"value": 360})", 400, {}},
        {"Hue", R"({"value": -1})", 400, {}},
        {"FlipH", R"({"value": 2147483648})", 400, {}},
        {"FlipH", R"({"value": 18446744073709551615})", 400, {}},
        {"Hue", R"({"value": 1.5})", 400, {}},
        {"Hue", R"({"value": "5"})", 400, {}},
        {"Hue", R"({"value": true})", 400, {}},
        {"Hue", R"({"value": null})", 400, {}},
        {"Hue", R"({"value": [5]})", 400, {}},
        {"Hue", R"({"valeur": 5})", 400, {}},
        {"Hue", R"([5])", 400, {}},
        {"Hue", R"(5)", 400, {}},
        {"Hue", R"({"value": 5)", 400, {}},
        {"Hue", "", 400, {}},
        {"RegionOfInterest", R"({"value": 5})", 400, {}},
        {"RegionOfInterest", R"({"value": [1, 2, 3]})", 400, {}},
        {"RegionOfInterest", R"({"value": [1, 2, 3, "4"]})", 400, {}},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.body);
        ControlWrite write = ParseControlWrite(kControls, c.name, c.body);
        EXPECT_EQ(write.status, c.status);
        if (c.status == 200) {
            EXPECT_EQ(write.values, c.values);
        } else {
            EXPECT_FALSE(write.error.empty());
        }
    }
}

TEST(ListenAddressTest, TakesHostAndPort) {
    struct Case {
        const char* text;
        bool ok;
        const char* host;
        int port;
    } cases[] = {
        {"127.0.0.1:8080", true, "127.0.0.1", 8080},
        {"0.0.0.0:0", true, "0.0.0.0", 0},
        {"[::1]:9000", true, "::1", 9000},
        {"localhost", false, "", 0},
        {":8080", false, "", 0},
        {"host:", false, "", 0},
        {"host:65536", false, "", 0},
        {"host:-1", false, "", 0},
        {"host:80x", false, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string host, error;
        int port = -1;
        ASSERT_EQ(ParseListenAddress(c.text, &host, &port, &error), c.ok);
        if (c.ok) {
            EXPECT_EQ(host, c.host);
            EXPECT_EQ(port, c.port);
        }
    }
}

}  // namespace
}  // namespace bayercam::web
