// Saving a workspace while the process dies or the disk is full: the file
// that was there before stays whole and loads as before.
#include "Harness.h"

#include "IniFile.h"
#include "MessageBox.h"
#include "NumberText.h"
#include "Workspace.h"
#include "WorkspaceFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
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
    return names;
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

} // namespace
