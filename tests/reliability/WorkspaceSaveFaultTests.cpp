// Saving a workspace while the process dies or the disk is full: the file
// that was there before stays whole and loads as before. Saving where only
// the file itself may be written, or over a file with further links or
// another owner: the file is written where it is.
#include "Harness.h"

#include "IniFile.h"
#include "MessageBox.h"
#include "NumberText.h"
#include "Workspace.h"
#include "WorkspaceFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace reliability;

namespace {

class RecordingBoxes : public MessageBoxes {
  public:
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon,
                       MessageButtons) override {
        shown.push_back(title + "|" + text);
        return MessageAnswer::Ok;
    }
    std::vector<std::string> shown;
};

WorkspaceClass Workspace(const std::string& title, float tare) {
    WorkspaceClass ws;
    ws.Title = title;
    ws.Notes = "first\r\nsecond";
    ws.Port = 3;
    ws.Baudrate = 9600;
    ws.Protocol = 1;
    ws.Channels = 24;
    ws.LogInterval = 500;
    ws.LogDefault = 9999;
    for (int i = 1; i <= 24; ++i) {
        ItemClass item = DefaultChannelItem(i);
        item.TareValue = tare * static_cast<float>(i);
        ws.Items.push_back(item);
    }
    return ws;
}

// Runs `body` in a child whose files may not grow past `limit` bytes; with
// `crash` the write past the limit kills it (as a crash mid-save would), else
// the write fails as on a full disk. The child's wait status.
int RunLimited(rlim_t limit, bool crash, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        struct rlimit noCore {
            0, 0
        };
        setrlimit(RLIMIT_CORE, &noCore);
        signal(SIGXFSZ, crash ? SIG_DFL : SIG_IGN);
        struct rlimit size {
            limit, limit
        };
        setrlimit(RLIMIT_FSIZE, &size);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Permission bits do not bind the superuser: as root, `body` runs in a child
// that became the user nobody. The child's exit code, NoOrdinaryUser when no
// such user could be had or `locked` still takes new files for it.
constexpr uid_t Nobody = 65534;
constexpr int NoOrdinaryUser = 77;
int RunAsOrdinaryUser(const std::string& locked, const std::function<int()>& body) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 ||
                               setuid(Nobody) != 0 || setuid(0) == 0))
            _exit(NoOrdinaryUser);
        const std::string probe = locked + "/probe";
        if (open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600) >= 0 || errno != EACCES)
            _exit(NoOrdinaryUser);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class SaveFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        RecordingBoxes boxes;
        SaveWorkspace(Workspace("Old rig", 0.5f), path, RegionalSettings::point(), boxes);
        ASSERT_TRUE(boxes.shown.empty());
        oldBytes = ReadFile(path);
        ASSERT_GT(oldBytes.size(), 1000u);
    }
    void ExpectOldWorkspaceIntact() {
        EXPECT_EQ(ReadFile(path), oldBytes);
        RecordingBoxes boxes;
        WorkspaceClass loaded;
        LoadWorkspace(loaded, path, RegionalSettings::point(), boxes);
        EXPECT_TRUE(boxes.shown.empty());
        EXPECT_EQ(loaded.Title, "Old rig");
        ASSERT_EQ(loaded.Items.size(), 24u);
        EXPECT_FLOAT_EQ(loaded.Items[23].TareValue, 12.0f);
    }

    TempDir dir;
    std::string path = dir.File("rig.lws");
    std::string oldBytes;
};

TEST_F(SaveFaults, CrashMidSaveLeavesOldFile) {
    // The new text is larger than the limit: the process dies inside the
    // write of the new workspace.
    const int status = RunLimited(200, true, [&] {
        RecordingBoxes boxes;
        SaveWorkspace(Workspace("New rig", 2.0f), path, RegionalSettings::point(), boxes);
        return 0;
    });
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ)
        << "the save did not die mid-write (status " << status << ")";
    ExpectOldWorkspaceIntact();
}

TEST_F(SaveFaults, FullDiskShowsSaveMessageAndLeavesOldFile) {
    const std::string expected =
        "Warning|An error occurred while trying to save workspace to " + path + "\r\nError: ";
    const int status = RunLimited(200, false, [&] {
        RecordingBoxes boxes;
        SaveWorkspace(Workspace("New rig", 2.0f), path, RegionalSettings::point(), boxes);
        const bool told = boxes.shown.size() == 1 && boxes.shown[0].rfind(expected, 0) == 0 &&
                          boxes.shown[0].size() > expected.size();
        return told ? 0 : 1;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed save was not shown as the save message";
    ExpectOldWorkspaceIntact();
    // Nothing half-written is left beside it.
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"rig.lws"});
}

