// The headless logger against the simulator, through the mistakes and
// accidents of unattended runs: a log path that names the workspace, a file
// that already holds rows, two loggers on one file, FIFOs, log rotation, a
// deleted file, a full disk, kill -9, signals, silent and late stations, and
// instruments that go away and come back. No reading that reached the file
// may be lost or damaged, and the summary and the exit status tell the truth.
#include "Harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace {

const char* kHeader = "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4";
const std::vector<std::string> kFourStations = {"port COM1 bus 115200", "station 1 value=1.5",
                                                "station 2 value=2.5",  "station 3 value=-3.25",
                                                "station 4 value=4",    "port COM2 bus 115200"};
const std::vector<std::string> kFourValues = {"01.500", "02.500", "-03.250", "04.000"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A whole log: the header, and every complete row well-formed and holding
// the simulated readings, elapsed rising.
void ExpectWholeLog(const std::string& content) {
    const LogCheck log = CheckLog(content, 4);
    EXPECT_EQ(content.find('\0'), std::string::npos);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_TRUE(log.problems.empty()) << log.problems.front();
    long long previous = -1;
    for (const auto& row : log.rows) {
        EXPECT_EQ(std::vector<std::string>(row.begin() + 3, row.end()), kFourValues);
        EXPECT_GT(std::stoll(row[2]), previous);
        previous = std::stoll(row[2]);
    }
}

class LoggerRun : public ::testing::Test {
  protected:
    // vexa-sim serving `config`, and "rig.lws" of `shape` on it.
    void Serve(const std::vector<std::string>& config, const WorkspaceShape& shape = {},
               const std::vector<std::string>& options = {}) {
        sim = std::make_unique<Simulator>(dir, config, options);
        ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
        WriteWorkspaceFile(ws, shape);
    }
    // tarnvik-log with these arguments and the workspace's environment.
    ChildLaunch Launch(const std::vector<std::string>& args) {
        ChildLaunch launch = LoggerLaunch(ws, logPath, sim->PortsDir(), errPath);
        launch.argv.resize(1);
        launch.argv.insert(launch.argv.end(), args.begin(), args.end());
        return launch;
    }
    int Run(const std::vector<std::string>& args) { return Child(Launch(args)).ExitCode(); }
    std::string Err() const { return ReadFile(errPath); }
    bool Told(const std::string& text, int timeoutMs = 10000) {
        return WaitUntil([&] { return Contains(Err(), text); }, timeoutMs);
    }
    bool WaitForLines(const std::string& path, size_t lines, int timeoutMs = 10000) {
        return WaitUntil([&] { return CompleteLines(path) >= lines; }, timeoutMs);
    }
    // The value of a channel in the last row; empty before the first.
    std::string LastValue(int channel, int channels = 2) {
        const LogCheck log = CheckLog(ReadFile(logPath), channels);
        return log.rows.empty() ? std::string() : log.rows.back()[2 + channel];
    }

    TempDir dir;
    std::unique_ptr<Simulator> sim;
    std::string ws = dir.File("rig.lws"), logPath = dir.File("log.csv");
    std::string errPath = dir.File("logger.err");
};

// Each of these command lines is refused with status 1 and a message, and
// leaves every file as it was, without creating one.
TEST_F(LoggerRun, RefusedLogPathsLeaveEveryFileAsItWas) {
    Serve(kFourStations);
    const std::string old = dir.File("old.csv"), fifo = dir.File("fifo"), fresh = dir.File("new");
    WriteFile(old, "Date,Time,Elapsed mS,Other\r\n01/02/2024,10:00:00,1000,7\r\n");
    std::filesystem::create_symlink(ws, dir.File("link.csv"));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--log", ws, ws}, "is the workspace file"},
        {{"--overwrite", "--log", dir.File("link.csv"), ws}, "is the workspace file"},
        {{"--log", ws, old}, "ends in \".lws\""},
        {{"--overwrite", "--log", fresh, old}, "is not a workspace file"},
        {{"--log", old, ws}, "the file already holds data"},
        {{"--append", "--log", old, ws}, "its first line is not the header"},
        {{"--log", fifo, ws}, "no program is reading from this FIFO"},
        {{"--overwrite", "--append", "--log", fresh, ws}, "exclude each other"},
    };
    const auto files = [&] {
        std::map<std::string, std::string> bytes;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            if (entry.is_regular_file() && entry.path().filename().string().rfind("sim.", 0) != 0)
                bytes[entry.path().string()] = ReadFile(entry.path().string());
        bytes.erase(errPath);
        return bytes;
    };
    const auto before = files();
    for (const auto& [args, told] : cases) {
        SCOPED_TRACE(told);
        EXPECT_EQ(Run(args), 1) << Err();
        EXPECT_TRUE(Contains(Err(), told)) << Err();
        EXPECT_EQ(files(), before);
    }
}

