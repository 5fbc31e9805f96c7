#include "CoreFakes.h"
#include "LogLines.h"
#include "ProgramPath.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sstream>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    EXPECT_EQ(start, text.size()) << "text after the last CR LF";
    return lines;
}

std::string TempPath(const std::string& name) {
    return ::testing::TempDir() + name;
}

TEST(RateCheck, NeedsFiveMillisecondsPerTick) {
    EXPECT_EQ(RateCheckMessage(4, 18, false),
              "We cannot log readings from 4 devices at a rate of 18ms!\r\n"
              "You should set the Log Interval setting to at least 20ms");
    EXPECT_FALSE(RateCheckMessage(4, 20, false));
    EXPECT_EQ(RateCheckMessage(4, 20, true),
              "We cannot log readings from 4 devices using SNAP at a rate of 20ms!\r\n"
              "You should set the Log Interval setting to at least 25ms");
    EXPECT_FALSE(RateCheckMessage(4, 25, true));
    // Without channels nothing could be logged (and the period would divide by 0).
    EXPECT_TRUE(RateCheckMessage(0, 1000, false));
}

TEST(RateCheck, AFailedCheckShowsTheMessageAndDoesNotAskForAFile) {
    CoreRig rig(4);
    rig.workspace.LogInterval = 18;
    rig.core.DoLogging();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].title, "Log Interval");
    EXPECT_EQ(rig.boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(rig.chooser.asked, 0);
    EXPECT_FALSE(rig.core.IsLogging());
}

TEST(TickInterval, RoundsHalfToEvenOrTruncatesWithSnap) {
    EXPECT_EQ(LogTickInterval(4, 1000, false), 250);
    EXPECT_EQ(LogTickInterval(3, 1000, false), 333);
    EXPECT_EQ(LogTickInterval(3, 1000, true), 250);
    EXPECT_EQ(LogTickInterval(4, 10, false), 2); // 2.5 -> 2
    EXPECT_EQ(LogTickInterval(4, 14, false), 4); // 3.5 -> 4
    EXPECT_EQ(LogTickInterval(3, 1001, true), 250);
    EXPECT_EQ(LogTickInterval(3, 20, false), 7);
}

TEST(LogLines, HeaderAndRowsInAPointLocale) {
    EXPECT_EQ(LogHeaderLine({"A", "B"}, false), "Date,Time,Elapsed mS,A,B\r\n");
    const LocalDateTime when{2026, 3, 4, 7, 5, 9};
    EXPECT_EQ(LogDataLine(when, 2000, {{"0.00", 1.25f}, {"0.00", -0.5f}}, false,
                          RegionalSettings::point()),
              "04/03/2026,07:05:09,2000,1.25,-0.50\r\n");
    // A title holding the separator is quoted so the columns stay in line.
    EXPECT_EQ(LogHeaderLine({"Flow, in", "Say \"hi\"", "T"}, false),
              "Date,Time,Elapsed mS,\"Flow, in\",\"Say \"\"hi\"\"\",T\r\n");
}

TEST(LogLines, HeaderAndRowsInACommaLocale) {
    EXPECT_EQ(LogHeaderLine({"A", "B"}, true), "Date;Time;Elapsed mS;A;B\r\n");
    // "," in a title becomes ";", which is then the separator: quoted.
    EXPECT_EQ(LogHeaderLine({"Flow, in", "B"}, true), "Date;Time;Elapsed mS;\"Flow; in\";B\r\n");
    RegionalSettings german = RegionalSettings::comma();
    const LocalDateTime when{2026, 12, 31, 23, 59, 58};
    EXPECT_EQ(LogDataLine(when, 604800000, {{"00.000", 1.5f}, {"0", -2.0f}}, true, german),
              "31.12.2026;23:59:58;604800000;01,500;-2\r\n");
    EXPECT_EQ(LogHeaderLine({}, false), "Date,Time,Elapsed mS\r\n");
}

