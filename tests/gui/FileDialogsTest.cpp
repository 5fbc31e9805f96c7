// Folders in temporary directories, the file dialogs' memory in a real
// settings file, and the Qt dialog's configuration.
#include "workspace/dialogs/FileDialogs.h"
#include "workspace/IniFile.h"
#include "workspace/dialogs/FileDialogsQt.h"

#include <QFileDialog>

#include "../support/FakeMessageBoxes.h"
#include "../support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct FakeShell : SpecialFolderSource {
    std::string GetSpecialFolder(int number) override { return folders[number]; }
    std::map<int, std::string> folders;
};

// Answers each dialog with the next queued path; "" cancels.
struct FakeDialogs : FileDialogService {
    FileDialogResult Show(const FileDialogRequest& request) override {
        requests.push_back(request);
        FileDialogResult result;
        if (!answers.empty()) {
            result.Path = answers.front();
            result.Accepted = !result.Path.empty();
            answers.erase(answers.begin());
        }
        return result;
    }
    std::vector<FileDialogRequest> requests;
    std::vector<std::string> answers;
};

class TempDirTest : public ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        root = m_folder.string();
        fs::create_directories(root + "/app");
        fs::create_directories(root + "/local");
        fs::create_directories(root + "/docs");
        program = {root + "/app", "Tarnvik"};
        shell.folders[CSIDL_LOCAL_APPDATA] = root + "/local";
        shell.folders[CSIDL_PERSONAL] = root + "/docs";
    }
    std::string root;
    ProgramLocation program;
    FakeShell shell;
    RecordingBoxes messages;
};

} // namespace

TEST_F(TempDirTest, FoldersUnderTheSpecialFolders) {
    const AppFolders folders = InitFolders(program, shell, messages);
    EXPECT_EQ(folders.SettingsFolder, root + "/local/Tarnvik");
    EXPECT_EQ(folders.DataFolder, root + "/docs/Tarnvik Logs");
    EXPECT_EQ(folders.SettingsFile, root + "/local/Tarnvik/config.ini");
    EXPECT_TRUE(fs::is_directory(folders.SettingsFolder));
    EXPECT_TRUE(fs::is_directory(folders.DataFolder));
    EXPECT_TRUE(messages.shown.empty());
    // Existing folders: again no message and nothing changes.
    std::ofstream(folders.DataFolder + "/keep.csv") << "1";
    const AppFolders again = InitFolders(program, shell, messages);
    EXPECT_EQ(again.DataFolder, folders.DataFolder);
    EXPECT_TRUE(fs::exists(folders.DataFolder + "/keep.csv"));
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(TempDirTest, ConfigIniBesideTheProgramWinsInAnyLetterCase) {
    std::ofstream(root + "/app/CONFIG.ini") << "[WorkspaceFiles]\r\n";
    const AppFolders folders = InitFolders(program, shell, messages);
    EXPECT_EQ(folders.SettingsFolder, root + "/app");
    EXPECT_EQ(folders.SettingsFile, root + "/app/CONFIG.ini");
    EXPECT_TRUE(fs::is_directory(root + "/local/Tarnvik"));
}

TEST_F(TempDirTest, UnavailableSpecialFoldersFallBackToTheProgramFolder) {
    shell.folders.clear();
    const AppFolders folders = InitFolders(program, shell, messages);
    EXPECT_EQ(folders.SettingsFolder, root + "/app");
    EXPECT_EQ(folders.DataFolder, root + "/app");
    EXPECT_EQ(folders.SettingsFile, root + "/app/config.ini");
    EXPECT_TRUE(messages.shown.empty());
}

TEST_F(TempDirTest, FolderCreationFailures) {
    const std::string orphan = root + "/missing/child";
    EXPECT_FALSE(CreateFolder(orphan, messages));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].title, "Error");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(messages.shown[0].text, "Error No such file or directory while attempting to "
                                      "create folder: " +
                                          orphan);
    // Start-up goes on with the path even though the folder is missing.
    shell.folders[CSIDL_PERSONAL] = root + "/nothing-here";
    const AppFolders folders = InitFolders(program, shell, messages);
    EXPECT_EQ(folders.DataFolder, root + "/nothing-here/Tarnvik Logs");
    EXPECT_EQ(messages.shown.size(), 2u);

    if (::geteuid() != 0) {
        // A refused access is passed over without a message.
        fs::create_directories(root + "/locked");
        fs::permissions(root + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(CreateFolder(root + "/locked/sub", messages));
        EXPECT_EQ(messages.shown.size(), 2u);
        fs::permissions(root + "/locked", fs::perms::owner_all);
    }
}

TEST_F(TempDirTest, XdgFoldersAreCreatedWhenMissing) {
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig ? savedConfig : "";
    ::setenv("XDG_CONFIG_HOME", (root + "/fresh/config").c_str(), 1);
    XdgSpecialFolders xdg;
    EXPECT_EQ(xdg.GetSpecialFolder(CSIDL_LOCAL_APPDATA), root + "/fresh/config");
    EXPECT_TRUE(fs::is_directory(root + "/fresh/config"));
    QtSpecialFolders qt;
    EXPECT_EQ(qt.GetSpecialFolder(CSIDL_LOCAL_APPDATA), root + "/fresh/config");
    EXPECT_EQ(xdg.GetSpecialFolder(99), "");
    EXPECT_EQ(qt.GetSpecialFolder(99), "");
    if (savedConfig)
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
}

