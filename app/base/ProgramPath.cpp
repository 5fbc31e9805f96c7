#include "base/ProgramPath.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == '/';
#endif
}

} // namespace

std::string RunningProgramPath() {
#ifdef _WIN32
    char buffer[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    // A path cut to the buffer would name some other file.
    if (length == 0 || length >= sizeof buffer) return {};
#else
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
#endif
    return std::string(buffer, static_cast<size_t>(length));
}

std::size_t FileNameStart(const std::string& path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return 2; // "C:name"
#endif
    return 0;
}

std::string FolderOf(const std::string& path) {
    std::size_t start = FileNameStart(path);
    if (start == 0) return ".";
    // The separator of a root stays: "/" and "C:\".
    std::size_t rootEnd = IsSeparator(path[0]) ? 1 : 0;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':')
        rootEnd = path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
#endif
    while (start > rootEnd && IsSeparator(path[start - 1]))
        --start;
    return path.substr(0, start);
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || IsSeparator(folder.back())) return folder + name;
    return folder + PathSeparator + name;
}

bool PathExists(const std::string& path) {
    if (path.empty()) return false;
#ifdef _WIN32
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
#endif
}