TEST_F(SaveFaults, FullDiskWhileWritingAnEntryKeepsTheFile) {
    // The settings file goes through the same entry writer.
    const int status = RunLimited(200, false, [&] {
        return WriteIniValue(path, "LogFiles", "InitDir", std::string(100, 'x')) ? 1 : 0;
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a write that could not be stored reported success";
    ExpectOldWorkspaceIntact();
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"rig.lws"});
}

TEST_F(SaveFaults, FolderThatTakesNoNewFileStillTakesTheSaveAndTheSettings) {
    // A program folder of root's, whose workspace and settings file the
    // operator may write.
    const std::string program = dir.File("program"), rig = program + "/rig.lws",
                      settings = program + "/Config.INI";
    ASSERT_EQ(mkdir(program.c_str(), 0755), 0);
    WriteFile(rig, oldBytes);
    WriteFile(settings, "[LogFiles]\r\nInitDir=/old\r\n");
    const bool root = geteuid() == 0;
    for (const std::string& file : {rig, settings})
        ASSERT_EQ(root ? chown(file.c_str(), Nobody, Nobody) : chmod(file.c_str(), 0644), 0);
    ASSERT_EQ(chmod(root ? dir.Path().c_str() : program.c_str(), root ? 0755 : 0555), 0);
    const WorkspaceClass next = Workspace("New rig", 2.0f);

    const int code = RunAsOrdinaryUser(program, [&] {
        RecordingBoxes boxes;
        SaveWorkspace(next, rig, RegionalSettings::point(), boxes);
        const bool written = WriteIniValue(settings, "WorkspaceFiles", "InitFile", "rig.lws") &&
                             WriteIniValue(settings, "WorkspaceFiles", "InitDir", program);
        return boxes.shown.empty() && written ? 0 : 1;
    });
    chmod(program.c_str(), 0755);
    if (code == NoOrdinaryUser) GTEST_SKIP() << "no ordinary user to run the save as";
    EXPECT_EQ(code, 0) << "the save or a settings entry failed";

    RecordingBoxes boxes;
    SaveWorkspace(next, dir.File("expected.lws"), RegionalSettings::point(), boxes);
    EXPECT_EQ(ReadFile(rig), ReadFile(dir.File("expected.lws")));
    EXPECT_EQ(ReadFile(settings), "[LogFiles]\r\nInitDir=/old\r\n[WorkspaceFiles]\r\n"
                                  "InitFile=rig.lws\r\nInitDir=" +
                                      program + "\r\n");
    EXPECT_EQ(FolderEntries(program), (std::vector<std::string>{"Config.INI", "rig.lws"}));
}

TEST_F(SaveFaults, LinkedOrForeignWorkspaceKeepsItsLinksAndOwner) {
    const std::string linked = dir.File("linked.lws"), foreign = dir.File("foreign.lws");
    ASSERT_EQ(link(path.c_str(), linked.c_str()), 0);
    // Only the superuser can give a file away.
    const bool root = geteuid() == 0;
    if (root) {
        WriteFile(foreign, oldBytes);
        ASSERT_EQ(chown(foreign.c_str(), Nobody, Nobody), 0);
    }
    const WorkspaceClass next = Workspace("A longer title for the new rig", 2.0f);
    std::vector<std::string> files = {dir.File("expected.lws"), path};
    if (root) files.push_back(foreign);
    RecordingBoxes boxes;
    for (const std::string& file : files)
        SaveWorkspace(next, file, RegionalSettings::point(), boxes);
    EXPECT_TRUE(boxes.shown.empty());
    const std::string expected = ReadFile(dir.File("expected.lws"));
    ASSERT_GT(expected.size(), oldBytes.size());

    struct stat a, b;
    ASSERT_EQ(stat(path.c_str(), &a), 0);
    ASSERT_EQ(stat(linked.c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(a.st_nlink, 2u);
    EXPECT_EQ(ReadFile(linked), expected);
    if (root) {
        ASSERT_EQ(stat(foreign.c_str(), &a), 0);
        EXPECT_EQ(a.st_uid, Nobody);
        EXPECT_EQ(ReadFile(foreign), expected);
    }
    EXPECT_EQ(FolderEntries(dir.Path()).size(), files.size() + 1); // nothing stray beside
}

} // namespace
