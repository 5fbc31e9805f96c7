// An unattended run of the headless logger against the simulator: what it
// tells at the end, the status it exits with, and how it gets over a line
// that goes away and comes back.
#include "Harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>
#include <sstream>
#include <sys/wait.h>

using namespace reliability;

namespace {

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

// The summary line of a channel: caption, station, reads, failed, the rest.
std::smatch SummaryLine(const std::string& err, const std::string& caption, std::string& keep) {
    keep = err;
    std::smatch match;
    std::regex_search(keep, match, std::regex(caption + R"( +(\d+) +(\d+) +(\d+)(.*)\n)"));
    return match;
}

int ExitStatus(Child& logger) {
    const auto status = logger.Wait(10000);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// "rig.lws": stations 1 and 2 on COM1 logged every 100 ms, 9999 for a
// failed reading.
std::string WriteRig(const TempDir& dir) {
    WorkspaceShape shape;
    shape.channels = 2;
    shape.logInterval = 100;
    shape.logDefault = 9999;
    WriteWorkspaceFile(dir.File("rig.lws"), shape);
    return dir.File("rig.lws");
}

// The value of channel 1 or 2 in the rig's last row; empty before the first.
std::string LastValue(const std::string& log, int channel) {
    const LogCheck check = CheckLog(ReadFile(log), 2);
    return check.rows.empty() ? std::string() : check.rows.back()[2 + channel];
}

TEST(UnattendedRun, TheSummaryTellsWhatWasServedAndTheStatusHowTheRunWent) {
    TempDir dir;
    const std::string trace = dir.File("trace.txt");
    Simulator sim(dir, {"port COM1 bus 115200", "station 1 value=1.5", "station 2 fault=nak"},
                  {"--trace", trace});
    ASSERT_TRUE(sim.Ready()) << ReadFile(dir.File("sim.err"));
    const std::string log = dir.File("log.csv"), err = dir.File("logger.err");

    // Every reading answered, every row written: 0.
    WorkspaceShape shape;
    shape.channels = 1;
    shape.logInterval = 50;
    WriteWorkspaceFile(dir.File("one.lws"), shape);
    ChildLaunch launch = LoggerLaunch(dir.File("one.lws"), log, sim.PortsDir(), err);
    launch.argv.insert(launch.argv.begin() + 1, {"--rows", "5"});
    {
        Child logger(launch);
        EXPECT_EQ(ExitStatus(logger), 0) << ReadFile(err);
    }
    const int servedBefore = RequestsFor(ReadFile(trace), 1);
    ::unlink(log.c_str());

    // Station 2 refuses: the run completes with 2, and the summary counts
    // the reads the simulator saw and the failures by their code.
    shape.channels = 2;
    WriteWorkspaceFile(dir.File("two.lws"), shape);
    launch = LoggerLaunch(dir.File("two.lws"), log, sim.PortsDir(), err);
    launch.argv.insert(launch.argv.begin() + 1, {"--rows", "8"});
    Child logger(launch);
    EXPECT_EQ(ExitStatus(logger), 2) << ReadFile(err);
    const std::string summary = ReadFile(err);
    std::string keep;
    const auto one = SummaryLine(summary, "Channel 1", keep);
    ASSERT_FALSE(one.empty()) << summary;
    EXPECT_EQ(one[1], "1");
    EXPECT_EQ(std::stoi(one[2]), RequestsFor(ReadFile(trace), 1) - servedBefore);
    EXPECT_EQ(one[3], "0");
    std::string keep2;
    const auto two = SummaryLine(summary, "Channel 2", keep2);
    ASSERT_FALSE(two.empty()) << summary;
    // Read once, then left alone until a retry; the driver sends a refused
    // request more than once, so the simulator saw at least that read.
    EXPECT_EQ(two[2], "1");
    EXPECT_GE(RequestsFor(ReadFile(trace), 2), 1);
    EXPECT_EQ(two[3], two[2].str());
    EXPECT_NE(two[4].str().find(two[3].str() + " x -400 Not acknowledged (NAK)."),
              std::string::npos);
    EXPECT_NE(summary.find("Rows written: 8\nRows lost: 0\nReconnects: 0\nLog file: " + log),
              std::string::npos)
        << summary;
    EXPECT_EQ(CheckLog(ReadFile(log), 2).rows.size(), 8u);
}

// The simulator killed and started again, as an adapter unplugged and
// plugged back: the retry reopens the port and the readings come back.
TEST(UnattendedRun, AnUnpluggedLineIsReopenedAndReadingsResume) {
    TempDir dir;
    const std::vector<std::string> config = {"port COM1 bus 115200", "station 1 value=1.5",
                                             "station 2 value=2.5"};
    auto sim = std::make_unique<Simulator>(dir, config);
    ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
    const std::string log = dir.File("log.csv"), err = dir.File("logger.err");
    Child logger(LoggerLaunch(WriteRig(dir), log, sim->PortsDir(), err));
    const auto lastRow = [&] { return LastValue(log, 1); };
    ASSERT_TRUE(WaitUntil([&] { return lastRow() == "01.500"; }, 10000)) << ReadFile(err);

    sim->Process().Signal(SIGKILL);
    ASSERT_TRUE(sim->Process().Wait(5000));
    ASSERT_TRUE(WaitUntil([&] { return lastRow() == "9999.000"; }, 5000)) << ReadFile(err);
    sim = std::make_unique<Simulator>(dir, config, std::vector<std::string>{"--replace"});
    ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));

