// The headless logger's log file against the mistakes and accidents of
// unattended runs: a log path that names the workspace, a file that already
// holds rows, two loggers on one file, FIFOs and pipes, log rotation, a
// deleted file, signals, and a stop while silent stations hold the line.
#include "Harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace {

const char* kHeader = "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4";

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class LogTarget : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_unique<Simulator>(
            dir, std::vector<std::string>{"port COM1 bus 115200", "station 1 value=1.5",
                                          "station 2 value=2.5", "station 3 value=-3.25",
                                          "station 4 value=4", "port COM2 bus 115200"});
        ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
        WriteWorkspaceFile(ws, {});
    }
    // tarnvik-log with these arguments and the workspace's environment.
    ChildLaunch Launch(const std::vector<std::string>& args) {
        ChildLaunch launch = LoggerLaunch(ws, logPath, sim->PortsDir(), errPath);
        launch.argv.resize(1);
        launch.argv.insert(launch.argv.end(), args.begin(), args.end());
        return launch;
    }
    // The exit status of a run to its end, -1 for a run that did not end.
    int Run(const std::vector<std::string>& args) {
        Child logger(Launch(args));
        const auto status = logger.Wait(20000);
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    }
    bool WaitForLines(const std::string& path, size_t lines) {
        return WaitUntil([&] { return CompleteLines(path) >= lines; }, 10000);
    }
    // Every regular file of the folder by name, with its bytes.
    std::map<std::string, std::string> Files() {
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && name.rfind("sim.", 0) != 0 && name != "logger.err")
                files[name] = ReadFile(entry.path().string());
        }
        return files;
    }

    TempDir dir;
    std::unique_ptr<Simulator> sim;
    std::string ws = dir.File("rig.lws");
    std::string logPath = dir.File("log.csv");
    std::string errPath = dir.File("logger.err");
};

// Each of these command lines is refused with status 1 and a message, and
// leaves every file as it was, without creating one.
TEST_F(LogTarget, RefusedLogPathsLeaveEveryFileAsItWas) {
    const std::string old = dir.File("old.csv"), fifo = dir.File("fifo");
    WriteFile(old, "Date,Time,Elapsed mS,Other\r\n01/02/2024,10:00:00,1000,7\r\n");
    std::filesystem::create_symlink(ws, dir.File("link.csv"));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string fresh = dir.File("new.csv");
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string told;
    } cases[] = {
        {"the workspace as log", {"--log", ws, ws}, "is the workspace file"},
        {"a link to the workspace",
         {"--overwrite", "--log", dir.File("link.csv"), ws},
         "is the workspace file"},
        {"swapped arguments", {"--log", ws, old}, "ends in \".lws\""},
        {"a CSV file as workspace",
         {"--overwrite", "--log", fresh, old},
         "is not a workspace file"},
        {"a log file with rows", {"--log", old, ws}, "the file already holds data"},
        {"appending under another header",
         {"--append", "--log", old, ws},
         "its first line is not the header"},
        {"a FIFO nobody reads", {"--log", fifo, ws}, "no program is reading from this FIFO"},
        {"both modes", {"--overwrite", "--append", "--log", fresh, ws}, "exclude each other"},
    };
    const auto before = Files();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Run(c.args), 1) << ReadFile(errPath);
        EXPECT_TRUE(Contains(ReadFile(errPath), c.told)) << ReadFile(errPath);
        EXPECT_EQ(Files(), before);
    }
}

