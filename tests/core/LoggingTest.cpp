#include "CoreFakes.h"
#include "base/ProgramPath.h"
#include "core/LogLines.h"

#include "support/FileBytes.h"

#include <csignal>
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace {

// The lines of a log file, each ended by CR LF.
std::vector<std::string> Lines(const std::string& path) {
    const std::string text = FileBytes(path);
    EXPECT_TRUE(text.empty() || text.ends_with("\r\n")) << "text after the last CR LF";
    std::vector<std::string> lines;
    for (size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(RateCheck, NeedsFiveMillisecondsPerTickRoundsTheTickAndAFailureAsksForNoFile) {
    EXPECT_EQ(RateCheckMessage(4, 18, false),
              "We cannot log readings from 4 devices at a rate of 18ms!\r\n"
              "You should set the Log Interval setting to at least 20ms");
    EXPECT_EQ(RateCheckMessage(4, 20, true),
              "We cannot log readings from 4 devices using SNAP at a rate of 20ms!\r\n"
              "You should set the Log Interval setting to at least 25ms");
    EXPECT_FALSE(RateCheckMessage(4, 20, false) || RateCheckMessage(4, 25, true));
    EXPECT_TRUE(RateCheckMessage(0, 1000, false)); // no channels: nothing to log
    // The tick rounds half to even without SNAP (5.5 -> 6, 6.5 -> 6), truncated with it.
    const struct {
        int channels, interval;
        bool snap;
        int32_t tick;
    } ticks[] = {{3, 1000, false, 333}, {3, 1000, true, 250}, {4, 22, false, 6},
                 {4, 26, false, 6},     {3, 1001, true, 250}, {3, 20, false, 7}};
    for (const auto& t : ticks)
        EXPECT_EQ(LogTickInterval(t.channels, t.interval, t.snap), t.tick) << t.interval;

    CoreRig rig(4);
    rig.workspace.LogInterval = 18;
    rig.core.DoLogging();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].title, "Log Interval");
    EXPECT_EQ(rig.asked, 0);
    // Logging at the screen's rate or faster leaves the reading to the log timer.
    CoreRig fast(1);
    fast.workspace.LogInterval = 333;
    fast.StartLogging("fast.csv");
    for (int32_t interval : {333, 334}) {
        fast.workspace.LogInterval = interval;
        fast.core.ScreenTimer_Timer();
    }
    EXPECT_EQ(fast.drivers.Reads(), 1);
    fast.core.DoLogging();
}

TEST(LogLines, HeadersRowsAndStatusInBothLocales) {
    // A title holding the separator is quoted so the columns stay in line;
    // under a decimal comma "," becomes ";", which is then the separator.
    const struct {
        std::vector<std::string> titles;
        bool comma;
        std::string line;
    } headers[] = {{{"Flow, in", "Say \"hi\"", "T"},
                    false,
                    "Date,Time,Elapsed mS,\"Flow, in\",\"Say \"\"hi\"\"\",T\r\n"},
                   {{"Flow, in", "B"}, true, "Date;Time;Elapsed mS;\"Flow; in\";B\r\n"},
                   {{}, false, "Date,Time,Elapsed mS\r\n"}};
    for (const auto& h : headers)
        EXPECT_EQ(LogHeaderLine(h.titles, h.comma), h.line);
    EXPECT_EQ(LogDataLine({2026, 3, 4, 7, 5, 9}, 2000, {{"0.00", 1.25f}, {"0.00", -0.5f}}, false,
                          RegionalSettings::point()),
              "04/03/2026,07:05:09,2000,1.25,-0.50\r\n");
    EXPECT_EQ(LogDataLine({2026, 12, 31, 23, 59, 58}, 604800000, {{"00.000", 1.5f}, {"0", -2.0f}},
                          true, RegionalSettings::comma()),
              "31.12.2026;23:59:58;604800000;01,500;-2\r\n");
    EXPECT_EQ(LoggingStartText(250, "f.csv", RegionalSettings::comma()),
              "Logging at 4,0Hz to f.csv");
}

TEST(Logging, FourChannelsAtOneSecondTickEvery250msAndWriteOneRowPerSecond) {
    CoreRig rig(4);
    rig.drivers.values = {{1, 1.0f}, {2, 2.0f}, {3, 3.0f}, {4, -4.5f}};
    rig.path = ::testing::TempDir() + "four.csv";
    rig.core.DoLogging();
    ASSERT_TRUE(rig.core.IsLogging());
    EXPECT_EQ(rig.window.label, "Logging at 1.0Hz to " + rig.path);
    EXPECT_EQ(rig.logTimer.interval, 250);
    const MenuCommand locked[] = {MenuCommand::StartLog, MenuCommand::ConfigureWorkspace,
                                  MenuCommand::OpenWorkspace, MenuCommand::ViewLog};
    for (MenuCommand m : locked)
        EXPECT_FALSE(rig.window.menus[m]);
    EXPECT_TRUE(rig.window.menus[MenuCommand::StopLog]);

    rig.RunFor(999);
    EXPECT_EQ(rig.core.RowsWritten(), 0); // three reads of the four
    rig.RunFor(2001);
    rig.state.AchievedMs = 1001;
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.label, "Logging requested at 1000ms (4 device reads per sec) to " +
                                    rig.path + " and achieving 1001ms");
    // A stop drops the row in progress.
    rig.RunFor(500);
    rig.core.DoLogging();
    EXPECT_EQ(rig.state.NextChannel, 3);
    EXPECT_DOUBLE_EQ(rig.state.RowMs, 500);
    rig.RunFor(5000);
    for (MenuCommand m : locked)
        EXPECT_TRUE(rig.window.menus[m]);
    EXPECT_FALSE(rig.window.menus[MenuCommand::StopLog] || rig.logTimer.IsActive());
    EXPECT_EQ(rig.window.label, "");
    // The clock starts at 23:59:58 on 4 March: rows are dated when written.
    EXPECT_EQ(Lines(rig.path), (std::vector<std::string>{
                                   "Date,Time,Elapsed mS,Channel 1,Channel 2,Channel 3,Channel 4",
                                   "04/03/2026,23:59:59,1000,01.000,02.000,03.000,-04.500",
                                   "05/03/2026,00:00:00,2000,01.000,02.000,03.000,-04.500",
                                   "05/03/2026,00:00:01,3000,01.000,02.000,03.000,-04.500"}));
}