TEST(Logging, FourChannelsAtOneSecondTickEvery250msAndWriteOneRowPerSecond) {
    CoreRig rig(4);
    rig.instruments.values = {{1, 1.0f}, {2, 2.0f}, {3, 3.0f}, {4, -4.5f}};
    rig.chooser.path = TempPath("four.csv");
    rig.core.DoLogging();
    ASSERT_TRUE(rig.core.IsLogging());
    EXPECT_EQ(rig.logTimer.interval, 250);
    EXPECT_EQ(rig.state.NextChannel, 1);
    EXPECT_FLOAT_EQ(rig.state.AchievedMs, 1000);
    EXPECT_FALSE(rig.window.menus[MenuCommand::StartLog]);
    EXPECT_FALSE(rig.window.menus[MenuCommand::ConfigureWorkspace]);
    EXPECT_FALSE(rig.window.menus[MenuCommand::OpenWorkspace]);
    EXPECT_FALSE(rig.window.menus[MenuCommand::ViewLog]);
    EXPECT_TRUE(rig.window.menus[MenuCommand::StopLog]);

    rig.loop.RunFor(999);
    EXPECT_EQ(rig.instruments.Reads(), 3);
    EXPECT_EQ(rig.core.RowsWritten(), 0);
    rig.loop.RunFor(2001);
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 10", "READ 2 10", "READ 3 10", "READ 4 10",
                                              "READ 1 10", "READ 2 10", "READ 3 10", "READ 4 10",
                                              "READ 1 10", "READ 2 10", "READ 3 10", "READ 4 10"}));
    EXPECT_EQ(rig.core.RowsWritten(), 3);
    EXPECT_DOUBLE_EQ(rig.state.ElapsedMs, 3000);
    EXPECT_DOUBLE_EQ(rig.state.RowMs, 0);

    rig.core.DoLogging();
    EXPECT_FALSE(rig.core.IsLogging());
    EXPECT_FALSE(rig.logTimer.IsActive());
    EXPECT_TRUE(rig.window.menus[MenuCommand::StartLog]);
    EXPECT_FALSE(rig.window.menus[MenuCommand::StopLog]);
    EXPECT_TRUE(rig.window.menus[MenuCommand::ConfigureWorkspace]);
    EXPECT_TRUE(rig.window.menus[MenuCommand::OpenWorkspace]);
    EXPECT_TRUE(rig.window.menus[MenuCommand::ViewLog]);
    EXPECT_EQ(rig.window.label, "");

    const auto lines = Lines(ReadFile(rig.chooser.path));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4");
    // The clock starts at 23:59:58 on 4 March: rows are dated when written.
    EXPECT_EQ(lines[1], "04/03/2026,23:59:59,1000,01.000,02.000,03.000,-04.500");
    EXPECT_EQ(lines[2], "05/03/2026,00:00:00,2000,01.000,02.000,03.000,-04.500");
    EXPECT_EQ(lines[3], "05/03/2026,00:00:01,3000,01.000,02.000,03.000,-04.500");
}

TEST(Logging, ThreeChannelsAt1000msWithoutSnapTickEvery333ms) {
    CoreRig rig(3);
    rig.StartLogging("three.csv");
    EXPECT_EQ(rig.logTimer.interval, 333);
    rig.loop.RunFor(999);
    EXPECT_EQ(rig.core.RowsWritten(), 1);
    EXPECT_FLOAT_EQ(rig.state.AchievedMs, 999);
    rig.core.DoLogging();
}

