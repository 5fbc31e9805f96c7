#include "CoreFakes.h"
#include "LogLines.h"
#include "RunReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

TEST(Refresh, ShowsFormattedValuesOrRedDashesAndArmsTheRetryOnce) {
    CoreRig rig(2);
    rig.instruments.values = {{1, 1.25f}};
    rig.workspace.Items[0].Format = "0.0";
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.tiles[1].value, "1.3");
    EXPECT_EQ(rig.window.tiles[1].colour, ColourSystem3DLight);
    EXPECT_EQ(rig.window.tiles[2].value, "-------");
    EXPECT_EQ(rig.window.tiles[2].colour, ColourRed);
    EXPECT_TRUE(rig.autoRetryTimer.IsActive());
    EXPECT_EQ(rig.autoRetryTimer.interval, 30000);
    EXPECT_EQ(rig.window.freezes, 1);
    EXPECT_EQ(rig.window.releases, 1);

    // Later refreshes do not restart a countdown that runs.
    rig.screenTimer.Start(333);
    rig.loop.RunFor(10000);
    EXPECT_EQ(rig.autoRetryTimer.starts, 1);
}

TEST(Refresh, MinimisedWindowIsNotFrozen) {
    CoreRig rig(1);
    rig.window.minimised = true;
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.freezes, 0);
    EXPECT_EQ(rig.window.releases, 0);
    EXPECT_EQ(rig.window.tiles[1].value, "-------");
}

TEST(Retry, ThirtySecondsAfterAnErrorEveryChannelIsReadAgain) {
    CoreRig rig(2);
    rig.instruments.values = {{1, 1.0f}};
    rig.screenTimer.Start(333);
    rig.loop.RunFor(400);
    EXPECT_EQ(rig.window.tiles[2].value, "-------");
    const double armedAt = 333;

    rig.instruments.values[2] = 2.5f; // the instrument comes back
    rig.loop.RunFor(armedAt + 30000 - rig.clock.now - 1);
    EXPECT_EQ(rig.window.tiles[2].value, "-------");
    EXPECT_TRUE(rig.state.CommsError[2]);
    rig.loop.RunFor(400);
    EXPECT_FALSE(rig.autoRetryTimer.IsActive());
    EXPECT_EQ(rig.window.tiles[2].value, "02.500");
    EXPECT_EQ(rig.window.tiles[2].colour, ColourSystem3DLight);
    EXPECT_FALSE(rig.window.menus[MenuCommand::Retry]);
}

TEST(Retry, TheCommandCancelsTheCountdownAndTheNextRefreshRereads) {
    CoreRig rig(1);
    rig.instruments.codes[1] = -400; // the instrument refuses: the line itself works
    rig.core.ScreenTimer_Timer();
    ASSERT_TRUE(rig.autoRetryTimer.IsActive());
    rig.instruments.codes.clear();
    rig.instruments.values[1] = 4.0f;
    rig.core.mnuRetry_Click();
    EXPECT_FALSE(rig.autoRetryTimer.IsActive());
    EXPECT_FALSE(rig.state.CommsError[1]);
    EXPECT_FALSE(rig.state.FirstScanDone);
    EXPECT_FALSE(rig.window.menus[MenuCommand::Retry]);
    // Serial ports are not reopened.
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 10"}));
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.tiles[1].value, "04.000");
    EXPECT_EQ(rig.window.labels.front(), "Reading from: Channel 1");
}

// The retry reopens the port only when no channel got an answer from the
// line; a reopen that fails leaves the channels in error until the next one.
TEST(Retry, AFailedLineIsReopenedAHealthyOneNever) {
    struct Case {
        const char* name;
        int16_t code1, code2, openResult;
        bool reopened, cleared;
    };
    for (const Case& c : {Case{"all silent", -100, -100, 0, true, true},
                          Case{"port failed", -2, -999, 0, true, true},
                          Case{"one refuses", -400, -100, 0, false, true},
                          Case{"one answers", 0, -100, 0, false, true},
                          Case{"reopen fails", -100, -100, -2, true, false}}) {
        SCOPED_TRACE(c.name);
        CoreRig rig(2);
        rig.AllAnswer();
        rig.instruments.codes = {{1, c.code1}, {2, c.code2}};
        rig.bus.openResult = c.openResult;
        rig.screenTimer.Start(333);
        rig.loop.RunFor(400);
        rig.instruments.calls.clear();
        rig.loop.RunFor(30400); // the retry at 30333, a refresh after it
        EXPECT_EQ(rig.instruments.calls.size() >= 2 && rig.instruments.calls[0] == "CLOSE" &&
                      rig.instruments.calls[1] == "OPEN 1 115200",
                  c.reopened);
        EXPECT_EQ(rig.core.Reconnects(), c.reopened && c.cleared ? 1 : 0);
        EXPECT_EQ(rig.core.FailedReopens(), c.cleared ? 0 : 1);
        if (!c.cleared) {
            // Not read again, still red, the reason on the tile, Retry on offer.
            EXPECT_EQ(rig.instruments.Reads(), 0);
            EXPECT_EQ(rig.window.tiles[1].value, "-------");
            EXPECT_EQ(rig.window.tips[1],
                      "Cannot reopen COM1: -2 Cannot open or close serial port.");
            EXPECT_TRUE(rig.window.menus[MenuCommand::Retry]);
            EXPECT_TRUE(rig.autoRetryTimer.IsActive());
        }
    }
}

