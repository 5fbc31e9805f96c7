#include "CoreFakes.h"

#include "VeldaBusModule.h"

#include <gtest/gtest.h>

namespace {

// Reads the given channels one by one, as the log timer does.
void ReadEach(CoreRig& rig, std::initializer_list<int16_t> channels) {
    for (int16_t channel : channels)
        rig.core.ReadValues(channel);
}

struct UsbFaultGuard {
    explicit UsbFaultGuard(bool on) { UsbDriverFault = on; }
    ~UsbFaultGuard() { UsbDriverFault = false; }
};

TEST(SumChannels, AddRawReadingsOfTheirGroupAndSubtractOnlyTheirOwnTare) {
    CoreRig rig(3);
    rig.instruments.values = {{1, 10.0f}, {2, 2.5f}};
    rig.workspace.Items[0].TareValue = 0.5f; // summed channels' tares are not subtracted
    rig.workspace.Items[2].Command = "sum";
    rig.workspace.Items[2].TareValue = 1.0f;
    rig.FullPass();
    EXPECT_FLOAT_EQ(rig.state.NetValues[1], 9.5f);
    EXPECT_FLOAT_EQ(rig.state.NetValues[3], 11.5f);
    EXPECT_FALSE(rig.state.CommsError[3]);
    // The sum channel is never sent to an instrument.
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 10", "READ 2 10"}));
}

TEST(SumChannels, EachGroupStartsAfterThePreviousSumAndChannelOneSumsNothing) {
    CoreRig rig(6);
    rig.instruments.values = {{1, 1}, {2, 2}, {4, 40}, {5, 50}};
    rig.workspace.Items[2].Command = "SUM";
    rig.workspace.Items[5].Command = "Sum";
    rig.FullPass();
    EXPECT_FLOAT_EQ(rig.state.Readings[3], 3.0f);
    EXPECT_FLOAT_EQ(rig.state.Readings[6], 90.0f);
    // The log timer's single reads group the channels as the full pass does.
    rig.state.Readings[6] = 0;
    ReadEach(rig, {1, 2, 3, 4, 5, 6});
    EXPECT_FLOAT_EQ(rig.state.Readings[3], 3.0f);
    EXPECT_FLOAT_EQ(rig.state.Readings[6], 90.0f);

    CoreRig first(2);
    first.instruments.values = {{2, 7}};
    first.workspace.Items[0].Command = "SUM";
    first.workspace.Items[0].TareValue = 2.0f;
    first.FullPass();
    EXPECT_FLOAT_EQ(first.state.NetValues[1], -2.0f);
}

TEST(SumChannels, AFailedChannelInTheGroupFailsTheSumUntilARetry) {
    CoreRig rig(4);
    rig.workspace.LogDefault = -1;
    rig.instruments.values = {{1, 1}, {2, 2}, {3, 3}};
    rig.instruments.codes[2] = -100;
    rig.workspace.Items[2].Command = "SUM";
    rig.workspace.Items[3].Command = "SUM";
    for (bool single : {false, true}) {
        SCOPED_TRACE(single);
        rig.core.mnuRetry_Click();
        if (single)
            ReadEach(rig, {1, 2, 3, 4});
        else
            rig.FullPass();
        EXPECT_TRUE(rig.state.CommsError[3]);
        EXPECT_FLOAT_EQ(rig.state.NetValues[3], -1.0f);
        EXPECT_FALSE(rig.state.CommsError[4]); // an empty group
    }
    rig.instruments.codes.clear();
    rig.FullPass();
    EXPECT_TRUE(rig.state.CommsError[3]);
    rig.core.mnuRetry_Click();
    rig.FullPass();
    EXPECT_FALSE(rig.state.CommsError[3]);
    EXPECT_FLOAT_EQ(rig.state.NetValues[3], 3.0f);
}

TEST(FailedReads, LogDefaultReplacesTheValueOrZeroKeepsThePreviousOne) {
    for (float logDefault : {9999.0f, 0.0f}) {
        CoreRig rig(2);
        rig.workspace.LogDefault = logDefault;
        rig.instruments.values = {{1, 4.0f}, {2, 6.0f}};
        rig.FullPass();
        rig.instruments.codes[2] = -100;
        rig.state.CommsError[2] = false;
        rig.FullPass();
        EXPECT_TRUE(rig.state.CommsError[2]);
        EXPECT_TRUE(rig.window.menus[MenuCommand::Retry]);
        EXPECT_FLOAT_EQ(rig.state.NetValues[2], logDefault == 0 ? 6.0f : 9999.0f);
        // A channel in error is not read again until a retry.
        const int reads = rig.instruments.Reads();
        rig.FullPass();
        EXPECT_EQ(rig.instruments.Reads(), reads + 1);
    }
}

TEST(BusCommands, OnlyANumberAboveZeroOverridesAndSnapModeUsesCommand23) {
    CoreRig rig(4);
    rig.AllAnswer();
    rig.workspace.Items[0].Command = "0";
    rig.workspace.Items[1].Command = "-3";
    rig.workspace.Items[2].Command = "7";
    rig.workspace.Items[3].Command = "abc";
    rig.FullPass();
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 10", "READ 2 10", "READ 3 7", "READ 4 10"}));

    rig.workspace.Snap = 1;
    rig.instruments.calls.clear();
    ReadEach(rig, {1, 3});
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 23", "READ 3 7"}));
}

TEST(BusCommands, AFractionOrOversizedNumberFailsTheChannelWithoutSending) {
    CoreRig rig(2);
    rig.AllAnswer();
    rig.workspace.Items[0].Command = "7.5";
    rig.workspace.Items[1].Command = "40000";
    rig.FullPass();
    EXPECT_TRUE(rig.instruments.calls.empty());
    EXPECT_TRUE(rig.state.CommsError[1]);
    EXPECT_TRUE(rig.state.CommsError[2]);
    EXPECT_NE(rig.core.LastChannelFault().find("40000"), std::string::npos);
}

TEST(SerialStations, StationZeroOrAbove255FailsOnlyItsChannel) {
    for (int16_t protocol : {ProtocolVeldaBus, ProtocolASCII}) {
        CoreRig rig(4, protocol);
        rig.AllAnswer();
        rig.workspace.Items[0].Station = 0; // a broadcast, answered by nobody
        rig.workspace.Items[1].Station = 256;
        rig.workspace.Items[2].Station = 255;
        rig.instruments.values[0] = rig.instruments.values[255] = 1.0f;
        rig.FullPass();
        EXPECT_TRUE(rig.state.CommsError[1]);
        EXPECT_TRUE(rig.state.CommsError[2]);
        EXPECT_FALSE(rig.state.CommsError[3]);
        EXPECT_FALSE(rig.state.CommsError[4]);
        EXPECT_EQ(rig.instruments.Reads(), 2);
        EXPECT_NE(rig.core.LastChannelFault().find("256"), std::string::npos);
    }
}

TEST(TextCommands, AnyNonEmptyCommandReplacesSysAndSysnUnderAsciiAndUsb) {
    for (int16_t protocol : {ProtocolASCII, ProtocolUSB}) {
        CoreRig rig(2, protocol);
        rig.AllAnswer();
        rig.workspace.Items[1].Command = "GRS";
        rig.FullPass();
        EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 SYS", "READ 2 GRS"}));
        rig.workspace.Snap = 1;
        rig.instruments.calls.clear();
        ReadEach(rig, {1, 2});
        EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 1 SYSN", "READ 2 GRS"}));
    }
}

TEST(Usb, SerialNumbersPassUnchangedAndADriverFaultFailsEveryChannelWithoutACall) {
    CoreRig rig(2, ProtocolUSB);
    rig.workspace.Items[0].Station = 123456;
    rig.instruments.values = {{123456, 3.0f}, {2, 1.0f}};
    rig.FullPass();
    EXPECT_EQ(rig.instruments.calls, (CallLog{"READ 123456 SYS", "READ 2 SYS"}));

    UsbFaultGuard fault(true);
    CoreRig faulty(3, ProtocolUSB);
    faulty.AllAnswer();
    faulty.workspace.LogDefault = -1;
    faulty.FullPass();
    EXPECT_TRUE(faulty.instruments.calls.empty());
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(faulty.state.CommsError[i]);
        EXPECT_FLOAT_EQ(faulty.state.NetValues[i], -1.0f);
    }
}