TEST(Logging, SnapRowsAfterTheFirstStartWithTheTrigger) {
    CoreRig rig(3);
    rig.AllAnswer();
    rig.workspace.Snap = 1;
    rig.chooser.path = TempPath("snap.csv");
    rig.core.DoLogging();
    EXPECT_EQ(rig.logTimer.interval, 250);
    rig.loop.RunFor(1750);
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 23", "READ 2 23", "READ 3 23", "EXEC -1 103",
                                              "READ 1 23", "READ 2 23", "READ 3 23"}));
    EXPECT_EQ(rig.core.RowsWritten(), 2);
    const auto lines = Lines(ReadFile(rig.chooser.path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find(",750,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(",1750,"), std::string::npos) << lines[2];
    rig.core.DoLogging();
}

TEST(Logging, ACommaLocaleWritesSemicolonsAndDecimalCommas) {
    CoreRig rig(2, ProtocolVeldaBus, RegionalSettings::comma());
    rig.instruments.values = {{1, 1.25f}, {2, -0.5f}};
    rig.workspace.Items[0].Format = "0.00";
    rig.workspace.Items[1].Format = "0.00";
    rig.window.titles = {"A,1", "B"};
    rig.chooser.path = TempPath("comma.csv");
    rig.core.DoLogging();
    rig.loop.RunFor(2000);
    rig.core.DoLogging();
    const auto lines = Lines(ReadFile(rig.chooser.path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Date;Time;Elapsed mS;\"A;1\";B");
    EXPECT_EQ(lines[2], "05.03.2026;00:00:00;2000;1,25;-0,50");
}

TEST(Logging, ACancelledDialogLeavesLoggingOffAndWritesNothing) {
    CoreRig rig(2);
    rig.window.menus[MenuCommand::StartLog] = true;
    rig.core.DoLogging();
    EXPECT_EQ(rig.chooser.asked, 1);
    EXPECT_FALSE(rig.core.IsLogging());
    EXPECT_TRUE(rig.window.menus[MenuCommand::StartLog]);
    EXPECT_EQ(rig.window.menus.count(MenuCommand::StopLog), 0u);
    EXPECT_FALSE(rig.logTimer.IsActive());
    EXPECT_TRUE(rig.boxes.shown.empty());
}

TEST(Logging, AFileThatCannotBeCreatedIsReportedAndLoggingStaysOff) {
    CoreRig rig(2);
    rig.chooser.path = "/nonexistent-folder/log.csv";
    rig.core.DoLogging();
    EXPECT_FALSE(rig.core.IsLogging());
    EXPECT_FALSE(rig.logTimer.IsActive());
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text,
              "An error occurred while trying to create log file /nonexistent-folder/log.csv\r\n"
              "Error: No such file or directory");
    EXPECT_EQ(rig.boxes.shown[0].title, "Log File");
    EXPECT_EQ(rig.window.menus.count(MenuCommand::StartLog), 0u);
}

// Both programs open the log through the same lock: a second logger on a
// file that is being logged to is refused and leaves it alone.
TEST(Logging, ASecondLoggerOnTheSameFileIsRefusedAndChangesNothing) {
    CoreRig first(1), second(1);
    first.StartLogging("locked.csv");
    first.loop.RunFor(2000);
    const std::string before = ReadFile(first.chooser.path);
    ASSERT_EQ(Lines(before).size(), 3u);
    second.StartLogging("locked.csv");
    EXPECT_FALSE(second.core.IsLogging());
    ASSERT_EQ(second.boxes.shown.size(), 1u);
    EXPECT_EQ(second.boxes.shown[0].text, "An error occurred while trying to create log file " +
                                              first.chooser.path +
                                              "\r\nError: another logger is writing to this file");
    EXPECT_EQ(ReadFile(first.chooser.path), before);
    first.core.DoLogging();
    second.core.DoLogging();
    EXPECT_TRUE(second.core.IsLogging()) << "the lock ends with the first run";
}

// Full disks and size limits as only POSIX systems make them on demand.
#ifndef _WIN32
TEST(Logging, RowsThatCannotBeWrittenAreReportedOnceAndCounted) {
    CoreRig rig(1);
    rig.AllAnswer();
    rig.chooser.path = "/dev/full"; // accepts the open, refuses every byte
    rig.core.DoLogging();
    // Even the header is refused: nothing would ever reach the file.
    EXPECT_FALSE(rig.core.IsLogging());
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_NE(rig.boxes.shown[0].text.find("No space left on device"), std::string::npos);
}

// Lets a file grow only to a given size while it lives.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(off_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limit = m_saved;
        limit.rlim_cur = static_cast<rlim_t>(bytes);
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &m_saved); }

  private:
    rlimit m_saved{};
};

TEST(Logging, ARowWriteFailureMidRunShowsOnTheStatusLineAndOneMessage) {
    CoreRig rig(1);
    rig.StartLogging("failing.csv");
    rig.loop.RunFor(1000);
    ASSERT_EQ(rig.core.RowsWritten(), 1);
    const std::string before = ReadFile(rig.chooser.path);
    {
        // Room for a few bytes only: the next rows fail half-way.
        FileSizeLimit limit(static_cast<off_t>(before.size() + 5));
        rig.loop.RunFor(2000);
        EXPECT_EQ(rig.core.RowsLost(), 2);
        EXPECT_TRUE(rig.core.IsLogging());
        rig.core.ScreenTimer_Timer();
        EXPECT_EQ(rig.window.label,
                  "Cannot write to " + rig.chooser.path + ": File too large (2 rows lost)");
        rig.core.ScreenTimer_Timer();
        ASSERT_EQ(rig.boxes.shown.size(), 1u);
        EXPECT_EQ(rig.boxes.shown[0].title, "Log File");
        EXPECT_NE(rig.boxes.shown[0].text.find("File too large"), std::string::npos);
        // No half row is left for the next one to run into.
        EXPECT_EQ(ReadFile(rig.chooser.path), before);
    }
    rig.loop.RunFor(1000);
    EXPECT_EQ(rig.core.RowsWritten(), 2);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.label.rfind("Logging requested at ", 0), 0u);
    rig.core.DoLogging();
    const auto lines = Lines(ReadFile(rig.chooser.path));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find(",4000,"), std::string::npos);
    EXPECT_EQ(rig.boxes.shown.size(), 1u);
}

