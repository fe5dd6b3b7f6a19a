#include "web/web_server.h"

#include "web/control_api.h"
#include "web/request_origin.h"
#include "web/web_assets.h"

namespace bayercam::web {
namespace {

constexpr const char* kJson = "application/json";
constexpr const char* kBoundary = "bayercamframe";
// A viewer steps down a quality level after this many frames in a row that it fell behind on,
// and back up after this many in a row that it kept pace with.
constexpr int kBehindToStepDown = 2;
constexpr int kSteadyToStepUp = 60;
// How long a snapshot waits for the first frame.
constexpr auto kSnapshotWait = std::chrono::seconds(3);
// How long one wait of a live view lasts before it looks at the server's state again.
constexpr auto kViewerWait = std::chrono::milliseconds(500);
constexpr size_t kWorkerThreads = 12;

void SendJson(httplib::Response& res, const nlohmann::json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(), kJson);
}

void SendError(httplib::Response& res, int status, std::string_view message) {
    SendJson(res, ErrorJson(message), status);
}

// For the refusals the HTTP layer makes without a word of its own.
const char* StatusText(int status) {
    switch (status) {
        case 400:
            return "bad request";
        case 404:
            return "no such path";
        case 405:
            return "method not allowed";
        case 413:
            return "request body too large";
        case 414:
            return "request line too long";
        default:
            return "request failed";
    }
}

// What a live view remembers between two frames.
struct Viewer {
    uint64_t seen = 0;  // serial of the last frame sent
    size_t level = 0;   // into kJpegLevels
    int behind = 0;
    int steady = 0;

    void Pace(uint64_t serial) {
        bool skipped = seen != 0 && serial > seen + 1;
        behind = skipped ? behind + 1 : 0;
        steady = skipped ? 0 : steady + 1;
        if (behind >= kBehindToStepDown && level + 1 < kJpegLevels.size()) {
            ++level;
            behind = 0;
        } else if (steady >= kSteadyToStepUp && level > 0) {
            --level;
            steady = 0;
        }
        seen = serial;
    }
};

}  // namespace

WebServer::WebServer(LiveCamera& camera, FrameHub& hub, bool loopbackOnly)
    : camera_(camera), hub_(hub), loopbackOnly_(loopbackOnly) {
    http_.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
    http_.set_payload_max_length(kMaxBodyBytes);
    http_.set_read_timeout(kClientTimeoutSeconds, 0);
    http_.set_write_timeout(kClientTimeoutSeconds, 0);
    http_.set_keep_alive_timeout(kClientTimeoutSeconds);

    http_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!IsAllowedHost(req.get_header_value("Host"), loopbackOnly_)) {
            SendError(res, 403, "this server answers only requests addressed to its own host");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD" &&
            !IsSameOriginWrite(req.get_header_value("Origin"),
                               req.get_header_value("Sec-Fetch-Site"),
                               req.get_header_value("Host"))) {
            SendError(res, 403, "changes are accepted only from the server's own page");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Every refusal, including the ones the HTTP layer makes itself (too large, no such path),
    // answers in JSON.
    http_.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) SendError(res, res.status, StatusText(res.status));
    });

    http_.Get("/", [this](const httplib::Request&, httplib::Response& res) {
        ServeFile("index.html", res);
    });
    http_.Get("/(style\\.css|app\\.js)",
              [this](const httplib::Request& req, httplib::Response& res) {
                  ServeFile(req.matches[1], res);
              });
    http_.Get("/api/controls",
              [this](const httplib::Request&, httplib::Response& res) { GetControls(res); });
    http_.Put("/api/controls/([^/]+)", [this](const httplib::Request& req, httplib::Response& res) {
        PutControl(req, res);
    });
    http_.Get("/api/status",
              [this](const httplib::Request&, httplib::Response& res) { GetStatus(res); });
    http_.Put("/api/auto-exposure", [this](const httplib::Request& req, httplib::Response& res) {
        PutAutoExposure(req, res);
    });
    http_.Get("/api/histogram",
              [this](const httplib::Request&, httplib::Response& res) { GetHistogram(res); });
    http_.Get("/stream.mjpg",
              [this](const httplib::Request&, httplib::Response& res) { GetStream(res); });
    http_.Get("/frame.png",
              [this](const httplib::Request&, httplib::Response& res) { GetSnapshot(res); });
    http_.Get("/frame.pgm",
              [this](const httplib::Request&, httplib::Response& res) { GetRawSnapshot(res); });
}

bool WebServer::Bind(const std::string& host, int port, std::string* error) {
    port_ = port == 0 ? http_.bind_to_any_port(host) : (http_.bind_to_port(host, port) ? port : -1);
    if (port_ <= 0) {
        *error = "cannot listen on " + host + ":" + std::to_string(port);
        return false;
    }
    return true;
}

void WebServer::Run() {
    http_.listen_after_bind();
}

void WebServer::Stop() {
    hub_.Close();
    http_.stop();
}