TEST(Drivers, AMissingLibraryFailsTheChannelsInsteadOfEscaping) {
    CoreRig rig(2);
    auto missing = VeldaBusModule::BindFrom("/nonexistent-driver-folder");
    ProtocolModule protocol(rig.workspace, *missing, rig.ascii, rig.usb);
    LoggerCore core(rig.workspace, rig.state, protocol, RegionalSettings::point(),
                    CoreSeams{rig.window, rig.boxes, rig.autoRetryTimer, rig.logTimer, rig.clock,
                              rig.chooser, rig.settings, rig.shell});
    int16_t index = 0;
    core.ReadValues(index);
    EXPECT_TRUE(rig.state.CommsError[1]);
    EXPECT_TRUE(rig.state.CommsError[2]);
    EXPECT_NE(core.LastChannelFault().find("Veldabus2Drv"), std::string::npos);
    rig.workspace.Snap = 1;
    index = -1;
    core.ReadValues(index);
    EXPECT_EQ(index, 0);
}

TEST(Snap, MinusOneSendsOnlyTheTriggerAndLeavesIndexAtZero) {
    CoreRig bus(2);
    bus.AllAnswer();
    bus.workspace.Snap = 1;
    int16_t index = -1;
    bus.core.ReadValues(index);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(bus.instruments.calls, (CallLog{"EXEC -1 103"}));
    EXPECT_FALSE(bus.state.FirstScanDone);

    CoreRig ascii(2, ProtocolASCII);
    ascii.workspace.Snap = 1;
    index = -1;
    ascii.core.ReadValues(index);
    EXPECT_EQ(ascii.instruments.calls, (CallLog{"EXEC -1 SNAP"}));
}

