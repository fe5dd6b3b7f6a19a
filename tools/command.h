// The command-line tool's commands: each cmd_*.cpp registers one with BAYERCAM_COMMAND.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bayercam::tool {

// The one exit status rule of every command (beside 128 + N for a capture ended by signal N).
constexpr int kExitFailure = 1;  // the operation failed
constexpr int kExitUsage = 2;    // the command line was wrong

// Options that come before the command and apply to every command.
struct GlobalOptions {
    bool sim = false;                 // --sim: the built-in simulated camera
    std::string settingsDir;          // --settings-dir DIR
    std::optional<int32_t> simClock;  // --sim-clock N: clock selection the simulated camera reports
    double simFps = 30.0;             // --sim-fps F: 0 = as fast as possible
    std::string simScene = "chart";   // --sim-scene chart|file:PATH
    std::string usbTrace;             // --usb-trace FILE: usbmon pcap of every bus transfer
    std::string usbDevice;            // --usb VID:PID[:SERIAL]
    std::string usbPath;              // --usb-path BUS-PORTS
    bool quiet = false;               // --quiet
};

// Adds the command to `app` as a subcommand; its callback runs the command and stores the exit
// code in `exitCode`.
using CommandSetup = std::function<void(CLI::App& app, const GlobalOptions& global, int& exitCode)>;

struct CommandRegistration {
    CommandRegistration(const char* name, CommandSetup setup);
};

struct RegisteredCommand {
    std::string name;
    CommandSetup setup;
};
std::vector<RegisteredCommand>& RegisteredCommands();

}  // namespace bayercam::tool

#define BAYERCAM_COMMAND(name, setup) \
    static const ::bayercam::tool::CommandRegistration bayercamCommand_##name(#name, setup)
