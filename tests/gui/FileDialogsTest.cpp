// Folders in temporary directories, the file dialogs' memory in a real
// settings file, and the Qt dialog's configuration.
#include "workspace/dialogs/FileDialogs.h"
#include "workspace/IniFile.h"
#include "workspace/dialogs/FileDialogsQt.h"

#include <QFileDialog>

#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <unistd.h>
#include <vector>

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

// The folders under the special folders, created; a config.ini beside
// the program in any letter case wins, the exact spelling first; without
// special folders everything is in the program's folder.
TEST_F(TempDirTest, FoldersUnderTheSpecialFoldersOrBesideTheProgramAndFailures) {
    const AppFolders folders = InitFolders(program, shell, messages);
    EXPECT_EQ(folders.SettingsFile, root + "/local/Tarnvik/config.ini");
    EXPECT_EQ(folders.DataFolder, root + "/docs/Tarnvik Logs");
    EXPECT_TRUE(fs::is_directory(folders.SettingsFolder) && fs::is_directory(folders.DataFolder));
    PutFileBytes(root + "/app/CONFIG.ini", "[WorkspaceFiles]\r\n");
    EXPECT_EQ(InitFolders(program, shell, messages).SettingsFile, root + "/app/CONFIG.ini");
    PutFileBytes(root + "/app/config.ini", "");
    EXPECT_EQ(FileInFolder(root + "/app", "config.ini"), root + "/app/config.ini");
    shell.folders.clear();
    const AppFolders none = InitFolders(program, shell, messages);
    EXPECT_EQ(none.SettingsFolder + " " + none.DataFolder, root + "/app " + root + "/app");
    EXPECT_TRUE(messages.shown.empty());
    // A missing parent is reported (start-up goes on with the path); a refused
    // access is passed over without a message.
    const std::string orphan = root + "/missing/child";
    EXPECT_FALSE(CreateFolder(orphan, messages));
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(std::tie(messages.shown[0].title, messages.shown[0].icon, messages.shown[0].text),
              std::make_tuple("Error", MessageIcon::Critical,
                              "Error No such file or directory while attempting to create "
                              "folder: " +
                                  orphan));
    shell.folders[CSIDL_PERSONAL] = root + "/nothing-here";
    EXPECT_EQ(InitFolders(program, shell, messages).DataFolder,
              root + "/nothing-here/Tarnvik Logs");
    EXPECT_EQ(messages.shown.size(), 2u);
    if (::geteuid() != 0) {
        fs::create_directories(root + "/locked");
        fs::permissions(root + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(CreateFolder(root + "/locked/sub", messages));
        EXPECT_EQ(messages.shown.size(), 2u);
    }
    // The XDG folder is created when missing.
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string kept = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", (root + "/fresh/config").c_str(), 1);
    EXPECT_EQ(XdgSpecialFolders().GetSpecialFolder(CSIDL_LOCAL_APPDATA), root + "/fresh/config");
    EXPECT_TRUE(fs::is_directory(root + "/fresh/config"));
    EXPECT_EQ(QtSpecialFolders().GetSpecialFolder(CSIDL_LOCAL_APPDATA), root + "/fresh/config");
    EXPECT_EQ(XdgSpecialFolders().GetSpecialFolder(99) + QtSpecialFolders().GetSpecialFolder(99),
              "");
    saved ? ::setenv("XDG_CONFIG_HOME", kept.c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
}

// The first cancel writes the defaults; a chosen file is remembered per
// kind, a cancel keeps what was remembered.
TEST_F(TempDirTest, ChosenFileIsRememberedPerKind) {
    const std::string settings = root + "/local/config.ini";
    FakeDialogs dialogs;
    FileChooser chooser(dialogs, settings, root + "/docs");
    EXPECT_EQ(chooser.ChooseWorkspaceToOpen(), "");
    EXPECT_EQ(FileBytes(settings),
              "[WorkspaceFiles]\r\nInitFile=Workspace\r\nInitDir=" + root + "/docs\r\n");
    dialogs.answers = {root + "/Runs/Line2.lws", "", root + "/logs/day1.csv", ""};
    EXPECT_EQ(chooser.ChooseWorkspaceToSave(), root + "/Runs/Line2.lws");
    chooser.ChooseWorkspaceToOpen();
    EXPECT_EQ(chooser.ChooseLogFile(), root + "/logs/day1.csv");
    chooser.ChooseLogFile();
    std::vector<std::string> asked;
    for (const FileDialogRequest& r : dialogs.requests)
        asked.push_back(r.InitialFolder.substr(root.size()) + " " + r.InitialName);
    EXPECT_EQ(asked,
              (std::vector<std::string>{"/docs Workspace", "/docs Workspace", "/Runs Line2.lws",
                                        "/docs Log Data", "/logs day1.csv"}));
    EXPECT_EQ(FileBytes(settings),
              "[WorkspaceFiles]\r\nInitFile=Line2.lws\r\nInitDir=" + root +
                  "/Runs\r\n[LogFiles]\r\nInitFile=day1.csv\r\nInitDir=" + root + "/logs\r\n");
}

// The three dialogs' parameters, as the Qt dialog takes them.
TEST(FileDialogForTest, ParametersReachTheQtDialog) {
    const std::pair<FileKind, const char*> cases[] = {
        {FileKind::WorkspaceOpen, "Logger Workspace File 0 1 1 lws Log Files (*.lws) (*.lws)"},
        {FileKind::WorkspaceSave, "Logger Workspace File 1 0 0 lws Log Files (*.lws) (*.lws)"},
        {FileKind::LogFile, "Log File 1 0 0 csv Log Files (*.csv) (*.csv)"}};
    for (const auto& [kind, shown] : cases) {
        FileDialogRequest request = FileDialogFor(kind);
        request.InitialFolder = "/tmp";
        QFileDialog dialog;
        ConfigureFileDialog(dialog, request);
        EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
        EXPECT_EQ(dialog.directory().absolutePath(), "/tmp");
        EXPECT_EQ(dialog.nameFilters().value(1), "All Files (*.*) (*)");
        EXPECT_EQ(QString("%1 %2 %3 %4 %5 %6")
                      .arg(dialog.windowTitle())
                      .arg(dialog.acceptMode())
                      .arg(dialog.fileMode())
                      .arg(dialog.testOption(QFileDialog::DontConfirmOverwrite))
                      .arg(dialog.defaultSuffix(), dialog.nameFilters().value(0)),
                  shown);
    }
}