TEST(Tare, CapturesTheRawReadingShiftClearsItAndAnErrorRefuses) {
    CoreRig rig(2);
    rig.instruments.values = {{1, 5.2f}, {2, 1.0f}};
    rig.FullPass();
    rig.core.Tare(1);
    EXPECT_FLOAT_EQ(rig.workspace.Items[0].TareValue, 5.2f);
    EXPECT_FALSE(rig.state.WorkspaceChanged);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.tiles[1].value, "00.000");

    rig.window.shift = true;
    rig.core.Tare(1);
    EXPECT_FLOAT_EQ(rig.workspace.Items[0].TareValue, 0.0f);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.window.tiles[1].value, "05.200");

    rig.instruments.codes[2] = -100;
    rig.core.mnuRetry_Click();
    rig.FullPass();
    rig.workspace.Items[1].TareValue = 0.25f;
    rig.core.Tare(2);
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].text, "Cannot tare while communications errors exist!");
    EXPECT_EQ(rig.boxes.shown[0].title, "Tare");
    EXPECT_EQ(rig.boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_FLOAT_EQ(rig.workspace.Items[1].TareValue, 0.25f);
    rig.core.Tare(0); // no such tile: nothing happens
    rig.core.Tare(3);
    EXPECT_EQ(rig.boxes.shown.size(), 1u);
}

TEST(FirstPass, ShowsProgressWithBusyPointerOnlyUntilAPassCompletes) {
    CoreRig rig(2);
    rig.AllAnswer();
    rig.FullPass();
    EXPECT_EQ(rig.window.labels,
              (std::vector<std::string>{"Reading from: Channel 1", "Reading from: Channel 2", ""}));
    EXPECT_FALSE(rig.window.busy);
    EXPECT_TRUE(rig.state.FirstScanDone);
    rig.window.labels.clear();
    rig.FullPass();
    EXPECT_TRUE(rig.window.labels.empty());
}

TEST(FirstPass, AChannelCountChangedWhileEventsRunAbortsThePass) {
    CoreRig rig(3);
    rig.AllAnswer();
    rig.window.onEvents = [&] {
        if (rig.instruments.Reads() == 1) {
            rig.workspace.Channels = 1;
            rig.workspace.Items.resize(1);
        }
    };
    rig.FullPass();
    EXPECT_EQ(rig.instruments.Reads(), 1);
    EXPECT_FALSE(rig.state.FirstScanDone);
}

TEST(FirstPass, ClosingStopsThePassAfterTheCurrentChannel) {
    CoreRig rig(3);
    rig.AllAnswer();
    rig.window.onEvents = [&] { rig.state.Closing = rig.instruments.Reads() >= 1; };
    rig.FullPass();
    EXPECT_EQ(rig.instruments.Reads(), 1);
    EXPECT_FALSE(rig.window.busy);
}

TEST(ChannelCount, MoreThan24ChannelsOrMissingItemsAreLeftOut) {
    CoreRig rig(26);
    rig.AllAnswer();
    rig.FullPass();
    EXPECT_EQ(rig.instruments.Reads(), 24);
    EXPECT_EQ(UsableChannels(rig.workspace), 24);
    rig.workspace.Items.resize(3);
    EXPECT_EQ(UsableChannels(rig.workspace), 3);
    int16_t beyond = 5;
    rig.core.ReadValues(beyond);
    EXPECT_EQ(rig.instruments.Reads(), 24);
    rig.workspace.Channels = -2;
    EXPECT_EQ(UsableChannels(rig.workspace), 0);
}

TEST(OtherProtocols, AnUnknownProtocolReadsNothingAndFailsEveryChannel) {
    CoreRig rig(2, 3);
    rig.AllAnswer();
    rig.workspace.LogDefault = -1;
    rig.FullPass();
    EXPECT_TRUE(rig.instruments.calls.empty());
    EXPECT_TRUE(rig.state.CommsError[1]);
    EXPECT_TRUE(rig.state.CommsError[2]);
    EXPECT_FLOAT_EQ(rig.state.NetValues[1], -1.0f);
    EXPECT_EQ(rig.core.LastChannelFault(), UnknownProtocolFault(3));
    EXPECT_NE(UnknownProtocolFault(-1), "");
    for (int16_t known : {ProtocolVeldaBus, ProtocolASCII, ProtocolUSB})
        EXPECT_EQ(UnknownProtocolFault(known), "");
}

} // namespace
