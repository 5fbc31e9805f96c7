// The headless logger against the simulator with the real driver libraries,
// while things go wrong: the logger killed, the instruments gone, the disk
// full. No reading that reached the file may be lost or damaged.
#include "Harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>

using namespace reliability;

namespace {

const std::vector<std::string> kFourBusStations = {"port COM1 bus 115200", "station 1 value=1.5",
                                                   "station 2 value=2.5", "station 3 value=-3.25",
                                                   "station 4 value=4"};
const std::vector<std::string> kFourValues = {"01.500", "02.500", "-03.250", "04.000"};
const char* kHeader = "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4";

// The logger's rows must stand for the simulated readings, elapsed rising.
void ExpectRowsOfReadings(const LogCheck& log, const std::vector<std::string>& values) {
    long long previous = -1;
    for (const auto& row : log.rows) {
        ASSERT_EQ(row.size(), 3 + values.size());
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(row[3 + i], values[i]) << "channel " << i + 1;
        const long long elapsed = std::stoll(row[2]);
        EXPECT_GT(elapsed, previous);
        previous = elapsed;
    }
}

class LoggerFaults : public ::testing::Test {
  protected:
    void StartSimulator(const std::vector<std::string>& config) {
        sim = std::make_unique<Simulator>(dir, config);
        ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
    }
    std::unique_ptr<Child> StartLogger(const WorkspaceShape& workspace,
                                       ChildLaunch* adjust = nullptr) {
        WriteWorkspaceFile(dir.File("rig.lws"), workspace);
        ChildLaunch launch = LoggerLaunch(dir.File("rig.lws"), logPath, sim->PortsDir(), errPath);
        if (adjust) {
            launch.fileSizeLimit = adjust->fileSizeLimit;
            launch.ignoreFileSizeSignal = adjust->ignoreFileSizeSignal;
        }
        return std::make_unique<Child>(launch);
    }
    bool WaitForRows(size_t rows, int timeoutMs) {
        // The header is the first complete line.
        return WaitUntil([&] { return CompleteLines(logPath) >= rows + 1; }, timeoutMs);
    }