// A cancelled dialog, a file that cannot be created, one that another
// logger writes to (both programs open the log through the same lock), and
// (where the system makes one on demand) a disk that takes not even the
// header leave logging off; all but the first say why.
TEST(Logging, WithoutAWritableFileLoggingStaysOff) {
    CoreRig first(1);
    first.StartLogging("locked.csv");
    first.RunFor(2000);
    const std::string locked = first.path, before = FileBytes(locked);
    const std::string told = "An error occurred while trying to create log file ";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"/nonexistent-folder/log.csv",
         told + "/nonexistent-folder/log.csv\r\nError: No such file or directory"},
        {locked, told + locked + "\r\nError: another logger is writing to this file"},
#ifndef _WIN32
        {"/dev/full", told + "/dev/full\r\nError: No space left on device"},
#endif
    };
    for (const auto& [path, text] : cases) {
        CoreRig rig(2);
        rig.path = path;
        rig.core.DoLogging();
        EXPECT_EQ(rig.asked, 1);
        EXPECT_FALSE(rig.core.IsLogging() || rig.logTimer.IsActive());
        EXPECT_EQ(rig.window.menus.count(MenuCommand::StartLog), 0u);
        ASSERT_EQ(rig.boxes.shown.size(), text.empty() ? 0u : 1u);
        if (text.empty()) continue;
        EXPECT_EQ(rig.boxes.shown[0].title + "|" + rig.boxes.shown[0].text, "Log File|" + text);
    }
    EXPECT_EQ(FileBytes(locked), before);
    first.core.DoLogging();
    // The lock ends with the first run; a stop from inside a tick ends the
    // second cleanly.
    CoreRig second(2);
    second.StartLogging("locked.csv");
    EXPECT_TRUE(second.core.IsLogging());
    second.window.onEvents = [&] {
        if (second.core.RowsWritten() == 1 && second.core.IsLogging()) second.core.DoLogging();
    };
    second.RunFor(5000);
    EXPECT_FALSE(second.core.IsLogging() || second.logTimer.IsActive());
    EXPECT_EQ(Lines(locked).size(), 2u);
}

#ifndef _WIN32
// A file-size limit makes the rows fail half-way, as a full disk would: the
// half row is cut off again, the failure told once and on the status line,
// and the rows go on once there is room again.
TEST(Logging, ARowThatFailsHalfWayIsCutOffAndToldOnce) {
    CoreRig rig(1);
    rig.StartLogging("failing.csv");
    rig.RunFor(1000);
    const std::string before = FileBytes(rig.path);
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = saved;
    limit.rlim_cur = static_cast<rlim_t>(before.size() + 5);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    rig.RunFor(2000);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(FileBytes(rig.path), before);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.label, "Cannot write to " + rig.path + ": File too large (2 rows lost)");
    rig.RunFor(1000);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.label.rfind("Logging requested at ", 0), 0u);
    rig.core.DoLogging();
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text,
              "An error occurred while trying to write to log file " + rig.path +
                  "\r\nError: File too large\r\nLogging goes on; the rows that cannot be "
                  "written are lost.");
    const auto lines = Lines(rig.path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[2].find(",4000,"), std::string::npos);
}
#endif

// The texts of View Last Log File: no log yet, a log that is gone.
TEST(ViewLastLog, TellsWhenNoLogOrNoFileAndOtherwiseOpensIt) {
    CoreRig rig(1);
    const std::string folder = ::testing::TempDir(), last = folder + PathSeparator + "last.csv";
    PutFileBytes(last, "x");
    for (const auto& [dir, file] : {std::pair<std::string, std::string>{"", ""},
                                    {"/nonexistent-folder", "Log Data.csv"},
                                    {folder, "last.csv"}}) {
        rig.values = {{"LogFiles/InitDir", dir}, {"LogFiles/InitFile", file}};
        rig.core.ViewLastLog();
    }
    ASSERT_EQ(rig.boxes.shown.size(), 2u);
    EXPECT_EQ(rig.boxes.shown[0].text + rig.boxes.shown[0].title + rig.boxes.shown[1].text,
              std::string("No log file has been created yet!View Last Log FileCannot find file "
                          "/nonexistent-folder") +
                  PathSeparator + "Log Data.csv!");
    EXPECT_EQ(rig.boxes.shown[0].icon, MessageIcon::Information);
    EXPECT_EQ(rig.opened, std::vector<std::string>{last});
}

} // namespace