// A file with rows is taken with --append (the rows go on after it, a row
// cut off by a crash ended on its own line) or --overwrite; an empty one
// without either. "-" logs to standard output, telling on standard error.
TEST_F(LoggerRun, ExistingFilesAreAppendedToOrOverwrittenOnRequestAndDashIsStandardOutput) {
    Serve(kFourStations);
    WriteFile(logPath, "");
    ASSERT_EQ(Run({"--rows", "2", "--log", logPath, ws}), 0) << Err();
    const std::string first = ReadFile(logPath);
    ASSERT_EQ(CheckLog(first, 4).rows.size(), 2u);

    WriteFile(logPath, first + "01/02/2024,10:0");
    ASSERT_EQ(Run({"--append", "--rows", "2", "--log", logPath, ws}), 0) << Err();
    const std::string appended = ReadFile(logPath);
    EXPECT_EQ(appended.rfind(first + "01/02/2024,10:0\r\n", 0), 0u);
    const LogCheck log = CheckLog(appended, 4);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_EQ(log.rows.size(), 4u);
    EXPECT_EQ(log.problems, std::vector<std::string>{"01/02/2024,10:0"});

    ASSERT_EQ(Run({"--overwrite", "--rows", "1", "--log", logPath, ws}), 0) << Err();
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).rows.size(), 1u);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).header, kHeader);

    ChildLaunch launch = Launch({"--rows", "3", "--log", "-", ws});
    launch.stdoutPath = dir.File("out.csv");
    ASSERT_EQ(Child(launch).ExitCode(), 0) << Err();
    EXPECT_EQ(CheckLog(ReadFile(dir.File("out.csv")), 4).rows.size(), 3u);
    ExpectWholeLog(ReadFile(dir.File("out.csv")));
    EXPECT_TRUE(Contains(Err(), "Rows written: 3\n"));
    EXPECT_FALSE(Contains(Err(), "Date,Time"));
}

// While one logger holds the file, a second one naming it is refused and
// changes nothing. Killed with SIGKILL, the first leaves every complete
// row it wrote whole in the file.
TEST_F(LoggerRun, ASecondLoggerIsRefusedAndKillNineKeepsEveryCompleteRow) {
    Serve(kFourStations);
    Child first(Launch({"--log", logPath, ws}));
    ASSERT_TRUE(WaitForLines(logPath, 20)) << Err();
    const std::string before = ReadFile(logPath), firstErr = errPath;
    errPath = dir.File("second.err");
    // The first logger holds COM1.
    WorkspaceShape other;
    other.port = 2;
    WriteWorkspaceFile(dir.File("other.lws"), other);
    EXPECT_EQ(Run({"--overwrite", "--log", logPath, dir.File("other.lws")}), 1);
    EXPECT_TRUE(Contains(Err(), logPath + "\nError: another logger is writing")) << Err();
    EXPECT_EQ(ReadFile(logPath).rfind(before, 0), 0u) << "the file was changed";

    const size_t seen = CompleteLines(logPath) - 1;
    first.Signal(SIGKILL);
    const auto status = first.Wait(5000);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    ExpectWholeLog(ReadFile(logPath));
    EXPECT_GE(CheckLog(ReadFile(logPath), 4).rows.size(), seen) << ReadFile(firstErr);
}

// A FIFO with a reader takes the rows; once the reader is gone the rows
// are lost and counted, and the run goes on (SIGPIPE does not end it).
TEST_F(LoggerRun, FifoReaderThenBrokenPipe) {
    Serve(kFourStations);
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
    EXPECT_GE(CheckLog(received, 4).rows.size(), 3u) << Err();
    ExpectWholeLog(received);
    EXPECT_TRUE(Told("Broken pipe")) << Err();
    ASSERT_TRUE(logger.Running());
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 3) << Err();
    EXPECT_FALSE(Contains(Err(), "Rows lost: 0\n")) << Err();
}