TEST(Retry, ReadingsResumeOnTheReopenedLine) {
    CoreRig rig(2);
    rig.AllAnswer();
    rig.screenTimer.Start(333);
    rig.loop.RunFor(400);
    rig.instruments.codes = {{1, -100}, {2, -100}}; // unplugged
    rig.loop.RunFor(1000);
    EXPECT_EQ(rig.window.tiles[1].value, "-------");
    rig.instruments.codes.clear(); // plugged back
    rig.loop.RunFor(30000);
    EXPECT_EQ(rig.core.Reconnects(), 1);
    EXPECT_EQ(rig.window.tiles[2].value, "03.000");
    EXPECT_EQ(rig.window.tips[2], "");
    // The line is healthy again: later retries leave it alone.
    rig.instruments.codes = {{2, -400}};
    rig.loop.RunFor(31000);
    EXPECT_EQ(rig.core.Reconnects(), 1);
}

TEST(Statistics, CountReadsFailuresByCodeAndTheLongestOutage) {
    CoreRig rig(2);
    rig.AllAnswer();
    rig.screenTimer.Start(333);
    rig.loop.RunFor(1000); // three passes
    rig.instruments.codes[2] = -100;
    rig.loop.RunFor(333);
    EXPECT_EQ(rig.window.tips[2], "-100 No response.");
    rig.instruments.codes[2] = -300;
    rig.loop.RunFor(30400); // retried at 31332, probed at 31635: -300
    rig.instruments.codes.clear();
    rig.loop.RunFor(30400); // retried at 61635, probed and back at 61938
    const ChannelStatistics& stats = rig.core.Statistics();
    const ChannelFigures& two = stats.Of(2);
    EXPECT_EQ(two.failed, 1); // the probes are counted apart
    EXPECT_EQ(two.failuresByCause, (std::map<std::string, int64_t>{{"-100 No response.", 1}}));
    EXPECT_EQ(two.lastFailure, "-300 Invalid checksum.");
    EXPECT_DOUBLE_EQ(stats.LongestFailedMs(2, rig.clock.now), 61938 - 1332);
    EXPECT_EQ(stats.Of(1).failed, 0);
    EXPECT_EQ(stats.Of(1).reads, 186); // every pass
    EXPECT_EQ(two.reads, 3 + 1);

    const auto table = StatisticsTable(rig.workspace, stats, rig.clock.now);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[2],
              (std::vector<std::string>{"Channel 2", "2", "4", "1", "1 x -100 No response.",
                                        "0:01:00.6", "-300 Invalid checksum.", "2", "1"}));
    EXPECT_EQ(DurationText(3723400), "1:02:03.4");

    // Reset: all figures start anew; a channel failing now counts from now.
    rig.instruments.codes[1] = -100;
    rig.loop.RunFor(333);
    rig.core.ResetStatistics();
    rig.loop.RunFor(1000);
    EXPECT_EQ(stats.Of(1).reads, 0);
    EXPECT_DOUBLE_EQ(stats.LongestFailedMs(1, rig.clock.now), 1000);
    EXPECT_FALSE(stats.Of(2).failed);
}

TEST(StatusLine, OffATerminalAChangeOrAMinuteMakesALine) {
    StatusReporter log(false);
    StatusEvents healthy{{false, false}}, failing{{false, true}};
    EXPECT_EQ(log.Report(0, "a", healthy), "a\n");
    EXPECT_EQ(log.Report(1000, "b", healthy), std::nullopt);
    EXPECT_EQ(log.Report(59999, "c", healthy), std::nullopt);
    EXPECT_EQ(log.Report(60000, "d", healthy), "d\n");
    EXPECT_EQ(log.Report(61000, "e", failing), "e\n");
    EXPECT_EQ(log.Report(62000, "f", healthy), "f\n");
    StatusEvents reconnected = healthy;
    reconnected.reconnects = 1;
    EXPECT_EQ(log.Report(63000, "g", reconnected), "g\n");
    EXPECT_EQ(log.Finish(), "");

    StatusReporter terminal(true);
    EXPECT_EQ(terminal.Report(0, "a", healthy), "\ra\x1b[K");
    EXPECT_EQ(terminal.Report(1000, "a", failing), std::nullopt);
    EXPECT_EQ(terminal.Report(2000, "b", failing), "\rb\x1b[K");
    EXPECT_EQ(terminal.Finish(), "\n");

    EXPECT_EQ(StatusLineText("L", RunTotals{7, 2, 1, 0, "f.csv"}, failing),
              "L | 7 rows, 2 lost, 1 not flushed | 1 of 2 channels in error");
    for (const auto& [totals, failed, status] : {std::tuple{RunTotals{5, 0, 0, 0, ""}, false, 0},
                                                 std::tuple{RunTotals{5, 0, 0, 0, ""}, true, 2},
                                                 std::tuple{RunTotals{5, 1, 0, 0, ""}, true, 3},
                                                 std::tuple{RunTotals{5, 0, 1, 0, ""}, false, 3}})
        EXPECT_EQ(RunExitStatus(totals, failed), status);
}

