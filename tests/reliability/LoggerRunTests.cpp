// The headless logger against the simulator, through the mistakes and
// accidents of unattended runs: a log path that names the workspace, a file
// that already holds rows, two loggers on one file, FIFOs, log rotation, a
// deleted file, a full disk, kill -9, signals, silent and refusing stations,
// and instruments that go away and come back. No reading that reached the
// file may be lost or damaged, and the summary and the exit status tell the
// truth.
#include "Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace reliability;
using Clock = std::chrono::steady_clock;
using Options = std::vector<std::string>;

namespace {

const char* kHeader = "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4";
// Station i on COM1 is channel i of the workspaces; COM2 has no station.
const std::vector<std::string> kStations = {"port COM1 bus 115200", "station 1 value=1.5",
                                            "station 2 value=2.5",  "station 3 value=-3.25",
                                            "station 4 value=4",    "station 5 fault=nak",
                                            "port COM2 bus 115200", "port COM3 ascii 115200",
                                            "station 1 value=3.5",  "station 12 value=-0.25"};
const std::vector<std::string> kFourValues = {"01.500", "02.500", "-03.250", "04.000"};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The requests the simulator received on a port, as bytes.
std::vector<std::string> Requests(const std::string& trace, const std::string& port) {
    std::vector<std::string> requests;
    std::istringstream lines(ReadFile(trace));
    for (std::string line, seconds, on, kind, hex; std::getline(lines, line);) {
        std::istringstream in(line);
        if (!(in >> seconds >> on >> kind) || on != port || kind != "rx") continue;
        requests.emplace_back();
        while (in >> hex)
            requests.back() += static_cast<char>(std::stoul(hex, nullptr, 16));
    }
    return requests;
}

// A whole log of four channels: the header, and every complete row
// well-formed and holding the simulated readings, elapsed rising.
void ExpectWholeLog(const std::string& content) {
    const LogCheck log = CheckLog(content, 4);
    EXPECT_EQ(content.find('\0'), std::string::npos);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_TRUE(log.problems.empty()) << log.problems.front();
    for (size_t r = 0; r < log.rows.size(); ++r) {
        EXPECT_EQ(std::vector<std::string>(log.rows[r].begin() + 3, log.rows[r].end()),
                  kFourValues);
        EXPECT_TRUE(r == 0 || std::stoll(log.rows[r][2]) > std::stoll(log.rows[r - 1][2]));
    }
}

class LoggerRun : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_unique<Simulator>(dir, kStations, Options{"--trace", trace});
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
    int Run(const std::vector<std::string>& args) { return Child(Launch(args)).ExitCode(); }
    std::string Err() const { return ReadFile(errPath); }
    bool Told(const std::string& text, int timeoutMs = 10000) {
        return WaitUntil([&] { return Contains(Err(), text); }, timeoutMs);
    }
    bool WaitForLines(const std::string& path, size_t lines, int timeoutMs = 10000) {
        return WaitUntil([&] { return CompleteLines(path) >= lines; }, timeoutMs);
    }
    // The value of a channel in the last row of a log of two; empty before the first.
    std::string LastValue(int channel) {
        const LogCheck log = CheckLog(ReadFile(logPath), 2);
        return log.rows.empty() ? std::string() : log.rows.back()[2 + channel];
    }

    TempDir dir;
    std::unique_ptr<Simulator> sim;
    std::string trace = dir.File("trace.txt"), ws = dir.File("rig.lws");
    std::string logPath = dir.File("log.csv"), errPath = dir.File("logger.err");
};

