#include "CoreFakes.h"
#include "LogLines.h"

#include <gtest/gtest.h>

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
    rig.core.ScreenTimer_Timer();
    ASSERT_TRUE(rig.autoRetryTimer.IsActive());
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

} // namespace