    EXPECT_TRUE(WaitUntil([&] { return lastRow() == "01.500"; }, 32000))
        << "no readings within one retry interval\n"
        << ReadFile(err);
    // The reconnect is news: the status line tells it at its next second.
    EXPECT_TRUE(
        WaitUntil([&] { return ReadFile(err).find("1 reconnect") != std::string::npos; }, 3000))
        << ReadFile(err);
    logger.Signal(SIGTERM);
    EXPECT_EQ(ExitStatus(logger), 2);
    const std::string summary = ReadFile(err);
    EXPECT_NE(summary.find("Reconnects: 1\n"), std::string::npos) << summary;
}

// SIGUSR1 is the Retry command: a channel in error is read again at once
// with the full time-out, which finds an instrument too slow for a probe.
// The automatic retry is set far off, so it cannot be what reads it.
TEST(UnattendedRun, SigUsr1RereadsAChannelInErrorInFullAtOnce) {
    TempDir dir;
    Simulator sim(dir, {"port COM1 bus 115200", "station 1 value=1.5", "station 2 value=2.5"});
    ASSERT_TRUE(sim.Ready()) << ReadFile(dir.File("sim.err"));
    const std::string log = dir.File("log.csv"), err = dir.File("logger.err");
    ChildLaunch launch = LoggerLaunch(WriteRig(dir), log, sim.PortsDir(), err);
    launch.env.push_back("TARNVIK_RETRY_MS=600000");
    Child logger(launch);
    const auto station2 = [&] { return LastValue(log, 2); };
    ASSERT_TRUE(WaitUntil([&] { return station2() == "02.500"; }, 10000)) << ReadFile(err);
    ASSERT_TRUE(sim.Control("set COM1 2 fault=silent"));
    ASSERT_TRUE(WaitUntil([&] { return station2() == "9999.000"; }, 8000)) << ReadFile(err);
    // Answering again, but far later than its earlier replies: a probe
    // would give up on it long before.
    ASSERT_TRUE(sim.Control("set COM1 2 fault=none late=500"));
    EXPECT_FALSE(WaitUntil([&] { return station2() == "02.500"; }, 1000));

    logger.Signal(SIGUSR1);
    EXPECT_TRUE(WaitUntil([&] { return station2() == "02.500"; }, 2500)) << ReadFile(err);
    logger.Signal(SIGTERM);
    EXPECT_EQ(ExitStatus(logger), 2);
}

} // namespace
