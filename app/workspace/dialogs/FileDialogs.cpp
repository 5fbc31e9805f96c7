#include "workspace/dialogs/FileDialogs.h"

#include "ProgramPath.h"
#include "workspace/IniFile.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

struct SectionOf {
    const char* section;
    const char* defaultName;
};

SectionOf SectionFor(FileKind kind) {
    return kind == FileKind::LogFile ? SectionOf{"LogFiles", "Log Data"}
                                     : SectionOf{"WorkspaceFiles", "Workspace"};
}

} // namespace

ProgramLocation ProgramLocation::OfThisProcess() {
    const std::string exe = RunningProgramPath();
    ProgramLocation location;
    if (exe.empty()) return location;
    location.ApplicationFolder = FolderOf(exe);
    std::string name = exe.substr(exe.rfind('/') + 1);
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    location.ProgramName = name;
    return location;
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

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool CreateFolder(const std::string& path, MessageBoxes& messages) {
    if (PathExists(path)) return true;
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    const int error = errno;
    // A refused access is passed over: the program goes on without the folder.
    if (error != EACCES && error != EPERM && error != EROFS && error != EEXIST)
        messages.show("Error " + std::string(std::strerror(error)) +
                          " while attempting to create folder: " + path,
                      "Error", MessageIcon::Critical);
    return IsFolder(path);
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

AppFolders InitFolders(const ProgramLocation& program, SpecialFolderSource& shell,
                       MessageBoxes& messages) {
    AppFolders folders;
    const std::string appData = shell.GetSpecialFolder(CSIDL_LOCAL_APPDATA);
    folders.SettingsFolder =
        appData.empty() ? program.ApplicationFolder : JoinPath(appData, program.ProgramName);
    CreateFolder(folders.SettingsFolder, messages);
    const std::string documents = shell.GetSpecialFolder(CSIDL_PERSONAL);
    folders.DataFolder = documents.empty() ? program.ApplicationFolder
                                           : JoinPath(documents, program.ProgramName + " Logs");
    CreateFolder(folders.DataFolder, messages);
    const std::string besideProgram = FileInFolder(program.ApplicationFolder, "Config.INI");
    if (PathExists(besideProgram)) folders.SettingsFolder = program.ApplicationFolder;
    folders.SettingsFile = FileInFolder(folders.SettingsFolder, "config.ini");
    return folders;
}

FileDialogRequest FileDialogFor(FileKind kind) {
    FileDialogRequest request;
    if (kind == FileKind::LogFile) {
        request.Save = true;
        request.Title = "Log File";
        request.DefaultExtension = "csv";
        request.Filters = {{"Log Files (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}};
        request.AskBeforeOverwrite = true;
        return request;
    }
    request.Save = kind == FileKind::WorkspaceSave;
    request.Title = "Logger Workspace File";
    request.DefaultExtension = "lws";
    request.Filters = {{"Log Files (*.lws)", "*.lws"}, {"All Files (*.*)", "*.*"}};
    request.FileMustExist = kind == FileKind::WorkspaceOpen;
    request.AskBeforeOverwrite = kind == FileKind::WorkspaceSave;
    return request;
}

FileChooser::FileChooser(FileDialogService& dialogs, std::string settingsFile,
                         std::string dataFolder)
    : m_dialogs(dialogs), m_settingsFile(std::move(settingsFile)),
      m_dataFolder(std::move(dataFolder)) {}

std::string FileChooser::ChooseWorkspaceToOpen() {
    return Choose(FileKind::WorkspaceOpen);
}
std::string FileChooser::ChooseWorkspaceToSave() {
    return Choose(FileKind::WorkspaceSave);
}
std::string FileChooser::ChooseLogFile() {
    return Choose(FileKind::LogFile);
}

std::string FileChooser::Choose(FileKind kind) {
    const SectionOf where = SectionFor(kind);
    std::string folder = ReadIniValue(m_settingsFile, where.section, "InitDir", m_dataFolder);
    std::string name = ReadIniValue(m_settingsFile, where.section, "InitFile", where.defaultName);

    FileDialogRequest request = FileDialogFor(kind);
    request.InitialFolder = folder;
    request.InitialName = name;
    const FileDialogResult result = m_dialogs.Show(request);
    std::string chosen;
    if (result.Accepted && !result.Path.empty()) {
        chosen = result.Path;
        const auto slash = chosen.rfind('/');
        if (slash == std::string::npos) {
            name = chosen;
        } else {
            folder = slash == 0 ? "/" : chosen.substr(0, slash);
            name = chosen.substr(slash + 1);
        }
    }
    // Written after a cancel as well, so that missing entries get their defaults.
    WriteIniValue(m_settingsFile, where.section, "InitFile", name);
    WriteIniValue(m_settingsFile, where.section, "InitDir", folder);
    return chosen;
}
