// The tool as a separate process on the simulated camera, for tests of what only a whole process
// shows: exit status, files left behind, signals, other processes sharing its settings.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/registry_test_root.h"

namespace bayercam::tool_test {

struct ToolRun {
    int exitCode;  // 128 + N when signal N ended it
    std::string out;
    std::string err;
};

inline int ExitCode(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

// `prefix` (e.g. a privilege change) + the tool + its options for the simulated camera and
// `settingsDir`, then `arguments`, through the shell.
inline std::string ToolCommand(const std::string& settingsDir, const std::string& arguments,
                               const std::string& prefix = "") {
    std::string command = prefix + " " BAYERCAM_TOOL " --sim --sim-fps 0 --settings-dir '";
    command += settingsDir + "' " + arguments;
    return command;
}

// Runs a shell command line; stderr goes through `scratch`/stderr.
inline ToolRun RunShell(const std::string& commandLine, const std::string& scratch) {
    const std::string errFile = scratch + "/stderr";
    const std::string command = commandLine + " 2>'" + errFile + "'";
    ToolRun run{-1, "", ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    run.exitCode = ExitCode(pclose(pipe));
    run.err = test_support::ReadWholeFile(errFile);
    return run;
}

// The tool started in the background with the arguments given, its standard output on a pipe
// (`out`), its standard error in `errFile`.
struct Spawned {
    pid_t pid = -1;
    int out = -1;

    // Closes the reading end, as a reader that stops early does.
    void CloseOutput() {
        close(out);
        out = -1;
    }

    // Reads what is left of its output, waits for it and returns its exit code.
    int Wait() {
        char buffer[65536];
        while (out >= 0 && read(out, buffer, sizeof buffer) > 0) {
        }
        if (out >= 0) close(out);
        out = -1;
        int status = 0;
        waitpid(pid, &status, 0);
        return ExitCode(status);
    }
};

inline Spawned SpawnTool(const std::vector<std::string>& arguments, const std::string& errFile) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    std::vector<std::string> all = {BAYERCAM_TOOL};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0) dup2(err, STDERR_FILENO);
        close(pipeFds[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    return {pid, pipeFds[0]};
}

// Reads up to `size` bytes from `fd`; fewer only at its end.
inline std::string ReadBytes(int fd, size_t size) {
    std::string data(size, '\0');
    size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, data.data() + done, size - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    data.resize(done);
    return data;
}

}  // namespace bayercam::tool_test
