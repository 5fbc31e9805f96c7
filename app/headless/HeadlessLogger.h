// The headless front end: logs one workspace unattended, with the same
// engine as the desktop program, until a row count, a time or a signal.
#pragma once

#include "core/LogFile.h"
#include "mqtt/MqttMessages.h"

#include <optional>
#include <string>

struct HeadlessOptions {
    std::string workspacePath;
    std::string logPath;                        // "-": standard output
    LogFileMode logMode = LogFileMode::NewOnly; // --overwrite: Replace, --append: Append
    long long rows = 0;                         // 0: no row limit
    double seconds = 0;                         // 0: no time limit
    MqttOptions mqtt;                           // --mqtt...: readings to a broker too
};

// The options from the command line, or nothing (and why in error).
std::optional<HeadlessOptions> ParseHeadlessOptions(int argc, char** argv, std::string& error);

// Runs the logger inside a QCoreApplication; returns the exit status.
int RunHeadlessLogger(const HeadlessOptions& options);
