// The page in headless Chromium, driven through its DevTools protocol over a pipe: the page loads
// with its controls, the live image changes over time, dragging the Hue slider changes the image,
// and a screenshot of the page goes to the output folder (the first argument). Exits 77, skipped,
// where there is no chromium.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <png.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "web/support/serve_process.h"

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kSkipped = 77;
int failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++failures;
}

std::string FindChromium() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        std::string path = "/usr/bin/" + std::string(name);
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return {};
}

std::string DecodeBase64(const std::string& text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    std::string out;
    int bits = 0, buffer = 0;
    for (char c : text) {
        int v = value(c);
        if (v < 0) continue;
        buffer = (buffer << 6) | v;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

// Chromium with its DevTools protocol on file descriptors 3 (commands in) and 4 (answers out),
// one JSON message per NUL-terminated record.
class Browser {
  public:
    explicit Browser(const std::string& chromium) {
        char pattern[] = "/tmp/bayercam-chromium-XXXXXX";
        profile_ = mkdtemp(pattern);
        int commands[2], answers[2];
        if (pipe(commands) != 0 || pipe(answers) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            int in = fcntl(commands[0], F_DUPFD, 10);
            int out = fcntl(answers[1], F_DUPFD, 10);
            dup2(in, 3);
            dup2(out, 4);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            for (int fd = 5; fd < 64; ++fd) close(fd);
            std::string profile = "--user-data-dir=" + profile_.string();
            execl(chromium.c_str(), chromium.c_str(), "--headless=new", "--no-sandbox",
                  "--disable-gpu", "--remote-debugging-pipe", "--no-first-run",
                  "--no-default-browser-check", "--window-size=1500,1000", "--hide-scrollbars",
                  profile.c_str(), "about:blank", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(commands[0]);
        close(answers[1]);
        to_ = commands[1];
        from_ = answers[0];
    }
    ~Browser() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(to_);
        close(from_);
        std::error_code ignored;
        std::filesystem::remove_all(profile_, ignored);
    }

    // The result of a command; null when it failed or no answer came in time.
    json Call(const std::string& method, json params = json::object(),
              const std::string& session = {}) {
        json message = {{"id", ++lastId_}, {"method", method}, {"params", std::move(params)}};
        if (!session.empty()) message["sessionId"] = session;
        std::string text = message.dump();
        text.push_back('\0');
        if (write(to_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return nullptr;
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            json answer = Read(deadline);
            if (answer.is_null()) break;
            if (answer.value("id", 0) != lastId_) continue;  // an event
            if (answer.contains("error")) {
                std::printf("%s: %s\n", method.c_str(), answer["error"].dump().c_str());
                return nullptr;
            }
            return answer["result"];
        }
        return nullptr;
    }

  private:
    json Read(std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            size_t end = pending_.find('\0');
            if (end != std::string::npos) {
                json message = json::parse(pending_.substr(0, end), nullptr, false);
                pending_.erase(0, end + 1);
                return message;
            }
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{from_, POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                return nullptr;
            char buffer[65536];
            ssize_t got = read(from_, buffer, sizeof buffer);
            if (got <= 0) return nullptr;
            pending_.append(buffer, static_cast<size_t>(got));
        }
    }

    std::filesystem::path profile_;
    pid_t pid_ = -1;
    int to_ = -1;
    int from_ = -1;
    int lastId_ = 0;
    std::string pending_;
};

class Page {
  public:
    Page(Browser& browser, const std::string& url) : browser_(browser) {
        json target = browser_.Call("Target.createTarget", {{"url", "about:blank"}});
        if (target.is_null()) return;
        json attached = browser_.Call("Target.attachToTarget",
                                      {{"targetId", target["targetId"]}, {"flatten", true}});
        if (attached.is_null()) return;
        session_ = attached["sessionId"];
        browser_.Call("Page.navigate", {{"url", url}}, session_);
    }
    bool Attached() const { return !session_.empty(); }

    json Evaluate(const std::string& expression) {
        json result = browser_.Call(
            "Runtime.evaluate",
            {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}},
            session_);
        return result.is_null() ? result : result["result"].value("value", json());
    }
    bool WaitFor(const std::string& expression, std::chrono::seconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Evaluate(expression) == true) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
    }
    void Mouse(const char* type, double x, double y) {
        browser_.Call("Input.dispatchMouseEvent",
                      {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}},
                      session_);
    }
    // The whole page, or the part `clip` names ({x, y, width, height, scale}).
    std::string Screenshot(const json& clip = nullptr) {
        json params = {{"format", "png"}};
        if (clip.is_object()) params["clip"] = clip;
        json shot = browser_.Call("Page.captureScreenshot", params, session_);
        return shot.is_null() ? std::string() : DecodeBase64(shot["data"]);
    }

  private:
    Browser& browser_;
    std::string session_;
};

// Where the live image is on the page.
constexpr const char* kLiveImageBox = R"((() => {
  const r = document.getElementById('live').getBoundingClientRect();
  return { x: r.left + window.scrollX, y: r.top + window.scrollY, width: r.width,
           height: r.height, scale: 1 };
})())";