// Each of these command lines is refused with status 1 and a message, and
// leaves every file as it was, without creating one: among them a port
// that does not open, a rate too high, an unknown driver and a missing
// workspace. Among them a second
// logger names the file another one holds (stopped, so that the file
// stands still); killed with SIGKILL, that one leaves every complete row
// it wrote whole.
TEST_F(LoggerRun, RefusedLogPathsLeaveEveryFileAsItWasAndKillNineKeepsEveryRow) {
    // Every file these command lines name lies in "named".
    const std::string named = dir.File("named"), old = named + "/old.csv", fifo = named + "/fifo",
                      fresh = named + "/new", held = named + "/held.csv", other = named + "/o.lws";
    std::filesystem::create_directory(named);
    WriteFile(old, "Date,Time,Elapsed mS,Other\r\n01/02/2024,10:00:00,1000,7\r\n");
    std::filesystem::create_symlink(other, named + "/link.csv");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The holder has COM1: the refused loggers would not get past it.
    WriteWorkspaceFile(other, {2});
    WriteWorkspaceFile(named + "/closed.lws", {9, 0, 1});
    WriteWorkspaceFile(named + "/fast.lws", {2, 0, 4, 18});
    WriteWorkspaceFile(named + "/unknown.lws", {2, 3, 1});
    Child holder(Launch({"--log", held, ws}));
    ASSERT_TRUE(WaitForLines(held, 20)) << Err();
    holder.Signal(SIGSTOP);
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--log", other, other}, "is the workspace file"},
        {{"--overwrite", "--log", named + "/link.csv", other}, "is the workspace file"},
        {{"--log", other, old}, "ends in \".lws\""},
        {{"--overwrite", "--log", fresh, old}, "is not a workspace file"},
        {{"--log", old, other}, "the file already holds data"},
        {{"--append", "--log", old, other}, "its first line is not the header"},
        {{"--log", fifo, other}, "no program is reading from this FIFO"},
        {{"--overwrite", "--append", "--log", fresh, other}, "exclude each other"},
        {{"--overwrite", "--log", held, other}, held + "\nError: another logger is writing"},
        {{"--log", fresh, named + "/closed.lws"}, "Cannot open COM9"},
        {{"--log", fresh, named + "/fast.lws"}, "at a rate of 18ms!"},
        {{"--log", fresh, named + "/unknown.lws"}, "Protocol 3 is none of 0 (VeldaBus)"},
        {{"--log", named + "/none/log.csv", other}, "/none/log.csv\nError: No such file"},
        {{"--log", fresh, named + "/none.lws"}, "Warning: An error occurred while trying to load"},
    };
    const auto files = [&] {
        std::map<std::string, std::string> bytes;
        for (const auto& entry : std::filesystem::directory_iterator(named))
            bytes[entry.path()] = entry.is_regular_file() ? ReadFile(entry.path()) : "";
        return bytes;
    };
    const auto before = files();
    for (const auto& [args, told] : cases) {
        EXPECT_EQ(Run(args), 1) << Err();
        EXPECT_TRUE(Contains(Err(), told)) << told << " / " << Err();
        EXPECT_EQ(files(), before) << told;
    }

    const size_t seen = CompleteLines(held) - 1;
    holder.Signal(SIGKILL);
    const auto status = holder.Wait(5000);
    ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);
    ExpectWholeLog(ReadFile(held));
    EXPECT_GE(CheckLog(ReadFile(held), 4).rows.size(), seen);
}

