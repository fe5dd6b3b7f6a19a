// The HTTP side of `bayercam serve`: the page, the control API, the live view and snapshots.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>

#include "web/frame_hub.h"
#include "web/live_camera.h"

namespace bayercam::web {

// Bounds that keep one client from taking the server.
inline constexpr int kMaxStreamClients = 4;
inline constexpr size_t kMaxBodyBytes = 4096;
inline constexpr int kClientTimeoutSeconds = 5;

class WebServer {
  public:
    // `loopbackOnly`: answer only requests addressed to a loopback host.
    WebServer(LiveCamera& camera, FrameHub& hub, bool loopbackOnly);
    // Port 0 takes a free one. False with `*error` set.
    bool Bind(const std::string& host, int port, std::string* error);
    int Port() const { return port_; }
    // Serves until Stop.
    void Run();
    // From any thread: ends the live views and makes Run return.
    void Stop();

  private:
    void ServeFile(const std::string& name, httplib::Response& res) const;
    void GetControls(httplib::Response& res);
    void PutControl(const httplib::Request& req, httplib::Response& res);
    void GetStatus(httplib::Response& res);
    void PutAutoExposure(const httplib::Request& req, httplib::Response& res);
    void GetHistogram(httplib::Response& res);
    void GetStream(httplib::Response& res);
    void GetSnapshot(httplib::Response& res);
    void GetRawSnapshot(httplib::Response& res);
    nlohmann::json RegionJson() const;

    LiveCamera& camera_;
    FrameHub& hub_;
    bool loopbackOnly_;
    httplib::Server http_;
    int port_ = 0;
    std::atomic<int> streamClients_ = 0;
};

}  // namespace bayercam::web