// One run through what log rotation and careless hands do to the file: it
// is emptied (copytruncate), moved away with SIGHUP (the rotation's signal,
// also that of a dropped ssh session), and deleted. Every time the rows go
// on at the path under a header, and nothing already written is damaged.
TEST_F(LoggerRun, EmptiedRotatedAndDeletedFilesAreFollowed) {
    Serve(kFourStations);
    Child logger(Launch({"--log", logPath, ws}));
    ASSERT_TRUE(WaitForLines(logPath, 4)) << Err();

    ASSERT_EQ(::truncate(logPath.c_str(), 0), 0);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << Err();
    // A line added from outside is kept, not written over.
    const std::string added = "01/02/2024,10:00:00,5,01.500,02.500,-03.250,04.000\r\n";
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_EQ(::write(fd, added.data(), added.size()), ssize_t(added.size()));
    ::close(fd);
    ASSERT_TRUE(WaitForLines(logPath, CompleteLines(logPath) + 2));
    const std::string emptied = ReadFile(logPath);
    EXPECT_TRUE(Contains(emptied, "\r\n" + added)) << emptied;
    EXPECT_EQ(CheckLog(emptied, 4).header, kHeader);
    EXPECT_TRUE(CheckLog(emptied, 4).problems.empty());

    const std::string rotated = logPath + ".1";
    ASSERT_EQ(::rename(logPath.c_str(), rotated.c_str()), 0);
    WriteFile(logPath, ""); // logrotate's "create"
    logger.Signal(SIGHUP);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << Err();
    const std::string rotatedRows = ReadFile(rotated);
    EXPECT_TRUE(CheckLog(rotatedRows, 4).problems.empty());
    ExpectWholeLog(ReadFile(logPath));

    ASSERT_EQ(::unlink(logPath.c_str()), 0);
    ASSERT_TRUE(WaitForLines(logPath, 3)) << Err();
    ExpectWholeLog(ReadFile(logPath));
    EXPECT_EQ(ReadFile(rotated), rotatedRows) << "rows went on into the rotated file";
    ASSERT_TRUE(logger.Running()) << Err();
    EXPECT_TRUE(Told("was deleted or moved away", 5000)) << Err();
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 0) << Err();
    EXPECT_TRUE(Contains(Err(), "the log file was created anew")) << Err();
}

// The disk fills up while logging (a file-size limit on the logger, whose
// SIGXFSZ must not end it): the failure is told on stderr, the rows already
// written stay whole, and the logger still stops cleanly, counting the rows
// it could not write.
TEST_F(LoggerRun, FullDiskIsReportedAndWrittenRowsStay) {
    Serve(kFourStations);
    ChildLaunch launch = Launch({"--log", logPath, ws});
    launch.fileSizeLimit = 3000;
    Child logger(launch);
    ASSERT_TRUE(Told("An error occurred while trying to write to log file " + logPath, 20000))
        << Err();
    EXPECT_TRUE(Told("Cannot write to " + logPath)) << "the status line does not tell";
    ASSERT_TRUE(logger.Running());
    const std::string content = ReadFile(logPath);
    EXPECT_LE(content.size(), 3000u);
    EXPECT_FALSE(CheckLog(content, 4).lastLinePartial) << "a row was cut off at the limit";
    EXPECT_GT(CheckLog(content, 4).rows.size(), 30u);
    ExpectWholeLog(content);
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 3);
    EXPECT_FALSE(Contains(Err(), "Rows lost: 0\n")) << Err();
    EXPECT_EQ(ReadFile(logPath), content) << "rows changed after the failure";
}

// 24 stations that never answer (COM2 has none), at a reply time-out of
// 1000 ms: a pass takes 24 times four attempts, yet a stop comes after the
// driver call in progress.
TEST_F(LoggerRun, StopsWithinFiveSecondsWhileSilentStationsHoldTheLine) {
    Serve(kFourStations, {2, 0, 24, 1000, 0});
    for (const bool bySignal : {true, false}) {
        SCOPED_TRACE(bySignal ? "SIGTERM" : "--seconds 1");
        std::filesystem::remove(logPath);
        ChildLaunch launch = Launch({"--log", logPath, ws});
        if (!bySignal) launch.argv.insert(launch.argv.begin() + 1, {"--seconds", "1"});
        const auto started = std::chrono::steady_clock::now();
        Child logger(launch);
        ASSERT_TRUE(WaitForLines(logPath, 1)) << Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (bySignal) logger.Signal(SIGTERM);
        const auto stopAsked =
            bySignal ? std::chrono::steady_clock::now() : started + std::chrono::seconds(1);
        ASSERT_EQ(logger.ExitCode(30000), 2) << Err();
        EXPECT_LT(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - stopAsked).count(),
            5.0);
    }
}

// Station 2 made late beyond the logger's 1000 ms time-out: its second
// attempt takes the first attempt's reply, and the reply to that second
// attempt comes while station 4 (itself slow) waits for its own. It must be
// thrown away, never logged in another channel's column.
TEST_F(LoggerRun, ALateAsciiStationKeepsEveryValueInItsOwnColumn) {
    Serve({"port COM1 ascii 115200", "station 1 value=1.5", "station 2 value=2.5",
           "station 3 value=-3.25 late=600", "station 4 value=4 late=900"},
          {1, 1, 4, 20, 0});
    ASSERT_TRUE(sim->Control("set COM1 2 late=1500"));
    Child logger(Launch({"--log", logPath, ws}));
    ASSERT_TRUE(WaitForLines(logPath, 2, 20000)) << Err();
    logger.Signal(SIGTERM);
    ASSERT_TRUE(logger.Wait(10000));
    ASSERT_FALSE(CheckLog(ReadFile(logPath), 4).rows.empty());
    ExpectWholeLog(ReadFile(logPath));
}

