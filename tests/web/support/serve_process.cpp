#include "web/support/serve_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace bayercam::web::test {

ServeProcess::ServeProcess(std::filesystem::path settingsDir)
    : settingsDir_(std::move(settingsDir)) {
    if (settingsDir_.empty()) {
        char pattern[] = "/tmp/bayercam-serve-XXXXXX";
        settingsDir_ = mkdtemp(pattern);
        ownsSettingsDir_ = true;
    }
    std::vector<std::string> args = {BAYERCAM_TOOL,         "--sim", "--settings-dir",
                                     settingsDir_.string(), "serve", "--listen",
                                     "127.0.0.1:0"};

    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);  // no server left behind by a crashed test
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    // The first line names the address once the server listens.
    FILE* stream = fdopen(out[0], "r");
    char line[256] = {};
    if (std::fgets(line, sizeof line, stream))
        std::sscanf(line, "bayercam serve: http://127.0.0.1:%d/", &port_);
    std::fclose(stream);
}

ServeProcess::~ServeProcess() {
    if (pid_ > 0) Stop(SIGTERM);
    std::error_code ignored;
    if (ownsSettingsDir_) std::filesystem::remove_all(settingsDir_, ignored);
}

int ServeProcess::Stop(int signal) {
    if (pid_ <= 0) return -1;
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace bayercam::web::test