// A file with rows is taken with --append (the rows go on after it, a row
// cut off by a crash ended on its own line) or --overwrite; an empty one
// without either. "-" logs to standard output, telling on standard error;
// there an ASCII workspace with SNAP in a comma locale writes ";" between
// fields and "," in numbers, the first pass reads live values, and every
// row after the first starts with the trigger.
TEST_F(LoggerRun, ExistingFilesAreAppendedToOrOverwrittenOnRequestAndDashIsStandardOutput) {
    WriteFile(logPath, "");
    ASSERT_EQ(Run({"--rows", "2", "--log", logPath, ws}), 0) << Err();
    const std::string first = ReadFile(logPath);
    WriteFile(logPath, first + "01/02/2024,10:0");
    ASSERT_EQ(Run({"--append", "--rows", "2", "--log", logPath, ws}), 0) << Err();
    EXPECT_EQ(ReadFile(logPath).rfind(first + "01/02/2024,10:0\r\n", 0), 0u);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).rows.size(), 4u);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).problems, std::vector<std::string>{"01/02/2024,10:0"});
    ASSERT_EQ(Run({"--overwrite", "--rows", "1", "--log", logPath, ws}), 0) << Err();
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).rows.size(), 1u);
    ExpectWholeLog(ReadFile(logPath));

    WriteFile(ws, "[Workspace]\r\nPort=3\r\nBaudrate=115200\r\nProtocol=1\r\nSnap=1\r\n"
                  "Channels=2\r\nlogInterval=300\r\nStation1=1\r\nFormat1=0.00\r\n"
                  "Station2=12\r\nFormat2=0.000\r\n");
    ChildLaunch launch = Launch({"--rows", "3", "--log", "-", ws});
    std::replace(launch.env.begin(), launch.env.end(), std::string("LC_ALL=C"),
                 std::string("LC_ALL=de_DE.UTF-8"));
    launch.stdoutPath = dir.File("out.csv");
    ASSERT_EQ(Child(launch).ExitCode(), 0) << Err();
    const std::string row = R"(\d\d\.\d\d\.\d{4};\d\d:\d\d:\d\d;\d+;3,50;-0,250\r\n)";
    EXPECT_TRUE(std::regex_match(
        ReadFile(dir.File("out.csv")),
        std::regex("Date;Time;Elapsed mS;Channel 1;Channel 2\r\n(" + row + "){3}")))
        << ReadFile(dir.File("out.csv"));
    const std::string a = "!001:SYSN?\r", b = "!012:SYSN?\r", snap = "!000:SNAP\r";
    EXPECT_EQ(Requests(trace, "COM3"), (std::vector<std::string>{"!001:SYS?\r", "!012:SYS?\r", a, b,
                                                                 snap, a, b, snap, a, b}));
    EXPECT_TRUE(Contains(Err(), "Rows written: 3\n"));
    EXPECT_FALSE(Contains(Err(), "Date;Time"));
}

// A FIFO with a reader takes the rows; once the reader is gone the rows
// are lost and counted, and the run goes on (SIGPIPE does not end it).
TEST_F(LoggerRun, FifoReaderThenBrokenPipe) {
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Not inherited: the logger must not hold the reading end itself.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 3) << Err();
    EXPECT_FALSE(Contains(Err(), "Rows lost: 0\n")) << Err();
}

// One run through what log rotation and careless hands do to the file: it
// is emptied (copytruncate), moved away with SIGHUP (the rotation's signal,
// also that of a dropped ssh session), and deleted. Every time the rows go
// on at the path under a header, and nothing already written is damaged.
TEST_F(LoggerRun, EmptiedRotatedAndDeletedFilesAreFollowed) {
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
    EXPECT_TRUE(Contains(ReadFile(logPath), "\r\n" + added)) << ReadFile(logPath);
    EXPECT_EQ(CheckLog(ReadFile(logPath), 4).header, kHeader);
    EXPECT_TRUE(CheckLog(ReadFile(logPath), 4).problems.empty());

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
    ChildLaunch launch = Launch({"--log", logPath, ws});
    launch.fileSizeLimit = 3000;
    Child logger(launch);
    ASSERT_TRUE(Told("An error occurred while trying to write to log file " + logPath, 20000));
    EXPECT_TRUE(Told("Cannot write to " + logPath)) << "the status line does not tell";
    const std::string content = ReadFile(logPath);
    EXPECT_FALSE(CheckLog(content, 4).lastLinePartial) << "a row was cut off at the limit";
    EXPECT_GT(CheckLog(content, 4).rows.size(), 30u);
    ExpectWholeLog(content);
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 3);
    EXPECT_FALSE(Contains(Err(), "Rows lost: 0\n")) << Err();
    EXPECT_EQ(ReadFile(logPath), content) << "rows changed after the failure";
}

