#include "workspace/dialogs/FileDialogs.h"
#include "workspace/dialogs/FolderCalls.h"

#include "base/ProgramPath.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>

namespace {

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// mkdir -p: the parents of a special folder may be missing on a fresh account.
bool MakeFolderWithParents(const std::string& path) {
    if (path.empty()) return false;
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos != path.size() && path[pos] != '/') continue;
        const std::string part = path.substr(0, pos);
        if (::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return IsFolder(path);
}

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int MakeFolder(const std::string& path) {
    return ::mkdir(path.c_str(), 0777) == 0 ? 0 : errno;
}

std::string XdgSpecialFolders::GetSpecialFolder(int number) {
    const std::string home = EnvText("HOME");
    std::string path;
    if (number == CSIDL_LOCAL_APPDATA) {
        const std::string config = EnvText("XDG_CONFIG_HOME");
        if (!config.empty() && config.front() == '/')
            path = config;
        else if (!home.empty())
            path = JoinPath(home, ".config");
    } else if (number == CSIDL_PERSONAL && !home.empty()) {
        path = JoinPath(home, "Documents");
    }
    path = Trim(path);
    if (path.empty() || !MakeFolderWithParents(path)) return {};
    return path;
}

std::string FileInFolder(const std::string& folder, const std::string& name) {
    if (DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str())) {
        std::string found;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string entryName = entry->d_name;
            if (EqualNoCase(entryName, name)) {
                // An exact spelling wins over another letter case.
                found = entryName;
                if (entryName == name) break;
            }
        }
        ::closedir(dir);
        if (!found.empty()) return JoinPath(folder, found);
    }
    return JoinPath(folder, name);
}
