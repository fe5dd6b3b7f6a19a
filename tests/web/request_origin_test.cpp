#include "web/request_origin.h"

#include <gtest/gtest.h>

namespace bayercam::web {
namespace {

TEST(RequestOriginTest, LoopbackServerAnswersOnlyLoopbackHosts) {
    struct Case {
        const char* host;
        bool loopbackOnly;
        bool allowed;
    } cases[] = {
        {"localhost:8080", true, true},
        {"LOCALHOST:8080", true, true},
        {"127.0.0.1:8080", true, true},
        {"127.1.2.3", true, true},
        {"[::1]:8080", true, true},
        {"evil.example:8080", true, false},
        {"127.0.0.1.evil.example", true, false},
        {"127.evil.example:80", true, false},
        {"", true, false},
        {"[::1", true, false},
        {"[::1]x", true, false},
        {"10.0.0.5:8080", true, false},
        {"10.0.0.5:8080", false, true},
        {"lab-pc:8080", false, true},
        {"", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(IsAllowedHost(c.host, c.loopbackOnly), c.allowed);
    }
}

TEST(RequestOriginTest, WritesOnlyFromThePagesOwnOrigin) {
    struct Case {
        const char* origin;
        const char* fetchSite;
        bool allowed;
    } cases[] = {
        {"", "", true},  // a program, not a page
        {"http://localhost:8080", "", true},
        {"HTTP://LocalHost:8080", "same-origin", true},
        {"", "none", true},
        {"http://evil.example", "", false},
        {"http://localhost:8081", "", false},
        {"https://localhost:8080", "", false},
        {"http://localhost:8080.evil.example", "", false},
        {"null", "", false},
        {"http://", "", false},
        {"http://localhost:8080", "cross-site", false},
        {"", "same-site", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.origin) + " / " + c.fetchSite);
        EXPECT_EQ(IsSameOriginWrite(c.origin, c.fetchSite, "localhost:8080"), c.allowed);
    }
}

}  // namespace
}  // namespace bayercam::web