void WebServer::ServeFile(const std::string& name, httplib::Response& res) const {
    const EmbeddedFile* file = FindEmbeddedFile(name);
    if (!file) return SendError(res, 404, "no such file");
    res.set_header("Cache-Control", "no-cache");
    res.set_content(reinterpret_cast<const char*>(file->data), file->size, ContentTypeOf(name));
}

nlohmann::json WebServer::RegionJson() const {
    Region region = camera_.CurrentRegion();
    auto orNull = [](const std::optional<int32_t>& v) {
        return v ? nlohmann::json(*v) : nlohmann::json(nullptr);
    };
    return {{"x", orNull(region.x)},
            {"y", orNull(region.y)},
            {"width", region.width},
            {"height", region.height}};
}

void WebServer::GetControls(httplib::Response& res) {
    nlohmann::json list = nlohmann::json::array();
    for (const ControlInfo& control : camera_.Controls())
        list.push_back(ControlJson(control, camera_.Get(control)));
    SendJson(res, list);
}

void WebServer::PutControl(const httplib::Request& req, httplib::Response& res) {
    ControlWrite write = ParseControlWrite(camera_.Controls(), req.matches[1].str(), req.body);
    if (write.status != 200) return SendError(res, write.status, write.error);
    std::string error;
    if (camera_.Set(*write.control, write.values, &error) != 0) return SendError(res, 500, error);
    nlohmann::json answer = ControlJson(*write.control, camera_.Get(*write.control));
    if (write.control->name == kRegionControl) answer["value"] = RegionJson();
    SendJson(res, answer);
}

void WebServer::GetStatus(httplib::Response& res) {
    LiveStats stats = hub_.Stats();
    SendJson(res, {{"camera", camera_.Selector()},
                   {"width", stats.width},
                   {"height", stats.height},
                   {"fps", stats.fps},
                   {"delivered", stats.delivered},
                   {"dropped", stats.dropped},
                   {"region", RegionJson()},
                   {"autoExposure", camera_.AutoExposure()},
                   {"viewers", streamClients_.load()},
                   {"error", camera_.StreamError()}});
}

void WebServer::PutAutoExposure(const httplib::Request& req, httplib::Response& res) {
    int32_t on = 0;
    std::string error;
    if (!ParseSingleValue(req.body, 0, 1, &on, &error)) return SendError(res, 400, error);
    if (camera_.SetAutoExposure(on != 0, &error) != 0) return SendError(res, 500, error);
    SendJson(res, {{"autoExposure", camera_.AutoExposure()}});
}

void WebServer::GetHistogram(httplib::Response& res) {
    std::shared_ptr<const LiveFrame> frame = hub_.Latest();
    if (!frame) return SendError(res, 503, "no frame yet");
    Histogram histogram = HistogramOf(frame->Image());
    SendJson(res, {{"red", histogram.red}, {"green", histogram.green}, {"blue", histogram.blue}});
}

void WebServer::GetStream(httplib::Response& res) {
    if (++streamClients_ > kMaxStreamClients) {
        --streamClients_;
        return SendError(res, 503, "too many live views open");
    }
    auto viewer = std::make_shared<Viewer>();
    res.set_header("Cache-Control", "no-cache, no-store");
    res.set_chunked_content_provider(
        std::string("multipart/x-mixed-replace; boundary=") + kBoundary,
        [this, viewer](size_t, httplib::DataSink& sink) {
            std::shared_ptr<const LiveFrame> frame = hub_.WaitNewer(viewer->seen, kViewerWait);
            if (hub_.Closed()) return false;
            if (!frame) return true;  // no new frame yet: wait again
            viewer->Pace(frame->Serial());
            const std::string& jpeg = frame->Jpeg(viewer->level);
            std::string head =
                std::string("--") + kBoundary +
                "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(jpeg.size()) +
                "\r\n\r\n";
            return sink.write(head.data(), head.size()) && sink.write(jpeg.data(), jpeg.size()) &&
                   sink.write("\r\n", 2);
        },
        [this](bool) { --streamClients_; });
}

void WebServer::GetSnapshot(httplib::Response& res) {
    std::shared_ptr<const LiveFrame> frame = hub_.Latest();
    if (!frame) frame = hub_.WaitNewer(0, kSnapshotWait);
    if (!frame) return SendError(res, 503, "no frame yet");
    res.set_header("Cache-Control", "no-cache, no-store");
    res.set_content(EncodePng(frame->Image()), "image/png");
}

void WebServer::GetRawSnapshot(httplib::Response& res) {
    uint32_t width = 0, height = 0;
    std::string error;
    std::vector<uint8_t> samples = camera_.RawFrame(&width, &height, &error);
    if (samples.empty()) return SendError(res, 503, error);
    res.set_header("Cache-Control", "no-cache, no-store");
    res.set_content(EncodePgm(samples, width, height), "image/x-portable-graymap");
}

}  // namespace bayercam::web
