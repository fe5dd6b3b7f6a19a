// `bayercam --sim serve` running in a child process on a free loopback port, with a settings
// folder of its own.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace bayercam::web::test {

class ServeProcess {
  public:
    // Starts the tool on `settingsDir` (empty: a new folder, removed at the end); Port() is 0
    // when it failed.
    explicit ServeProcess(std::filesystem::path settingsDir = {});
    // Stops the server with SIGTERM when Stop has not.
    ~ServeProcess();
    ServeProcess(const ServeProcess&) = delete;
    ServeProcess& operator=(const ServeProcess&) = delete;

    int Port() const { return port_; }
    std::string Origin() const { return "http://127.0.0.1:" + std::to_string(port_); }
    const std::filesystem::path& SettingsDir() const { return settingsDir_; }
    // Sends `signal`, waits, and gives the exit code (-1 when it did not exit normally).
    int Stop(int signal);

  private:
    std::filesystem::path settingsDir_;
    bool ownsSettingsDir_ = false;
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace bayercam::web::test
