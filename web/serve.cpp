#include "web/serve.h"

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <ctime>
#include <thread>

#include "web/frame_hub.h"
#include "web/live_camera.h"
#include "web/request_origin.h"
#include "web/web_server.h"

namespace bayercam::web {
namespace {

// Holds SIGINT and SIGTERM back from every thread started after it, so that one thread can
// take them with sigtimedwait and stop the server in an orderly way.
class StopSignals {
  public:
    StopSignals() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
        signal(SIGPIPE, SIG_IGN);
    }
    ~StopSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

    // Calls `stop` once a signal arrives; returns early, without calling it, once `*done`.
    template <class Stop>
    void Watch(const std::atomic<bool>& done, Stop stop) const {
        const timespec tick{0, 200'000'000};
        while (!done) {
            if (sigtimedwait(&set_, nullptr, &tick) > 0) return stop();
        }
    }

  private:
    sigset_t set_;
    sigset_t previous_;
};

}  // namespace

int RunServe(const ServeOptions& options) {
    std::string host;
    int port = 0;
    std::string error;
    if (!ParseListenAddress(options.listen, &host, &port, &error)) {
        std::fprintf(stderr, "bayercam serve: %s\n", error.c_str());
        return 2;
    }
    StopSignals signals;
    FrameHub hub;
    std::unique_ptr<LiveCamera> camera =
        LiveCamera::Open(options.selector, options.settingsDir, hub, &error);
    if (!camera || camera->Start(&error) != 0) {
        std::fprintf(stderr, "bayercam serve: %s\n", error.c_str());
        return 1;
    }
    WebServer server(*camera, hub, IsLoopbackAddress(host));
    if (!server.Bind(host, port, &error)) {
        std::fprintf(stderr, "bayercam serve: %s\n", error.c_str());
        return 1;
    }
    std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    std::printf("bayercam serve: http://%s:%d/\n", shown.c_str(), server.Port());
    std::fflush(stdout);

    std::atomic<bool> done = false;
    std::thread watcher([&] { signals.Watch(done, [&] { server.Stop(); }); });
    server.Run();
    done = true;
    watcher.join();
    camera.reset();  // stops the stream and saves the settings
    if (!options.quiet) std::fprintf(stderr, "bayercam serve: stopped, settings saved\n");
    return 0;
}

}  // namespace bayercam::web
