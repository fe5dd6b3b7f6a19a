// The running `bayercam --sim serve`, over HTTP.
#include <gtest/gtest.h>
#include <httplib.h>
#include <png.h>
#include <signal.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <thread>

#include "web/support/serve_process.h"
#include "web/web_server.h"

namespace bayercam::web::test {
namespace {

using nlohmann::json;

class ServeHttpTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new ServeProcess(); }
    static void TearDownTestSuite() { delete server_; }

    void SetUp() override {
        ASSERT_NE(server_->Port(), 0) << "the server did not start";
        client_ = std::make_unique<httplib::Client>("127.0.0.1", server_->Port());
        client_->set_read_timeout(10, 0);
    }

    httplib::Result Put(const std::string& name, const std::string& body,
                        httplib::Headers headers = {}) {
        return client_->Put(("/api/controls/" + name).c_str(), headers, body, "application/json");
    }
    json Control(const std::string& name) {
        auto res = client_->Get("/api/controls");
        if (!res) return nullptr;
        for (const json& control : json::parse(res->body))
            if (control["name"] == name) return control;
        return nullptr;
    }
    json Status() {
        auto res = client_->Get("/api/status");
        return res ? json::parse(res->body) : json::object();
    }

    // The mean of every sample of the current frame; -1 when there is none.
    double MeanLevel() {
        auto res = client_->Get("/frame.png");
        png_image png{};
        png.version = PNG_IMAGE_VERSION;
        if (!res || !png_image_begin_read_from_memory(&png, res->body.data(), res->body.size()))
            return -1;
        png.format = PNG_FORMAT_RGB;
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
        if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) return -1;
        double sum = 0;
        for (uint8_t sample : rgb) sum += sample;
        return sum / static_cast<double>(rgb.size());
    }

    static ServeProcess* server_;
    std::unique_ptr<httplib::Client> client_;
};

ServeProcess* ServeHttpTest::server_ = nullptr;

TEST_F(ServeHttpTest, ServesThePageAndRefusesUnknownPaths) {
    struct Case {
        const char* path;
        int status;
        const char* type;
    } cases[] = {
        {"/", 200, "text/html"},
        {"/app.js", 200, "text/javascript"},
        {"/style.css", 200, "text/css"},
        {"/index.htm", 404, "application/json"},
        {"/api/nothing", 404, "application/json"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        auto res = client_->Get(c.path);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        EXPECT_TRUE(res->get_header_value("Content-Type").starts_with(c.type));
    }
}

TEST_F(ServeHttpTest, ListsEveryControlWithItsRangeAndAccess) {
    auto res = client_->Get("/api/controls");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    json controls = json::parse(res->body);
    ASSERT_TRUE(controls.is_array());
    for (const json& control : controls) {
        for (const char* key : {"name", "id", "value", "min", "max", "default", "access"})
            EXPECT_TRUE(control.contains(key)) << control.dump() << " lacks " << key;
    }
    json hue = Control("Hue");
    EXPECT_EQ(hue["id"], 32);
    EXPECT_EQ(hue["min"], 0);
    EXPECT_EQ(hue["max"], 359);
    EXPECT_EQ(hue["default"], 0);
    EXPECT_EQ(hue["access"], "get/set");
    EXPECT_EQ(Control("RegionOfInterest")["access"], "set");
    EXPECT_EQ(Control("SensorWidth")["value"], 1360);
}

TEST_F(ServeHttpTest, RefusedWritesAnswerInJsonAndChangeNothing) {
    ASSERT_EQ(Put("Hue", R"({"value": 40})")->status, 200);
    struct Case {
        const char* name;
        std::string body;
        httplib::Headers headers;
        int status;
    } cases[] = {
        {"Hue", R"({"value": 90})", {{"Origin", "http://evil.example"}}, 403},
        {"Hue", R"({"value": 90})", {{"Sec-Fetch-Site", "cross-site"}}, 403},
        {"Hue", R"({"value": 90})", {{"Host", "evil.example:8080"}}, 403},
        {"Hue", R"({"value": 90)", {}, 400},
        {"Hue", R"({"value": "90"})", {}, 400},
        {"Hue", R"({"value": 360})", {}, 400},
        {"Hue", R"({"value": -1})", {}, 400},
        {"SensorWidth", R"({"value": 90})", {}, 400},
        {"NoSuchControl", R"({"value": 90})", {}, 404},
        {"Hue", R"({"value": 90, "pad": ")" + std::string(kMaxBodyBytes, 'x') + R"("})", {}, 413},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.body.substr(0, 40));
        auto res = Put(c.name, c.body, c.headers);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, c.status);
        json answer = json::parse(res->body, nullptr, false);
        EXPECT_TRUE(answer.contains("error")) << res->body;
    }
    EXPECT_EQ(Control("Hue")["value"], 40);
    ASSERT_EQ(Put("Hue", R"({"value": 0})", {{"Origin", server_->Origin()}})->status, 200);
}