TEST(Retry, UsbReopensItsConnection) {
    CoreRig rig(1, ProtocolUSB);
    rig.core.mnuRetry_Click();
    EXPECT_EQ(rig.instruments.calls, (CallLog{"CLOSE", "OPEN"}));
}

TEST(Refresh, FastLoggingLeavesReadingToTheLogTimer) {
    for (int32_t interval : {333, 334}) {
        CoreRig rig(1);
        rig.AllAnswer();
        rig.workspace.LogInterval = interval;
        rig.chooser.path = ::testing::TempDir() + "refresh-" + std::to_string(interval) + ".csv";
        rig.core.DoLogging();
        ASSERT_TRUE(rig.core.IsLogging());
        rig.core.ScreenTimer_Timer();
        EXPECT_EQ(rig.instruments.Reads(), interval == 333 ? 0 : 1) << interval;
        rig.core.DoLogging();
    }
}

TEST(Status, ShowsTheRequestedRateAndTheLastRowTime) {
    CoreRig rig(4);
    rig.AllAnswer();
    rig.chooser.path = ::testing::TempDir() + "status.csv";
    rig.core.DoLogging();
    EXPECT_EQ(rig.window.label, "Logging at 1.0Hz to " + rig.chooser.path);
    rig.state.AchievedMs = 1001;
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.label, "Logging requested at 1000ms (4 device reads per sec) to " +
                                    rig.chooser.path + " and achieving 1001ms");
    EXPECT_EQ(LoggingStatusText(50, 2, "f.csv", 49.6f, RegionalSettings::point()),
              "Logging requested at 050ms (40 device reads per sec) to f.csv and achieving 050ms");
    EXPECT_EQ(LoggingStartText(250, "f.csv", RegionalSettings::comma()),
              "Logging at 4,0Hz to f.csv");
}

TEST(Probe, TimeOutIsThreeReplyTimesWithin20msAndTheReplyTimeOut) {
    const std::optional<double> none;
    struct Case {
        std::optional<double> own, slowest;
        int16_t replyTimeout, expected;
    };
    for (const Case& c :
         {Case{5.0, 100.0, 1000, 20}, Case{10.2, none, 1000, 31}, Case{300.0, 2.0, 1000, 900},
          Case{400.0, none, 1000, 1000}, Case{none, 8.0, 1000, 24}, Case{none, none, 1000, 1000},
          Case{1.0, none, 10, 10}})
        EXPECT_EQ(ProbeTimeoutMs(c.own, c.slowest, c.replyTimeout), c.expected)
            << c.own.value_or(-1) << " " << c.slowest.value_or(-1);
}

// Channels 1..n answer after replyMs on the virtual clock at a 1000 ms
// reply time-out; a silent one costs the driver's four attempts.
void TimedLine(CoreRig& rig, double replyMs) {
    rig.AllAnswer();
    rig.protocol.ProtocolSetTimeout(1000);
    rig.instruments.clockNow = &rig.clock.now;
    for (int s = 1; s <= rig.workspace.Channels; ++s)
        rig.instruments.replyMs[s] = replyMs;
    rig.instruments.calls.clear();
}