TEST_F(TempDirTest, FileInFolderPrefersTheExactSpelling) {
    std::ofstream(root + "/app/config.ini") << "";
    std::ofstream(root + "/app/Config.INI") << "";
    EXPECT_EQ(FileInFolder(root + "/app", "config.ini"), root + "/app/config.ini");
    EXPECT_EQ(FileInFolder(root + "/app", "CONFIG.INI").size(), (root + "/app/config.ini").size());
    EXPECT_EQ(FileInFolder(root + "/none", "config.ini"), root + "/none/config.ini");
}

TEST_F(TempDirTest, FirstCancelWritesTheDefaults) {
    const std::string settings = root + "/local/config.ini";
    FakeDialogs dialogs;
    FileChooser chooser(dialogs, settings, root + "/docs/Tarnvik Logs");
    EXPECT_EQ(chooser.ChooseWorkspaceToOpen(), "");
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_EQ(dialogs.requests[0].InitialFolder, root + "/docs/Tarnvik Logs");
    EXPECT_EQ(dialogs.requests[0].InitialName, "Workspace");
    EXPECT_EQ(FileBytes(settings), "[WorkspaceFiles]\r\nInitFile=Workspace\r\nInitDir=" + root +
                                       "/docs/Tarnvik Logs\r\n");
}

TEST_F(TempDirTest, ChosenFileIsRememberedPerKind) {
    const std::string settings = root + "/local/config.ini";
    FakeDialogs dialogs;
    FileChooser chooser(dialogs, settings, root + "/docs");
    dialogs.answers = {root + "/Runs/Line2.lws"};
    EXPECT_EQ(chooser.ChooseWorkspaceToSave(), root + "/Runs/Line2.lws");
    EXPECT_EQ(ReadIniValue(settings, "WorkspaceFiles", "InitDir", "?"), root + "/Runs");
    EXPECT_EQ(ReadIniValue(settings, "WorkspaceFiles", "InitFile", "?"), "Line2.lws");

    // The next workspace dialog starts there; the log dialog keeps its own.
    chooser.ChooseWorkspaceToOpen();
    EXPECT_EQ(dialogs.requests[1].InitialFolder, root + "/Runs");
    EXPECT_EQ(dialogs.requests[1].InitialName, "Line2.lws");
    dialogs.answers = {root + "/logs/day1.csv"};
    EXPECT_EQ(chooser.ChooseLogFile(), root + "/logs/day1.csv");
    EXPECT_EQ(dialogs.requests[2].InitialFolder, root + "/docs");
    EXPECT_EQ(dialogs.requests[2].InitialName, "Log Data");
    EXPECT_EQ(ReadIniValue(settings, "LogFiles", "InitDir", "?"), root + "/logs");
    EXPECT_EQ(ReadIniValue(settings, "LogFiles", "InitFile", "?"), "day1.csv");
    EXPECT_EQ(ReadIniValue(settings, "WorkspaceFiles", "InitFile", "?"), "Line2.lws");

    // A cancel keeps what was remembered.
    chooser.ChooseLogFile();
    EXPECT_EQ(dialogs.requests[3].InitialFolder, root + "/logs");
    EXPECT_EQ(ReadIniValue(settings, "LogFiles", "InitFile", "?"), "day1.csv");
}

// The three dialogs' parameters, as the Qt dialog takes them.
TEST(FileDialogForTest, ParametersReachTheQtDialog) {
    FileDialogRequest open = FileDialogFor(FileKind::WorkspaceOpen);
    EXPECT_FALSE(open.AskBeforeOverwrite);
    open.InitialFolder = "/tmp";
    QFileDialog dialog;
    ConfigureFileDialog(dialog, open);
    EXPECT_EQ(dialog.windowTitle(), "Logger Workspace File");
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.defaultSuffix(), "lws");
    EXPECT_EQ(dialog.nameFilters(),
              (QStringList{"Log Files (*.lws) (*.lws)", "All Files (*.*) (*)"}));
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_EQ(dialog.directory().absolutePath(), "/tmp");

    const FileDialogRequest save = FileDialogFor(FileKind::WorkspaceSave);
    EXPECT_TRUE(save.Save && save.AskBeforeOverwrite && !save.FileMustExist);
    EXPECT_EQ(save.Filters, open.Filters);
    const FileDialogRequest log = FileDialogFor(FileKind::LogFile);
    using Filters = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(log.Filters, (Filters{{"Log Files (*.csv)", "*.csv"}, {"All Files (*.*)", "*.*"}}));
    QFileDialog logDialog;
    ConfigureFileDialog(logDialog, log);
    EXPECT_EQ(logDialog.windowTitle(), "Log File");
    EXPECT_EQ(logDialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(logDialog.fileMode(), QFileDialog::AnyFile);
    EXPECT_FALSE(logDialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(logDialog.defaultSuffix(), "csv");
}