TEST_F(ServeHttpTest, AChangeReachesTheNextFrames) {
    double before = MeanLevel();
    ASSERT_GE(before, 0);
    auto res = Put("Brightness", R"({"value": 450})");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(json::parse(res->body)["value"], 450);
    double after = before;
    for (int attempt = 0; attempt < 50 && after < before + 50; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        after = MeanLevel();
    }
    EXPECT_GE(after, before + 50) << "frames kept their brightness";
    Put("Brightness", R"({"value": 255})");
}

TEST_F(ServeHttpTest, NewRegionRenegotiatesTheStream) {
    auto res = Put("RegionOfInterest", R"({"value": [100, 50, 640, 480]})");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    json status;
    for (int attempt = 0; attempt < 50; ++attempt) {
        status = Status();
        if (status["width"] == 640 && status["height"] == 480) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(status["width"], 640);
    EXPECT_EQ(status["height"], 480);
    EXPECT_EQ(status["region"]["x"], 100);
    auto pgm = client_->Get("/frame.pgm");
    ASSERT_TRUE(pgm);
    EXPECT_EQ(pgm->status, 200);
    EXPECT_TRUE(pgm->body.starts_with("P5\n640 480\n255\n")) << pgm->body.substr(0, 20);
    EXPECT_EQ(pgm->body.size(), 15 + 640u * 480u);
    Put("RegionOfInterest", R"({"value": [0, 0, 0, 0]})");
}

TEST_F(ServeHttpTest, StatusFollowsTheStream) {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    json first = Status();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    json second = Status();
    for (const char* key : {"camera", "width", "height", "fps", "delivered", "dropped"})
        EXPECT_TRUE(second.contains(key)) << key;
    EXPECT_GT(second["delivered"].get<uint64_t>(), first["delivered"].get<uint64_t>());
    EXPECT_GT(second["fps"].get<double>(), 0);
    EXPECT_EQ(second["width"], 1360);
    EXPECT_EQ(second["height"], 1024);
}

TEST_F(ServeHttpTest, LiveViewSendsJpegPartsAndIsBounded) {
    std::atomic<bool> stop = false;
    std::atomic<int> streaming = 0;
    std::vector<std::thread> viewers;
    std::string firstBody;
    std::string firstType;
    for (int i = 0; i < kMaxStreamClients; ++i) {
        viewers.emplace_back([&, i] {
            httplib::Client client("127.0.0.1", server_->Port());
            bool counted = false;
            client.Get(
                "/stream.mjpg",
                [&](const httplib::Response& res) {
                    if (i == 0) firstType = res.get_header_value("Content-Type");
                    return true;
                },
                [&](const char* data, size_t size) {
                    if (i == 0 && firstBody.size() < 100000) firstBody.append(data, size);
                    if (!counted) ++streaming, counted = true;
                    return !stop;
                });
        });
    }
    for (int wait = 0; wait < 100 && streaming < kMaxStreamClients; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(streaming, kMaxStreamClients);
    auto extra = client_->Get("/stream.mjpg");
    ASSERT_TRUE(extra);
    EXPECT_EQ(extra->status, 503);
    stop = true;
    for (std::thread& viewer : viewers) viewer.join();

    EXPECT_EQ(firstType, "multipart/x-mixed-replace; boundary=bayercamframe");
    EXPECT_TRUE(firstBody.starts_with("--bayercamframe\r\nContent-Type: image/jpeg\r\n"));
    size_t jpeg = firstBody.find("\r\n\r\n");
    ASSERT_NE(jpeg, std::string::npos);
    EXPECT_EQ(firstBody.substr(jpeg + 4, 2), "\xFF\xD8");
}

TEST(ServeShutdownTest, StopSignalSavesTheSettingsAndExitsZero) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        char pattern[] = "/tmp/bayercam-serve-XXXXXX";
        std::filesystem::path settings = mkdtemp(pattern);
        {
            ServeProcess server(settings);
            ASSERT_NE(server.Port(), 0);
            httplib::Client client("127.0.0.1", server.Port());
            ASSERT_EQ(
                client.Put("/api/controls/Hue", R"({"value": 123})", "application/json")->status,
                200);
            EXPECT_EQ(server.Stop(signal), 0);
        }
        ServeProcess again(settings);
        httplib::Client client("127.0.0.1", again.Port());
        json hue;
        for (const json& control : json::parse(client.Get("/api/controls")->body))
            if (control["name"] == "Hue") hue = control;
        EXPECT_EQ(hue["value"], 123);
        again.Stop(SIGTERM);
        std::filesystem::remove_all(settings);
    }
}

}  // namespace
}  // namespace bayercam::web::test