// A file with rows is taken with --append (the rows go on after it, a row
// cut off by a crash ended on its own line) or --overwrite; an empty one
// without either.
TEST_F(LogTarget, ExistingLogFileIsAppendedToOrOverwrittenOnRequest) {
    WriteFile(logPath, "");
    ASSERT_EQ(Run({"--rows", "2", "--log", logPath, ws}), 0) << ReadFile(errPath);
    const std::string first = ReadFile(logPath);
    ASSERT_EQ(CheckLog(first, 4).rows.size(), 2u);

    WriteFile(logPath, first + "01/02/2024,10:0");
    ASSERT_EQ(Run({"--append", "--rows", "2", "--log", logPath, ws}), 0) << ReadFile(errPath);
    const std::string appended = ReadFile(logPath);
    EXPECT_EQ(appended.rfind(first + "01/02/2024,10:0\r\n", 0), 0u);
    const LogCheck log = CheckLog(appended, 4);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_EQ(log.rows.size(), 4u);
    EXPECT_EQ(log.problems, std::vector<std::string>{"01/02/2024,10:0"});

    ASSERT_EQ(Run({"--overwrite", "--rows", "1", "--log", logPath, ws}), 0) << ReadFile(errPath);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).rows.size(), 1u);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).header, kHeader);
}

TEST_F(LogTarget, ASecondLoggerOnTheSameFileIsRefused) {
    Child first(Launch({"--log", logPath, ws}));
    ASSERT_TRUE(WaitForLines(logPath, 4)) << ReadFile(errPath);
    const std::string before = ReadFile(logPath);
    const std::string firstErr = errPath;
    errPath = dir.File("second.err");
    // The first logger holds COM1.
    WorkspaceShape other;
    other.port = 2;
    WriteWorkspaceFile(dir.File("other.lws"), other);
    EXPECT_EQ(Run({"--overwrite", "--log", logPath, dir.File("other.lws")}), 1);
    EXPECT_TRUE(Contains(ReadFile(errPath), logPath + "\nError: another logger is writing"))
        << ReadFile(errPath);
    const std::string after = ReadFile(logPath);
    EXPECT_EQ(after.rfind(before, 0), 0u) << "the file was changed";
    EXPECT_TRUE(CheckLog(after, 4).problems.empty());
    first.Signal(SIGTERM);
    EXPECT_TRUE(first.Wait(10000)) << ReadFile(firstErr);
}

// A FIFO with a reader takes the rows; once the reader is gone the rows
// are lost and counted, and the run goes on (SIGPIPE does not end it).
TEST_F(LogTarget, FifoReaderThenBrokenPipe) {
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Not inherited: the logger must not hold the reading end itself.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    Child logger(Launch({"--log", fifo, ws}));
    std::string received;
    WaitUntil(
        [&] {
            char buffer[4096];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0) received.append(buffer, static_cast<size_t>(n));
            return CheckLog(received, 4).rows.size() >= 3;
        },
        10000);
    ::close(reader);
    const LogCheck log = CheckLog(received, 4);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_GE(log.rows.size(), 3u) << ReadFile(errPath);
    EXPECT_TRUE(WaitUntil([&] { return Contains(ReadFile(errPath), "Broken pipe"); }, 10000))
        << ReadFile(errPath);
    ASSERT_TRUE(logger.Running());
    logger.Signal(SIGTERM);
    const auto status = logger.Wait(10000);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 3) << ReadFile(errPath);
    EXPECT_FALSE(Contains(ReadFile(errPath), "Rows lost: 0\n")) << ReadFile(errPath);
}

TEST_F(LogTarget, DashLogsToStandardOutputAndTellsOnStandardError) {
    ChildLaunch launch = Launch({"--rows", "3", "--log", "-", ws});
    launch.stdoutPath = dir.File("out.csv");
    Child logger(launch);
    const auto status = logger.Wait(20000);
    ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << ReadFile(errPath);
    const LogCheck log = CheckLog(ReadFile(dir.File("out.csv")), 4);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_EQ(log.rows.size(), 3u);
    EXPECT_TRUE(Contains(ReadFile(errPath), "Rows written: 3\n"));
    EXPECT_FALSE(Contains(ReadFile(errPath), "Date,Time"));
}

