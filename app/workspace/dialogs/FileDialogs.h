// Where the program keeps its files, and the dialogs that choose workspace
// and log files while remembering the last folder and name of each kind.
//
// Main window use at start-up and in its commands:
//   QtSpecialFolders shell;                         // FileDialogsQt.h
//   AppFolders folders = InitFolders(ProgramLocation(), shell, messages);
//   QtFileDialogService dialogs(this);
//   FileChooser chooser(dialogs, folders.SettingsFile, folders.DataFolder);
//   std::string path = chooser.ChooseWorkspaceToOpen();   // "" = cancelled
#pragma once

#include "base/MessageBox.h"

#include <string>
#include <utility>
#include <vector>

// The folder of the running executable and its file name without extension.
struct ProgramLocation {
    std::string ApplicationFolder;
    std::string ProgramName;
    static ProgramLocation OfThisProcess();
};

// The shell's special folders: 28 local application data, 5 documents.
class SpecialFolderSource {
  public:
    virtual ~SpecialFolderSource() = default;
    // The folder's path, or empty text when it is not available.
    virtual std::string GetSpecialFolder(int number) = 0;
};
constexpr int CSIDL_LOCAL_APPDATA = 28;
constexpr int CSIDL_PERSONAL = 5;

#ifdef _WIN32
// The shell's own (SHGetSpecialFolderLocation, SHGetPathFromIDList).
class ShellSpecialFolders : public SpecialFolderSource {
  public:
    std::string GetSpecialFolder(int number) override;
};
#else
// Without a toolkit: $XDG_CONFIG_HOME (or ~/.config) and ~/Documents,
// created with their parents when missing; empty when that fails.
class XdgSpecialFolders : public SpecialFolderSource {
  public:
    std::string GetSpecialFolder(int number) override;
};
#endif

struct AppFolders {
    std::string SettingsFolder;
    std::string DataFolder;
    std::string SettingsFile; // the settings folder's config.ini, any letter case
};

bool PathExists(const std::string& path);
// Creates the last component of path when missing; failures other than a
// refused access are shown as "Error <reason> while attempting to create
// folder: <path>". True when the folder exists afterwards.
bool CreateFolder(const std::string& path, MessageBoxes& messages);
// The entry of folder whose name equals name in any letter case, else
// folder/name.
std::string FileInFolder(const std::string& folder, const std::string& name);
AppFolders InitFolders(const ProgramLocation& program, SpecialFolderSource& shell,
                       MessageBoxes& messages);

// One file dialog as the platform shows it.
struct FileDialogRequest {
    bool Save = false;
    std::string Title;
    std::string DefaultExtension;                             // without the dot
    std::vector<std::pair<std::string, std::string>> Filters; // description, pattern
    std::string InitialFolder;
    std::string InitialName;
    bool FileMustExist = false;
    bool AskBeforeOverwrite = false;
};
struct FileDialogResult {
    bool Accepted = false;
    std::string Path; // full path when accepted
};
class FileDialogService {
  public:
    virtual ~FileDialogService() = default;
    virtual FileDialogResult Show(const FileDialogRequest& request) = 0;
};

enum class FileKind { WorkspaceOpen, WorkspaceSave, LogFile };
// The dialog of one kind before the remembered folder and name are filled in.
FileDialogRequest FileDialogFor(FileKind kind);

class FileChooser {
  public:
    FileChooser(FileDialogService& dialogs, std::string settingsFile, std::string dataFolder);
    // Each returns the chosen full path, or empty text when cancelled; the
    // folder and name are written to the settings file either way.
    std::string ChooseWorkspaceToOpen();
    std::string ChooseWorkspaceToSave();
    std::string ChooseLogFile();
    std::string Choose(FileKind kind);

  private:
    FileDialogService& m_dialogs;
    std::string m_settingsFile;
    std::string m_dataFolder;
};
