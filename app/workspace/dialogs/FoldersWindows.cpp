#include "workspace/dialogs/FileDialogs.h"
#include "workspace/dialogs/FolderCalls.h"

#include "base/ProgramPath.h"
#include "base/WindowsError.h"

#include <windows.h>

#include <shlobj.h>

std::string ShellSpecialFolders::GetSpecialFolder(int number) {
    LPITEMIDLIST item = nullptr;
    if (::SHGetSpecialFolderLocation(nullptr, number, &item) != S_OK || !item) return {};
    char buffer[MAX_PATH] = {};
    const BOOL found = ::SHGetPathFromIDListA(item, buffer);
    ::CoTaskMemFree(item);
    if (!found) return {};
    std::string path(buffer); // up to the first NUL
    const auto first = path.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return path.substr(first, path.find_last_not_of(' ') - first + 1);
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int MakeFolder(const std::string& path) {
    return ::CreateDirectoryA(path.c_str(), nullptr) ? 0 : LastWindowsErrno();
}

// The file system itself matches names without regard to letter case.
std::string FileInFolder(const std::string& folder, const std::string& name) {
    return JoinPath(folder, name);
}
