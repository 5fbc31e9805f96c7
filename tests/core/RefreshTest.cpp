#include "CoreFakes.h"
#include "core/RunReport.h"

#include <optional>

namespace {

// A refresh shows the values or red dashes with the reason, drawing frozen
// unless minimised; the first error arms the retry, 30 s later. It and the
// Retry command (which cancels the countdown) read every channel in error
// again, reopening the port only when no channel got an answer from the
// line; a reopen that fails leaves the channels in error until the next.
TEST(Retry, AFailedLineIsReopenedAHealthyOneNever) {
    struct Case {
        int16_t code1, code2, openResult;
        bool command, reopened, cleared;
    };
    const std::map<int16_t, std::string> tips = {{-100, "-100 No response."},
                                                 {-400, "-400 Not acknowledged (NAK)."},
                                                 {-999, "Unknown: -999"}};
    for (const Case& c :
         {Case{-100, -100, 0, false, true, true}, Case{-2, -999, 0, false, true, true},
          Case{-400, -100, 0, false, false, true}, Case{0, -100, 0, false, false, true},
          Case{-100, -100, -2, false, true, false}, Case{-100, -100, 0, true, true, true},
          Case{-400, -400, 0, true, false, true}}) {
        SCOPED_TRACE(std::to_string(c.code1) + " " + std::to_string(c.openResult));
        CoreRig rig(2);
        rig.AllAnswer();
        rig.drivers.values[1] = 1.25f;
        rig.workspace.Items[0].Format = "0.0";
        rig.drivers.codes = {{1, c.code1}, {2, c.code2}};
        rig.drivers.openResult = c.openResult;
        rig.screenTimer.Start(333);
        rig.RunFor(400);
        const std::string failed = rig.Tiles();
        EXPECT_EQ(failed, (c.code1 ? "-------(red)" : "1.3") + std::string(" -------(red)"));
        EXPECT_EQ(rig.window.tips[2], tips.at(c.code2));
        EXPECT_EQ(rig.window.freezes + rig.window.releases, 2);
        EXPECT_TRUE(rig.window.menus[MenuCommand::Retry]);
        rig.window.minimised = true; // not frozen
        rig.drivers.codes.clear();
        rig.drivers.calls.clear();
        if (c.command) rig.core.mnuRetry_Click();
        EXPECT_EQ(rig.autoRetryTimer.IsActive(), !c.command);
        rig.RunFor(c.command ? 0 : 29900); // just before the retry at 30333
        EXPECT_EQ(rig.Tiles(), failed);
        rig.RunFor(c.command ? 333 : 500); // a refresh after the retry
        EXPECT_EQ(rig.drivers.Count("CLOSE") && rig.drivers.calls[1] == "OPEN 1 115200",
                  c.reopened);
        EXPECT_EQ(rig.core.Reconnects(), c.reopened && c.cleared ? 1 : 0);
        EXPECT_EQ(rig.core.FailedReopens(), c.cleared ? 0 : 1);
        EXPECT_EQ(rig.Tiles(), c.cleared ? "1.3 03.000" : "-------(red) -------(red)");
        EXPECT_EQ(rig.window.menus[MenuCommand::Retry], !c.cleared);
        EXPECT_EQ(rig.autoRetryTimer.starts, c.cleared ? 1 : 2); // re-armed after a failed reopen
        EXPECT_EQ(rig.window.freezes + rig.window.releases, 2);
        // Not reopened: not read again, the reason on the tile.
        EXPECT_EQ(rig.drivers.Reads() == 0, !c.cleared);
        EXPECT_EQ(rig.window.tips[1], c.cleared ? ""
                                                : "Cannot reopen COM1: -2 Cannot open or close "
                                                  "serial port.");
    }
    // The USB connection is reopened at every retry.
    CoreRig usb(1, ProtocolUSB);
    usb.core.mnuRetry_Click();
    EXPECT_EQ(usb.drivers.calls, (CallLog{"CLOSE", "OPEN"}));
}

// Off a terminal a change of the events or a quiet minute makes a line; on
// one the line is rewritten in place when its text changes.
TEST(StatusLine, OffATerminalAChangeOrAMinuteMakesALineOnOneTheTextChanges) {
    StatusReporter log(false), terminal(true);
    StatusEvents healthy{{false, false}}, failing{{false, true}};
    const std::pair<double, const StatusEvents*> lines[] = {
        {0, &healthy}, {59999, &healthy}, {60000, &healthy}, {61000, &failing}};
    std::vector<bool> told;
    for (const auto& [at, events] : lines)
        told.push_back(log.Report(at, "a", *events) == "a\n");
    EXPECT_EQ(told, (std::vector<bool>{true, false, true, true}));
    EXPECT_EQ(log.Finish(), "");
    EXPECT_EQ(terminal.Report(0, "a", healthy), "\ra\x1b[K");
    EXPECT_EQ(terminal.Report(1000, "a", failing), std::nullopt);
    EXPECT_EQ(terminal.Report(2000, "b", failing), "\rb\x1b[K");
    EXPECT_EQ(terminal.Finish(), "\n");
    EXPECT_EQ(StatusLineText("L", RunTotals{7, 2, 1, 0, "f.csv"}, failing),
              "L | 7 rows, 2 lost, 1 not flushed | 1 of 2 channels in error");
    // A flush that failed wins over failed readings, as lost rows do.
    EXPECT_EQ(RunExitStatus(RunTotals{5, 0, 1, 0, ""}, true), 3);
}

TEST(Probe, TimeOutIsThreeReplyTimesWithin20msAndTheReplyTimeOut) {
    const std::optional<double> none;
    const struct {
        std::optional<double> own, slowest;
        int16_t replyTimeout, expected;
    } cases[] = {{5.0, 100.0, 1000, 20},    {10.2, none, 1000, 31}, {300.0, 2.0, 1000, 900},
                 {400.0, none, 1000, 1000}, {none, 8.0, 1000, 24},  {none, none, 1000, 1000},
                 {1.0, none, 10, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(ProbeTimeoutMs(c.own, c.slowest, c.replyTimeout), c.expected)
            << c.own.value_or(-1) << " " << c.slowest.value_or(-1);
}

// Channels 1..4 answer after 5 ms on the virtual clock at a 1000 ms reply
// time-out, but station 4 is dead: a failed read costs the four attempts.
void DeadFourth(CoreRig& rig) {
    rig.AllAnswer();
    rig.drivers.values.erase(4);
    rig.protocol.ProtocolSetTimeout(1000);
    rig.drivers.clockNow = &rig.clock.now;
    for (int s = 1; s <= 4; ++s)
        rig.drivers.replyMs[s] = 5;
    rig.drivers.calls.clear();
}

TEST(Probe, ADeadStationBlocksTheWindowForOneShortProbePerRetryAndComesBackAtOnce) {
    CoreRig rig(4);
    DeadFourth(rig);
    // The longest the window waited for its events inside a refresh.
    double mark = 0, longest = 0;
    rig.window.onEvents = [&] {
        longest = std::max(longest, rig.clock.now - mark);
        mark = rig.clock.now;
    };
    rig.screenTimer.onTick = [&] {
        mark = rig.clock.now;
        rig.core.ScreenTimer_Timer();
    };
    rig.screenTimer.Start(333);
    rig.RunFor(400);
    EXPECT_EQ(longest, 4000); // the first failed read costs the full read
    longest = 0;
    rig.RunFor(61000);          // two retries
    EXPECT_EQ(longest, 4 * 20); // never answered: 3 x the slowest other reply, at least 20
    EXPECT_EQ(rig.drivers.Count("TIMEOUT 20"), 2);
    EXPECT_EQ(rig.drivers.Count("TIMEOUT 1000"), 2);
    EXPECT_EQ(rig.drivers.Count("READ 4 10"), 1 + 2);
    EXPECT_TRUE(rig.window.menus[MenuCommand::Retry]);

    rig.drivers.values[4] = 6.0f;
    rig.RunFor(30400);
    EXPECT_EQ(rig.Tiles(), "01.500 03.000 04.500 06.000");
    EXPECT_FALSE(rig.window.menus[MenuCommand::Retry]);
    // The probes are counted apart from the reads; the outage lasts from
    // the first failed read to the answered probe.
    const ChannelStatistics& stats = rig.core.Statistics();
    const auto table = StatisticsTable(rig.workspace, stats, rig.clock.now);
    ASSERT_EQ(table.size(), 5u);
    EXPECT_EQ(table[4],
              (std::vector<std::string>{"Channel 4", "4", "2", "1", "1 x -100 No response.",
                                        "0:01:30.9", "-100 No response.", "3", "1"}));
    EXPECT_EQ(DurationText(3723400), "1:02:03.4");
    rig.core.ResetStatistics();
    rig.RunFor(1000);
    EXPECT_EQ(stats.Of(4).reads, 3); // counted anew
}

// The unattended start: one full pass, then logging. The dead station's
// full read is behind it, no row waits for more than a probe, and neither
// the reads nor a row's 3 ms in the window stretch the rows: the log timer
// keeps its beat, and the elapsed time stays on the clock.
TEST(Probe, AfterTheFirstPassEveryRowComesOnTimeAroundADeadStation) {
    CoreRig rig(4);
    DeadFourth(rig);
    rig.workspace.LogInterval = 200;
    rig.Read(0);
    EXPECT_EQ(rig.clock.now, 3 * 5 + 4000);
    rig.path = ::testing::TempDir() + "probe-rows.csv";
    rig.core.DoLogging();
    double lastRow = rig.clock.now, longestGap = 0, lastTick = 0;
    const double started = rig.clock.now;
    rig.window.onEvents = [&] { rig.clock.now += 3; };
    rig.logTimer.onTick = [&] {
        const int64_t rows = rig.core.RowsWritten();
        lastTick = rig.clock.now;
        rig.core.LogTimerFired();
        if (rig.core.RowsWritten() == rows) return;
        longestGap = std::max(longestGap, rig.clock.now - lastRow);
        lastRow = rig.clock.now;
    };
    rig.screenTimer.Start(333);
    rig.RunFor(65000); // two probes
    EXPECT_EQ(rig.core.Statistics().Of(4).probes, 2);
    EXPECT_GE(rig.core.RowsWritten(), 65000 / 200 - 1);
    EXPECT_LE(longestGap, 200 + 4 * 20);
    EXPECT_NEAR(rig.state.ElapsedMs + rig.state.RowMs, lastTick - started, 1.0);
    rig.core.DoLogging();
}

} // namespace