// 24 channels, stations 6 to 24 silent (there are none), at a reply
// time-out of 1000 ms: a pass takes minutes, yet a stop, by SIGINT or at
// the end of --seconds, comes after the driver call in progress. The run
// completes with 2, and the summary counts the reads the simulator saw and
// the failures by their code (station 5 refuses).
TEST_F(LoggerRun, StopsWithinFiveSecondsAndTheSummaryTellsWhatWasServed) {
    WriteWorkspaceFile(ws, {1, 0, 24, 1000, 0});
    for (const bool bySignal : {true, false}) {
        SCOPED_TRACE(bySignal ? "SIGINT" : "--seconds 1");
        std::filesystem::remove(logPath);
        const size_t traced = ReadFile(trace).size();
        ChildLaunch launch = Launch({"--log", logPath, ws});
        if (!bySignal) launch.argv.insert(launch.argv.begin() + 1, {"--seconds", "1"});
        const auto started = Clock::now();
        Child logger(launch);
        ASSERT_TRUE(WaitForLines(logPath, 1)) << Err();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        if (bySignal) logger.Signal(SIGINT);
        const auto stopAsked = bySignal ? Clock::now() : started + std::chrono::seconds(1);
        ASSERT_EQ(logger.ExitCode(30000), 2) << Err();
        EXPECT_LT(std::chrono::duration<double>(Clock::now() - stopAsked).count(), 5.0);

        const std::string summary = Err(), served = ReadFile(trace).substr(traced);
        const auto requests = [&](const std::string& station) {
            const std::regex request(" rx FE 0" + station + " ");
            return std::distance(std::sregex_iterator(served.begin(), served.end(), request), {});
        };
        // Channel, station, reads, failures, failures by code; the driver
        // sends a refused request more than once.
        const std::string one = "Channel 1 +1 +" + std::to_string(requests("1")) + " +0\\b";
        EXPECT_TRUE(std::regex_search(summary, std::regex(one))) << summary;
        const std::string five = R"(Channel 5 +5 +1 +1 +1 x -400 Not acknowledged \(NAK\)\.)";
        EXPECT_TRUE(std::regex_search(summary, std::regex(five))) << summary;
        EXPECT_GE(requests("5"), 1);
        const std::string rows = std::to_string(CheckLog(ReadFile(logPath), 24).rows.size());
        EXPECT_TRUE(Contains(summary, "Rows written: " + rows +
                                          "\nRows lost: 0\nReconnects: 0\nLog file: " + logPath))
            << summary;
    }
}

// The simulator killed, as an adapter unplugged: the rows go on at the log
// default without burning the processor. Started again, slower, the retry
// reopens the port and the readings come back; a station too slow for a
// retry's probe comes back with SIGUSR1, the Retry command, which reads it
// in full at once.
TEST_F(LoggerRun, AnUnpluggedLineIsReopenedAndReadingsResume) {
    WriteWorkspaceFile(ws, {1, 0, 2, 100, 9999});
    ChildLaunch launch = Launch({"--log", logPath, ws});
    launch.env.push_back("TARNVIK_RETRY_MS=2000");
    Child logger(launch);
    ASSERT_TRUE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 10000)) << Err();
    sim->Process().Signal(SIGKILL);
    ASSERT_TRUE(sim->Process().Wait(5000));
    const auto before = ProcessUsage(logger.Pid());
    const auto started = Clock::now();
    ASSERT_TRUE(WaitUntil([&] { return LastValue(1) == "9999.000"; }, 5000)) << Err();
    EXPECT_TRUE(WaitForLines(logPath, CompleteLines(logPath) + 20, 5000)) << "rows stopped";
    EXPECT_EQ(LastValue(2), "9999.000");
    const double cpu = ProcessUsage(logger.Pid())->cpuSeconds - before->cpuSeconds;
    EXPECT_LT(cpu / std::chrono::duration<double>(Clock::now() - started).count(), 0.25)
        << "the logger used " << cpu << " s of processor time on a line that is gone";

    std::vector<std::string> slower = kStations;
    slower[2] += " late=500";
    sim.reset();
    sim = std::make_unique<Simulator>(dir, slower, Options{"--replace"});
    ASSERT_TRUE(sim->Ready());
    EXPECT_TRUE(WaitUntil([&] { return LastValue(1) == "01.500"; }, 5000)) << Err();
    // The reconnect is news: the status line tells it at once.
    EXPECT_TRUE(Told("1 reconnect", 3000)) << Err();
    EXPECT_FALSE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 2500));
    logger.Signal(SIGUSR1);
    EXPECT_TRUE(WaitUntil([&] { return LastValue(2) == "02.500"; }, 2500)) << Err();
    logger.Signal(SIGTERM);
    EXPECT_EQ(logger.ExitCode(), 2);
    EXPECT_TRUE(Contains(Err(), "Reconnects: 1\n")) << Err();
}

} // namespace