#endif

TEST(Logging, StoppingDropsTheRowInProgressAndKeepsItsCounters) {
    CoreRig rig(4);
    rig.StartLogging("drop.csv");
    rig.loop.RunFor(1500);
    rig.core.DoLogging();
    EXPECT_EQ(rig.core.RowsWritten(), 1);
    EXPECT_EQ(rig.state.NextChannel, 3);
    EXPECT_DOUBLE_EQ(rig.state.RowMs, 500);
    rig.loop.RunFor(5000);
    EXPECT_EQ(Lines(ReadFile(rig.chooser.path)).size(), 2u);
}

TEST(Logging, AStopWhileATickProcessesEventsEndsTheRunCleanly) {
    CoreRig rig(2);
    rig.StartLogging("stop-inside.csv");
    rig.window.onEvents = [&] {
        if (rig.core.RowsWritten() == 1 && rig.core.IsLogging()) rig.core.DoLogging();
    };
    rig.loop.RunFor(5000);
    EXPECT_FALSE(rig.core.IsLogging());
    EXPECT_FALSE(rig.logTimer.IsActive());
    EXPECT_EQ(Lines(ReadFile(rig.chooser.path)).size(), 2u);
}

TEST(Logging, SavingTheWorkspaceWhileLoggingLeavesTheLogOpen) {
    CoreRig rig(1);
    rig.StartLogging("keep-open.csv");
    rig.loop.RunFor(1000);
    {
        std::ofstream other(TempPath("other.lws"), std::ios::trunc);
        other << "[Workspace]\r\n";
    }
    rig.loop.RunFor(1000);
    rig.core.DoLogging();
    EXPECT_EQ(Lines(ReadFile(rig.chooser.path)).size(), 3u);
}

TEST(Logging, MeasuredTicksKeepTheElapsedTimeOnTheClock) {
    CoreRig rig(3);
    rig.AllAnswer();
    // Every read takes 0.4 ms: the rows grow a little but nothing is lost
    // to rounding of the tick times.
    rig.instruments.onRead = [&] { rig.clock.now += 0.4; };
    rig.chooser.path = TempPath("measured.csv");
    const double started = rig.clock.now;
    double lastTick = started;
    rig.logTimer.onTick = [&] {
        lastTick = rig.clock.now;
        rig.core.LogTimerFired();
    };
    rig.core.DoLogging();
    rig.loop.RunFor(60000);
    EXPECT_EQ(rig.core.RowsWritten(), 60);
    // Neither the reads nor a slow row write stretch the rows: the timer
    // keeps its beat.
    rig.window.onEvents = [&] { rig.clock.now += 3; };
    rig.loop.RunFor(10000);
    EXPECT_FLOAT_EQ(rig.state.AchievedMs, 999);
    EXPECT_NEAR(rig.state.ElapsedMs + rig.state.RowMs, lastTick - started, 1.0);
    rig.core.DoLogging();
}

TEST(ViewLastLog, TellsWhenNoLogOrNoFileAndOtherwiseOpensIt) {
    CoreRig rig(1);
    rig.core.ViewLastLog();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, "No log file has been created yet!");
    EXPECT_EQ(rig.boxes.shown[0].title, "View Last Log File");
    EXPECT_EQ(rig.boxes.shown[0].icon, MessageIcon::Information);

    rig.settings.values["LogFiles/InitDir"] = "/nonexistent-folder";
    rig.settings.values["LogFiles/InitFile"] = "Log Data.csv";
    rig.core.ViewLastLog();
    ASSERT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_EQ(rig.boxes.shown[1].text, std::string("Cannot find file /nonexistent-folder") +
                                           PathSeparator + "Log Data.csv!");

    const std::string folder = ::testing::TempDir();
    { std::ofstream(folder + "/last.csv") << "x"; }
    rig.settings.values["LogFiles/InitDir"] = folder;
    rig.settings.values["LogFiles/InitFile"] = "last.csv";
    rig.core.ViewLastLog();
    EXPECT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_EQ(rig.shell.opened, (std::vector<std::string>{folder + PathSeparator + "last.csv"}));
}

} // namespace