// Bus requests the simulator received for a station, from its trace.
int RequestsFor(const std::string& trace, unsigned station) {
    int count = 0;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream in(line);
        std::string seconds, port, kind, first, second;
        if (in >> seconds >> port >> kind >> first >> second && kind == "rx" &&
            std::stoul(second, nullptr, 16) == station)
            ++count;
    }
    return count;
}

// Station 2 refuses: the run completes with 2, and the summary counts the
// reads the simulator saw and the failures by their code.
TEST_F(LoggerRun, TheSummaryTellsWhatWasServedAndTheStatusHowTheRunWent) {
    const std::string trace = dir.File("trace.txt");
    Serve({"port COM1 bus 115200", "station 1 value=1.5", "station 2 fault=nak"}, {1, 0, 2, 50, 0},
          {"--trace", trace});
    ASSERT_EQ(Run({"--rows", "8", "--log", logPath, ws}), 2) << Err();
    const std::string summary = Err();
    std::smatch one, two;
    const std::string line(R"( +(\d+) +(\d+) +(\d+)(.*)\n)");
    ASSERT_TRUE(std::regex_search(summary, one, std::regex("Channel 1" + line)));
    ASSERT_TRUE(std::regex_search(summary, two, std::regex("Channel 2" + line)));
    EXPECT_EQ(one[1], "1");
    EXPECT_EQ(std::stoi(one[2]), RequestsFor(ReadFile(trace), 1));
    EXPECT_EQ(one[3], "0");
    // Read once, then left alone until a retry; the driver sends a refused
    // request more than once, so the simulator saw at least that read.
    EXPECT_EQ(two[2], "1");
    EXPECT_GE(RequestsFor(ReadFile(trace), 2), 1);
    EXPECT_EQ(two[3], "1");
    EXPECT_TRUE(Contains(two[4], "1 x -400 Not acknowledged (NAK).")) << summary;
    EXPECT_TRUE(
        Contains(summary, "Rows written: 8\nRows lost: 0\nReconnects: 0\nLog file: " + logPath))
        << summary;
    EXPECT_EQ(CheckLog(ReadFile(logPath), 2).rows.size(), 8u);
}

// The simulator killed, as an adapter unplugged: the rows go on at the log
// default without burning the processor. Started again, slower, the retry
// reopens the port and the readings come back; a station too slow for a
// retry's probe comes back with SIGUSR1, the Retry command, which reads it
// in full at once.
TEST_F(LoggerRun, AnUnpluggedLineIsReopenedAndReadingsResume) {
    const std::vector<std::string> config = {"port COM1 bus 115200", "station 1 value=1.5",
                                             "station 2 value=2.5"};
    Serve(config, {1, 0, 2, 100, 9999});
    ChildLaunch launch = Launch({"--log", logPath, ws});
    launch.env.push_back("TARNVIK_RETRY_MS=2000");
    const auto started = std::chrono::steady_clock::now();
    Child logger(launch);
    ASSERT_TRUE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 10000)) << Err();

    sim->Process().Signal(SIGKILL);
    ASSERT_TRUE(sim->Process().Wait(5000));
    ASSERT_TRUE(WaitUntil([&] { return LastValue(1) == "9999.000"; }, 5000)) << Err();
    EXPECT_TRUE(WaitForLines(logPath, CompleteLines(logPath) + 20, 5000)) << "rows stopped";
    EXPECT_EQ(LastValue(2), "9999.000");
    sim.reset();
    sim = std::make_unique<Simulator>(
        dir, std::vector<std::string>{config[0], config[1], "station 2 value=2.5 late=500"},
        std::vector<std::string>{"--replace"});
    ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));

    EXPECT_TRUE(WaitUntil([&] { return LastValue(1) == "01.500"; }, 5000)) << Err();
    // The reconnect is news: the status line tells it at once.
    EXPECT_TRUE(Told("1 reconnect", 3000)) << Err();
    EXPECT_FALSE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 2500));
    logger.Signal(SIGUSR1);
    EXPECT_TRUE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 2500)) << Err();
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 2);
    EXPECT_TRUE(Contains(Err(), "Reconnects: 1\n")) << Err();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(logger.CpuSeconds() / wall, 0.25)
        << "the logger used " << logger.CpuSeconds() << " s";
}

} // namespace