    TempDir dir;
    std::unique_ptr<Simulator> sim;
    std::string logPath = dir.File("log.csv");
    std::string errPath = dir.File("logger.err");
};

// Station 2 made late beyond the logger's 1000 ms time-out: its second
// attempt takes the first attempt's reply, and the reply to that second
// attempt comes while station 4 (itself slow) waits for its own. It must be
// thrown away, never logged in another channel's column.
TEST_F(LoggerFaults, ALateAsciiStationKeepsEveryValueInItsOwnColumn) {
    StartSimulator({"port COM1 ascii 115200", "station 1 value=1.5", "station 2 value=2.5",
                    "station 3 value=-3.25 late=600", "station 4 value=4 late=900"});
    ASSERT_TRUE(sim->Control("set COM1 2 late=1500")) << sim->Output();
    WorkspaceShape shape;
    shape.protocol = 1;
    auto logger = StartLogger(shape);
    ASSERT_TRUE(WaitForRows(1, 20000)) << ReadFile(errPath);
    logger->Signal(SIGTERM);
    ASSERT_TRUE(logger->Wait(10000));
    const LogCheck log = CheckLog(ReadFile(logPath), 4);
    EXPECT_TRUE(log.problems.empty());
    ASSERT_FALSE(log.rows.empty());
    ExpectRowsOfReadings(log, kFourValues);
}

// kill -9 at three different moments of a run at 20 ms: each time every
// complete row before the kill is in the file and well-formed, and only the
// last line may be cut off.
TEST_F(LoggerFaults, KillNineKeepsEveryCompleteRow) {
    StartSimulator(kFourBusStations);
    for (size_t target : {5u, 23u, 41u}) {
        SCOPED_TRACE("killed after " + std::to_string(target) + " rows");
        std::remove(logPath.c_str()); // the logger keeps a log with rows
        auto logger = StartLogger({});
        ASSERT_TRUE(WaitForRows(target, 20000)) << ReadFile(errPath);
        const size_t seen = CompleteLines(logPath) - 1;
        logger->Signal(SIGKILL);
        const auto status = logger->Wait(5000);
        ASSERT_TRUE(status && WIFSIGNALED(*status) && WTERMSIG(*status) == SIGKILL);

        const LogCheck log = CheckLog(ReadFile(logPath), 4);
        EXPECT_EQ(log.header, kHeader);
        EXPECT_TRUE(log.problems.empty()) << log.problems.front();
        EXPECT_GE(log.rows.size(), seen);
        ExpectRowsOfReadings(log, kFourValues);
    }
}

// The instruments vanish mid-run (the simulator killed, its terminals gone):
// the logger goes on writing rows, the lost channels at LogDefault, without
// burning the processor, and still stops cleanly.
TEST_F(LoggerFaults, SimulatorKilledMidRunLoggingGoesOn) {
    StartSimulator(kFourBusStations);
    WorkspaceShape workspace;
    workspace.logDefault = 9999;
    auto logger = StartLogger(workspace);
    ASSERT_TRUE(WaitForRows(10, 20000)) << ReadFile(errPath);

    sim->Process().Signal(SIGKILL);
    ASSERT_TRUE(sim->Process().Wait(5000));
    const size_t before = CompleteLines(logPath) - 1;
    const auto start = ProcessUsage(logger->Pid());
    ASSERT_TRUE(start);
    const auto t0 = std::chrono::steady_clock::now();

    // Rows go on at about the log interval: 100 more come within seconds, not
    // after a time-out per channel and attempt.
    EXPECT_TRUE(WaitForRows(before + 100, 15000))
        << "rows stopped at " << CompleteLines(logPath) - 1 << "\n"
        << ReadFile(errPath);
    ASSERT_TRUE(logger->Running()) << ReadFile(errPath);
    const auto end = ProcessUsage(logger->Pid());
    ASSERT_TRUE(end);
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double share = (end->cpuSeconds - start->cpuSeconds) / wall;
    EXPECT_LT(share, 0.25) << "the logger used " << share * 100 << " % of a processor";

    const LogCheck log = CheckLog(ReadFile(logPath), 4);
    EXPECT_TRUE(log.problems.empty()) << log.problems.front();
    ASSERT_GT(log.rows.size(), before + 10);
    // The last rows were written with the instruments gone: every channel at
    // the log default.
    const std::vector<std::string> defaults(4, "9999.000");
    ExpectRowsOfReadings(LogCheck{"", {log.rows.end() - 5, log.rows.end()}, false, {}}, defaults);

    logger->Signal(SIGTERM);
    const auto status = logger->Wait(10000);
    ASSERT_TRUE(status) << "the logger did not stop";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2) << ReadFile(errPath);
}

// The disk fills up while logging (a file-size limit on the logger, whose
// SIGXFSZ must not end it): the failure is told on stderr, the rows already
// written stay whole, and the logger still stops cleanly, counting the rows
// it could not write.
TEST_F(LoggerFaults, FullDiskIsReportedAndWrittenRowsStay) {
    StartSimulator(kFourBusStations);
    ChildLaunch limits;
    limits.fileSizeLimit = 3000;
    auto logger = StartLogger({}, &limits);

    auto told = [&](const std::string& text) {
        return WaitUntil([&] { return ReadFile(errPath).find(text) != std::string::npos; }, 20000);
    };
    ASSERT_TRUE(told("An error occurred while trying to write to log file " + logPath))
        << ReadFile(errPath);
    EXPECT_TRUE(told("Cannot write to " + logPath)) << "the status line does not tell";
    ASSERT_TRUE(logger->Running());

    const std::string content = ReadFile(logPath);
    EXPECT_LE(content.size(), 3000u);
    const LogCheck log = CheckLog(content, 4);
    EXPECT_EQ(log.header, kHeader);
    EXPECT_FALSE(log.lastLinePartial) << "a row was cut off at the limit";
    EXPECT_TRUE(log.problems.empty()) << log.problems.front();
    EXPECT_GT(log.rows.size(), 30u);
    ExpectRowsOfReadings(log, kFourValues);

    logger->Signal(SIGTERM);
    const auto status = logger->Wait(10000);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 3);
    EXPECT_EQ(ReadFile(errPath).find("Rows lost: 0\n"), std::string::npos) << ReadFile(errPath);
    EXPECT_EQ(ReadFile(logPath), content) << "rows changed after the failure";
}

} // namespace
