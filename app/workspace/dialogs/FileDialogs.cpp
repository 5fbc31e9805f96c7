#include "workspace/dialogs/FileDialogs.h"

#include "base/ProgramPath.h"
#include "workspace/IniFile.h"
#include "workspace/dialogs/FolderCalls.h"

#include <cerrno>
#include <cstring>

namespace {

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
    std::string name = exe.substr(FileNameStart(exe));
    if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.resize(dot);
    location.ProgramName = name;
    return location;
}

bool CreateFolder(const std::string& path, MessageBoxes& messages) {
    if (PathExists(path)) return true;
    const int error = MakeFolder(path);
    if (error == 0) return true;
    // A refused access is passed over: the program goes on without the folder.
    if (error != EACCES && error != EPERM && error != EROFS && error != EEXIST)
        messages.show("Error " + std::string(std::strerror(error)) +
                          " while attempting to create folder: " + path,
                      "Error", MessageIcon::Critical);
    return IsFolder(path);
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
        if (const std::size_t start = FileNameStart(chosen); start == 0) {
            name = chosen;
        } else {
            folder = FolderOf(chosen);
            name = chosen.substr(start);
        }
    }
    // Written after a cancel as well, so that missing entries get their defaults.
    WriteIniValue(m_settingsFile, where.section, "InitFile", name);
    WriteIniValue(m_settingsFile, where.section, "InitDir", folder);
    return chosen;
}