// One run through what log rotation and careless hands do to the file: it
// is emptied (copytruncate), moved away with SIGHUP (the rotation's signal,
// also that of a dropped ssh session), and deleted. Every time the rows go
// on at the path under a header, and nothing already written is damaged.
TEST_F(LogTarget, EmptiedRotatedAndDeletedFilesAreFollowed) {
    Child logger(Launch({"--log", logPath, ws}));
    ASSERT_TRUE(WaitForLines(logPath, 4)) << ReadFile(errPath);
    auto expectWhole = [&](const std::string& path) {
        const std::string content = ReadFile(path);
        EXPECT_EQ(content.find('\0'), std::string::npos) << path;
        const LogCheck log = CheckLog(content, 4);
        EXPECT_EQ(log.header, kHeader) << path;
        EXPECT_TRUE(log.problems.empty()) << path << ": " << log.problems.front();
    };

    ASSERT_EQ(::truncate(logPath.c_str(), 0), 0);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << ReadFile(errPath);
    // A line added from outside is kept, not written over.
    const std::string added = "01/02/2024,10:00:00,5,01.000,02.000,03.000,04.000\r\n";
    {
        const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        ASSERT_EQ(::write(fd, added.data(), added.size()), ssize_t(added.size()));
        ::close(fd);
    }
    ASSERT_TRUE(WaitForLines(logPath, CompleteLines(logPath) + 2));
    EXPECT_TRUE(Contains(ReadFile(logPath), "\r\n" + added)) << ReadFile(logPath);
    expectWhole(logPath);

    const std::string rotated = logPath + ".1";
    ASSERT_EQ(::rename(logPath.c_str(), rotated.c_str()), 0);
    WriteFile(logPath, ""); // logrotate's "create"
    logger.Signal(SIGHUP);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << ReadFile(errPath);
    const std::string rotatedRows = ReadFile(rotated);
    expectWhole(rotated);
    expectWhole(logPath);

    ASSERT_EQ(::unlink(logPath.c_str()), 0);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << ReadFile(errPath);
    expectWhole(logPath);
    EXPECT_EQ(ReadFile(rotated), rotatedRows) << "rows went on into the rotated file";
    ASSERT_TRUE(logger.Running()) << ReadFile(errPath);
    EXPECT_TRUE(
        WaitUntil([&] { return Contains(ReadFile(errPath), "was deleted or moved away"); }, 5000))
        << ReadFile(errPath);

    logger.Signal(SIGTERM);
    ASSERT_TRUE(logger.Wait(10000));
    EXPECT_TRUE(Contains(ReadFile(errPath), "the log file was created anew")) << ReadFile(errPath);
}

// 24 stations that never answer (COM2 has none), at a reply time-out of
// 1000 ms: a pass takes 24 times four attempts, yet a stop comes after the
// driver call in progress.
TEST_F(LogTarget, StopsWithinFiveSecondsWhileSilentStationsHoldTheLine) {
    WorkspaceShape shape;
    shape.port = 2;
    shape.channels = 24;
    shape.logInterval = 1000;
    WriteWorkspaceFile(ws, shape);
    for (const bool bySignal : {true, false}) {
        SCOPED_TRACE(bySignal ? "SIGTERM" : "--seconds 1");
        std::filesystem::remove(logPath);
        ChildLaunch launch = Launch({"--log", logPath, ws});
        if (!bySignal) launch.argv.insert(launch.argv.begin() + 1, {"--seconds", "1"});
        const auto started = std::chrono::steady_clock::now();
        Child logger(launch);
        ASSERT_TRUE(WaitForLines(logPath, 1)) << ReadFile(errPath);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (bySignal) logger.Signal(SIGTERM);
        const auto stopAsked =
            bySignal ? std::chrono::steady_clock::now() : started + std::chrono::seconds(1);
        const auto status = logger.Wait(30000);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAsked).count();
        ASSERT_TRUE(status && WIFEXITED(*status)) << ReadFile(errPath);
        EXPECT_LT(seconds, 5.0);
    }
}

} // namespace
