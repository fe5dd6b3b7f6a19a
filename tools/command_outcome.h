// What a command learns only once its camera has closed: the settings its driver could not save,
// a USB trace that could not be written. Reported once, after the command's own output.
#pragma once

#include <string>

namespace bayercam::tool {

// The command changes settings (set, a capture with --set or --roi): a settings folder that
// cannot be written fails it, where for other commands it is only mentioned.
void CommandChangesSettings();

// A failure found after the command's work, e.g. while the camera closed; fails the command.
void ReportLateFailure(const std::string& message);

// Prints what the command left to report and returns its final exit status: `exitCode`, or
// the failure status when it succeeded but something was not written.
int FinishCommand(int exitCode);

}  // namespace bayercam::tool
