// Saving a workspace while the process dies or the disk is full: the file
// that was there before stays byte for byte as it was. Saving where only
// the file itself may be written, or over a file with further links or
// another owner: the file is written where it is.
#include "base/NumberText.h"
#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"
#include "workspace/IniFile.h"
#include "workspace/Workspace.h"
#include "workspace/WorkspaceFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t Nobody = 65534;
constexpr int NoOrdinaryUser = 77;

WorkspaceClass Workspace(const std::string& title) {
    WorkspaceClass ws{24, title, "first\r\nsecond", 3, 9600, 1, 0, {}, 500, 9999};
    for (int i = 1; i <= 24; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

// True when the save went through without a box.
bool Save(const WorkspaceClass& ws, const std::string& path) {
    RecordingBoxes boxes;
    SaveWorkspace(ws, path, RegionalSettings::point(), boxes);
    return boxes.shown.empty();
}

// Runs `body` in a child and gives its wait status. With `limit`, its files
// may not grow past that many bytes: with `crash` the write past the limit
// kills it (as a crash mid-save would), else the write fails as on a full
// disk. As root, the child first becomes the user nobody, whom permission
// bits bind; it exits with NoOrdinaryUser when that cannot be had.
int InChild(const std::function<int()>& body, rlim_t limit = RLIM_INFINITY, bool crash = false) {
    const pid_t pid = fork();
    if (pid == 0) {
        const struct rlimit noCore { 0, 0 }, size{limit, limit};
        setrlimit(RLIMIT_CORE, &noCore);
        setrlimit(RLIMIT_FSIZE, &size);
        signal(SIGXFSZ, crash ? SIG_DFL : SIG_IGN);
        if (limit == RLIM_INFINITY && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(Nobody) != 0 || setuid(Nobody) != 0))
            _exit(NoOrdinaryUser);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

class SaveFaults : public ScratchTest {
  protected:
    void SetUp() override {
        ScratchTest::SetUp();
        path = Path("rig.lws");
        ASSERT_TRUE(Save(Workspace("Old rig"), path));
        oldBytes = FileBytes(path);
    }
    std::string path, oldBytes;
};

// A crash mid-write, a full disk under the save (told with the save
// message) and under one entry of the settings file (the same writer):
// the old file is left whole, with nothing half-written beside it.
TEST_F(SaveFaults, CrashOrFullDiskMidSaveLeavesTheOldFile) {
    const std::string told =
        "An error occurred while trying to save workspace to " + path + "\r\nError: ";
    const std::function<int()> save = [&] {
        RecordingBoxes boxes;
        SaveWorkspace(Workspace("New rig"), path, RegionalSettings::point(), boxes);
        return boxes.shown.size() == 1 && boxes.shown[0].title == "Warning" &&
                       boxes.shown[0].text.rfind(told, 0) == 0 && boxes.shown[0].text != told
                   ? 0
                   : 1;
    };
    const std::function<int()> entry = [&] {
        return WriteIniValue(path, "LogFiles", "InitDir", std::string(100, 'x')) ? 1 : 0;
    };
    // The new text is larger than the limit. The crash comes last: it
    // leaves its temporary file behind.
    for (const auto& [body, crash] : {std::pair{save, false}, {entry, false}, {save, true}}) {
        const int status = InChild(body, 200, crash);
        const bool died = WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ;
        EXPECT_TRUE(crash ? died : WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(FileBytes(path), oldBytes) << (crash ? "crash" : "full disk");
        EXPECT_TRUE(crash || EntryCount() == 1) << "something half-written is left";
    }
}

// A file of two names keeps them, one of another owner keeps its owner,
// and a program folder that takes no new file still takes the save.
TEST_F(SaveFaults, FilesThatCannotBeReplacedAreWrittenWhereTheyAre) {
    const std::string linked = Path("linked.lws"), foreign = Path("foreign.lws");
    const std::string program = Path("program"), rig = program + "/rig.lws";
    const bool root = geteuid() == 0;
    ASSERT_EQ(link(path.c_str(), linked.c_str()), 0);
    ASSERT_EQ(mkdir(program.c_str(), 0755), 0);
    PutFileBytes(foreign, oldBytes);
    PutFileBytes(rig, oldBytes);
    // Only the superuser can give a file away.
    for (const std::string& file : {rig, foreign})
        ASSERT_EQ(root ? chown(file.c_str(), Nobody, Nobody) : 0, 0);
    ASSERT_EQ(chmod(root ? m_folder.c_str() : program.c_str(), root ? 0755 : 0555), 0);
    const WorkspaceClass next = Workspace("A longer title for the new rig");
    ASSERT_TRUE(Save(next, Path("expected.lws")));
    const std::string expected = FileBytes(Path("expected.lws"));

    EXPECT_TRUE(Save(next, path));
    EXPECT_TRUE(Save(next, foreign));
    const int status = InChild([&] {
        const int probe = open((program + "/probe").c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (probe >= 0 || errno != EACCES) return NoOrdinaryUser;
        return Save(next, rig) ? 0 : 1;
    });
    chmod(program.c_str(), 0755);
    struct stat a, b;
    ASSERT_EQ(stat(path.c_str(), &a), 0);
    ASSERT_EQ(stat(linked.c_str(), &b), 0);
    EXPECT_EQ(a.st_ino, b.st_ino);
    EXPECT_EQ(FileBytes(linked), expected);
    ASSERT_EQ(stat(foreign.c_str(), &a), 0);
    EXPECT_EQ(a.st_uid, root ? Nobody : geteuid());
    EXPECT_EQ(FileBytes(foreign), expected);
    EXPECT_EQ(EntryCount(), 5u); // nothing stray beside
    if (WIFEXITED(status) && WEXITSTATUS(status) == NoOrdinaryUser)
        GTEST_SKIP() << "no ordinary user to run the save as";
    EXPECT_EQ(status, 0) << "the save failed";
    EXPECT_EQ(FileBytes(rig), expected);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(program), {}), 1);
}

} // namespace
