#include "core/LogTarget.h"

#include "core/LogFile.h"
#include "workspace/WorkspaceFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size()) return false;
    for (size_t i = 0; i < ending.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - ending.size() + i])) !=
            ending[i])
            return false;
    return true;
}

} // namespace

std::optional<std::string> LogTargetRefusal(const std::string& logPath,
                                            const std::string& workspacePath) {
    const bool toStdout = logPath == StandardOutputLog;
    const std::string logName = toStdout ? "standard output" : "the log file " + logPath;
    struct stat workspace {
    }, log{};
    const bool workspaceFound = ::stat(workspacePath.c_str(), &workspace) == 0;
    const int logFound = toStdout ? ::fstat(STDOUT_FILENO, &log) : ::stat(logPath.c_str(), &log);
    if (workspaceFound && logFound == 0 && log.st_dev == workspace.st_dev &&
        log.st_ino == workspace.st_ino)
        return logName + " is the workspace file " + workspacePath;
    if (!toStdout && EndsWithNoCase(logPath, ".lws"))
        return logName + " ends in \".lws\", as workspace files do";
    if (!workspaceFound) return std::nullopt;
    if (S_ISREG(workspace.st_mode) && ::access(workspacePath.c_str(), R_OK) == 0 &&
        !IsWorkspaceFile(workspacePath))
        return workspacePath + " is not a workspace file";
    return std::nullopt;
}