// The live image as the screen shows it: its mean colour and a hash of its pixels.
struct Seen {
    double red = 0, green = 0, blue = 0;
    uint64_t hash = 0;
    bool ok = false;
};

Seen Look(Page& page) {
    Seen seen;
    std::string shot = page.Screenshot(page.Evaluate(kLiveImageBox));
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, shot.data(), shot.size())) return seen;
    png.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr) || rgb.empty()) return seen;
    double sum[3] = {0, 0, 0};
    for (size_t i = 0; i < rgb.size(); ++i) {
        sum[i % 3] += rgb[i];
        seen.hash = seen.hash * 1099511628211u + rgb[i];
    }
    double pixels = static_cast<double>(rgb.size() / 3);
    seen.red = sum[0] / pixels;
    seen.green = sum[1] / pixels;
    seen.blue = sum[2] / pixels;
    seen.ok = true;
    return seen;
}

double ColourDistance(const Seen& a, const Seen& b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path output = argc > 1 ? argv[1] : ".";
    std::string chromium = FindChromium();
    if (chromium.empty()) {
        std::printf("skipped: no chromium installed\n");
        return kSkipped;
    }
    bayercam::web::test::ServeProcess server;
    if (server.Port() == 0) {
        std::printf("FAILED: the server did not start\n");
        return 1;
    }
    Browser browser(chromium);
    Page page(browser, server.Origin() + "/");
    Check(page.Attached(), "the browser opens the page");
    if (!page.Attached()) return 1;

    Check(page.WaitFor("document.body.dataset.ready === 'true' && "
                       "document.getElementById('live').naturalWidth > 0",
                       30s),
          "the page loads and shows the live image");
    Check(page.Evaluate("document.querySelectorAll('#controls .row').length").get<int>() >= 20,
          "every control has a row");
    Check(page.Evaluate("document.getElementById('message').textContent") == "",
          "no error is shown");

    // The default exposure gives a nearly black picture, in which a hue cannot be seen.
    Check(page.Evaluate("fetch('/api/controls/Exposure', {method: 'PUT', body: "
                        "JSON.stringify({value: 700})}).then(r => r.ok)") == true,
          "the page's origin may change a control");
    std::this_thread::sleep_for(1s);
    Seen first = Look(page);
    std::this_thread::sleep_for(1s);
    Seen later = Look(page);
    Check(first.ok && later.ok && first.hash != later.hash, "the live image changes over time");

    // Drag the Hue slider from its left end to its middle, as a user would.
    json box = page.Evaluate(R"((() => {
      const slider = document.querySelector('#control-Hue input[type=range]');
      slider.scrollIntoView({ block: 'nearest' });
      const r = slider.getBoundingClientRect();
      return { x: r.left, y: r.top + r.height / 2, width: r.width };
    })())");
    if (box.is_object()) {
        double x = box["x"].get<double>(), y = box["y"].get<double>();
        double width = box["width"].get<double>();
        page.Mouse("mousePressed", x + 1, y);
        for (int step = 1; step <= 10; ++step) page.Mouse("mouseMoved", x + width * step / 20, y);
        page.Mouse("mouseReleased", x + width / 2, y);
    }
    Check(page.WaitFor("fetch('/api/controls').then(r => r.json())"
                       ".then(list => list.find(c => c.name === 'Hue').value > 120)",
                       10s),
          "dragging the Hue slider sets the hue");
    std::this_thread::sleep_for(1500ms);
    Seen turned = Look(page);
    std::printf("mean colour before (%.1f, %.1f, %.1f), after (%.1f, %.1f, %.1f)\n", later.red,
                later.green, later.blue, turned.red, turned.green, turned.blue);
    Check(turned.ok && ColourDistance(later, turned) > 20, "the new hue shows in the live image");
    page.WaitFor("document.getElementById('histogram').toDataURL().length > 5000", 5s);

    std::filesystem::create_directories(output);
    std::string png = page.Screenshot();
    std::ofstream(output / "page.png", std::ios::binary) << png;
    Check(png.size() > 10000, "a screenshot is written to " + (output / "page.png").string());
    return failures == 0 ? 0 : 1;
}
