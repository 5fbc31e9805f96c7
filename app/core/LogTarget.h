// The checks tarnvik-log makes of its log path before anything is opened,
// so that no mistyped command line can overwrite the workspace.
#pragma once

#include <optional>
#include <string>

// Why logPath ("-": standard output) must not take the log of the workspace
// at workspacePath, or nothing when it may: a log path that is the
// workspace file (after following links) or ends in ".lws", or a workspace
// file without its "Workspace" section. A workspace that cannot be read at
// all is left for its loading to report.
std::optional<std::string> LogTargetRefusal(const std::string& logPath,
                                            const std::string& workspacePath);