int Count(const CallLog& calls, const std::string& call) {
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

TEST(Probe, ADeadStationBlocksTheWindowForOneShortProbePerRetryAndComesBackAtOnce) {
    CoreRig rig(4);
    TimedLine(rig, 5);
    rig.instruments.values.erase(4);
    // The longest the window waited for its events inside a refresh, and
    // the refreshes that ran.
    double mark = 0, longest = 0;
    int refreshes = 0;
    rig.window.onEvents = [&] {
        longest = std::max(longest, rig.clock.now - mark);
        mark = rig.clock.now;
    };
    rig.screenTimer.onTick = [&] {
        mark = rig.clock.now;
        rig.core.ScreenTimer_Timer();
        ++refreshes;
    };
    rig.screenTimer.Start(333);
    rig.loop.RunFor(400);
    EXPECT_EQ(longest, 4000); // the first failed read costs the full read
    longest = 0;
    refreshes = 0;
    rig.loop.RunFor(61000);     // two retries
    EXPECT_EQ(longest, 4 * 20); // never answered: 3 x the slowest other reply, at least 20
    EXPECT_GE(refreshes, 61000 / 333 - 1);
    EXPECT_EQ(Count(rig.instruments.calls, "TIMEOUT 20"), 2);
    EXPECT_EQ(Count(rig.instruments.calls, "TIMEOUT 1000"), 2);
    EXPECT_EQ(Count(rig.instruments.calls, "READ 4 10"), 1 + 2);
    EXPECT_EQ(rig.window.tiles[4].value, "-------");
    EXPECT_TRUE(rig.window.menus[MenuCommand::Retry]);

    rig.instruments.values[4] = 6.0f;
    rig.loop.RunFor(30400);
    EXPECT_EQ(rig.window.tiles[4].value, "06.000");
    EXPECT_EQ(rig.window.tiles[4].colour, ColourSystem3DLight);
    EXPECT_FALSE(rig.window.menus[MenuCommand::Retry]);
    const ChannelFigures& four = rig.core.Statistics().Of(4);
    EXPECT_EQ(four.probes, 3);
    EXPECT_EQ(four.probesAnswered, 1);
    EXPECT_EQ(four.failed, 1);
}

TEST(Probe, ASlowStationIsNeverInErrorAndOneTooSlowForItsProbeIsFoundByRetry) {
    CoreRig rig(2);
    TimedLine(rig, 5);
    rig.instruments.replyMs[2] = 300;
    rig.screenTimer.Start(333);
    rig.loop.RunFor(65000);
    EXPECT_EQ(rig.core.Statistics().Of(2).failed, 0);
    EXPECT_EQ(rig.core.Statistics().Of(2).probes, 0);
    EXPECT_EQ(rig.window.tiles[2].value, "03.000");

    // Unplugged and back: its own reply time sets its probe, 900 ms.
    rig.instruments.values.erase(2);
    rig.loop.RunFor(333);
    rig.instruments.values[2] = 3.0f;
    rig.loop.RunFor(30400);
    EXPECT_FALSE(rig.state.CommsError[2]);
    EXPECT_EQ(Count(rig.instruments.calls, "TIMEOUT 900"), 1);

    // A slow station that never answered gets 3 x 5 ms: too short. The
    // Retry command reads it with the reply time-out and finds it.
    CoreRig fresh(2);
    TimedLine(fresh, 5);
    fresh.instruments.values.erase(2);
    fresh.screenTimer.Start(333);
    fresh.loop.RunFor(400);
    fresh.instruments.values[2] = 3.0f;
    fresh.instruments.replyMs[2] = 300;
    fresh.loop.RunFor(30400);
    EXPECT_EQ(fresh.core.Statistics().Of(2).probes, 1);
    EXPECT_TRUE(fresh.state.CommsError[2]);
    fresh.instruments.calls.clear();
    fresh.core.mnuRetry_Click();
    fresh.loop.RunFor(333);
    EXPECT_FALSE(fresh.state.CommsError[2]);
    EXPECT_EQ(Count(fresh.instruments.calls, "READ 2 10"), 1);
    EXPECT_EQ(fresh.instruments.timeoutMs, 1000);
    EXPECT_EQ(Count(fresh.instruments.calls, "TIMEOUT 20"), 0);
}

// The unattended start: one full pass, then logging. The dead station's
// full read is behind it, and no row waits for more than a probe.
TEST(Probe, AfterTheFirstPassEveryRowComesOnTimeAroundADeadStation) {
    CoreRig rig(4);
    TimedLine(rig, 5);
    rig.instruments.values.erase(4);
    rig.workspace.LogInterval = 200;
    rig.FullPass();
    EXPECT_EQ(rig.clock.now, 3 * 5 + 4000);
    rig.chooser.path = ::testing::TempDir() + "probe-rows.csv";
    rig.core.DoLogging();
    double lastRow = rig.clock.now, longestGap = 0;
    rig.logTimer.onTick = [&] {
        const int64_t rows = rig.core.RowsWritten();
        rig.core.LogTimerFired();
        if (rig.core.RowsWritten() == rows) return;
        longestGap = std::max(longestGap, rig.clock.now - lastRow);
        lastRow = rig.clock.now;
    };
    rig.screenTimer.Start(333);
    rig.loop.RunFor(65000); // two probes
    EXPECT_EQ(rig.core.Statistics().Of(4).probes, 2);
    EXPECT_GE(rig.core.RowsWritten(), 65000 / 200 - 1);
    EXPECT_LE(longestGap, 200 + 4 * 20);
    rig.core.DoLogging();
}

} // namespace
