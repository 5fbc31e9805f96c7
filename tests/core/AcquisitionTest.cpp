#include "CoreFakes.h"

#include "comm/VeldaBusModule.h"

namespace {

// Reads the channels one by one, as the log timer does.
void ReadEach(CoreRig& rig, int last) {
    for (int16_t channel = 1; channel <= last; ++channel)
        rig.Read(channel);
}

// A sum adds the raw readings of the channels since the previous sum and
// subtracts only its own tare; a failed member fails it until a retry. A
// failed channel takes the log default, or keeps its value under 0.
TEST(SumChannels, AddTheirGroupAndFailWithAFailedMember) {
    for (float logDefault : {-1.0f, 0.0f}) {
        CoreRig rig(7);
        rig.workspace.LogDefault = logDefault;
        rig.drivers.values = {{2, 10.0f}, {3, 2.5f}, {5, 7.0f}};
        rig.Read(0);
        rig.drivers.codes[5] = -100;
        for (int i : {0, 3, 5, 6}) // a sum of nothing, a group of two, a failed one, none
            rig.workspace.Items[static_cast<size_t>(i)].Command = i == 3 ? "sum" : "SUM";
        rig.workspace.Items[0].TareValue = 2.0f;
        rig.workspace.Items[1].TareValue = 0.5f; // not subtracted from the sum
        rig.workspace.Items[3].TareValue = 1.0f;
        for (bool single : {false, true}) {
            rig.core.mnuRetry_Click();
            rig.drivers.calls.clear();
            single ? ReadEach(rig, 7) : rig.Read(0);
            EXPECT_EQ(rig.drivers.calls, (CallLog{"READ 2 10", "READ 3 10", "READ 5 10"}));
            EXPECT_EQ(rig.Errors(), "....EE.");
            EXPECT_EQ(std::vector<float>(&rig.state.NetValues[1], &rig.state.NetValues[8]),
                      (std::vector<float>{-2, 9.5, 2.5, 11.5, logDefault != 0 ? -1.0f : 7.0f,
                                          logDefault, 0}));
        }
        rig.drivers.codes.clear();
        rig.Read(0);
        EXPECT_EQ(rig.drivers.Reads(), 3 + 2); // a channel in error waits for a retry
        rig.core.mnuRetry_Click();
        rig.Read(0);
        EXPECT_EQ(rig.Errors(), ".......");
        EXPECT_FLOAT_EQ(rig.state.NetValues[6], 7.0f);
    }
}

// The item's command overrides the protocol's in normal and SNAP mode: a
// whole bus command number above 0 (a fraction or an oversized one fails
// the channel without a call), any text under ASCII and USB. USB serial
// numbers pass whole.
TEST(Commands, OverrideTheProtocolsInNormalAndSnapMode) {
    const std::pair<int16_t, std::vector<std::string>> cases[] = {
        {ProtocolVeldaBus, {"0", "-3", "7", "abc", "7.5", "40000"}},
        {ProtocolASCII, {"", "GRS"}},
        {ProtocolUSB, {"", "GRS"}}};
    const CallLog calls[] = {
        {"READ 1 10", "READ 2 10", "READ 3 7", "READ 4 10", "EXEC -1 103", "READ 1 23", "READ 2 23",
         "READ 3 7", "READ 4 23"},
        {"READ 1 SYS", "READ 2 GRS", "EXEC -1 SNAP", "READ 1 SYSN", "READ 2 GRS"},
        {"READ 123456 SYS", "READ 2 GRS", "EXEC -1 SNAP", "READ 123456 SYSN", "READ 2 GRS"}};
    for (const auto& [protocol, commands] : cases) {
        const int channels = static_cast<int>(commands.size());
        const bool bus = protocol == ProtocolVeldaBus;
        CoreRig rig(channels, protocol);
        for (int i = 0; i < channels; ++i)
            rig.workspace.Items[static_cast<size_t>(i)].Command = commands[i];
        if (protocol == ProtocolUSB) rig.workspace.Items[0].Station = 123456;
        rig.AllAnswer();
        rig.Read(0);
        EXPECT_EQ(rig.Errors(), bus ? "....EE" : "..");
        EXPECT_EQ(rig.core.ChannelFailure(channels),
                  bus ? "Command \"40000\" is not a command number from 1 to 32767" : "");
        rig.workspace.Snap = 1;
        rig.Read(-1);
        ReadEach(rig, channels);
        EXPECT_EQ(rig.drivers.calls, calls[protocol]);
    }
}

// Station 0 is a broadcast nobody answers: it and 256 fail only their
// channel. An unknown protocol, a faulty USB driver and a missing driver
// library fail every channel without a driver call, and nothing escapes.
TEST(Drivers, WithoutAStationOrAUsableDriverChannelsFail) {
    for (int16_t protocol : {ProtocolVeldaBus, ProtocolASCII}) {
        CoreRig rig(3, protocol);
        rig.AllAnswer();
        rig.workspace.Items[0].Station = 0;
        rig.workspace.Items[1].Station = 256;
        rig.workspace.Items[2].Station = 255;
        rig.drivers.values[0] = rig.drivers.values[255] = 1.0f;
        rig.Read(0);
        EXPECT_EQ(rig.Errors(), "EE.");
        EXPECT_EQ(rig.drivers.Reads(), 1);
        EXPECT_NE(rig.core.LastChannelFault().find("256"), std::string::npos);
    }
    auto missing = VeldaBusModule::BindFrom("/nonexistent-driver-folder");
    for (const auto& [protocol, fault] :
         {std::pair<int16_t, const char*>{3, "Protocol 3 is none of"},
          {ProtocolUSB, ""},
          {ProtocolVeldaBus, "Veldabus2Drv"}}) {
        UsbDriverFault = protocol == ProtocolUSB;
        CoreRig rig(2, protocol, missing.get());
        rig.AllAnswer();
        rig.Read(0);
        rig.workspace.Snap = 1;
        rig.Read(-1);
        UsbDriverFault = false;
        EXPECT_TRUE(rig.drivers.calls.empty());
        EXPECT_EQ(rig.Errors(), "EE");
        EXPECT_NE(rig.core.LastChannelFault().find(fault), std::string::npos);
    }
}

TEST(Tare, CapturesTheRawReadingShiftClearsItAndAnErrorRefuses) {
    CoreRig rig(2);
    rig.drivers.values = {{1, 5.2f}};
    rig.core.ScreenTimer_Timer();
    rig.core.Tare(1);
    EXPECT_FLOAT_EQ(rig.workspace.Items[0].TareValue, 5.2f);
    rig.core.ScreenTimer_Timer();
    EXPECT_EQ(rig.Tiles(), "00.000 -------(red)");
    rig.window.shift = true;
    rig.core.Tare(1);
    EXPECT_FLOAT_EQ(rig.workspace.Items[0].TareValue, 0.0f);
    rig.workspace.Items[1].TareValue = 0.25f;
    for (int tile : {2, 0, 3}) // in error; no such tiles
        rig.core.Tare(tile);
    ASSERT_EQ(rig.boxes.shown.size(), 1u);
    EXPECT_EQ(rig.boxes.shown[0].title + "|" + rig.boxes.shown[0].text,
              "Tare|Cannot tare while communications errors exist!");
    EXPECT_EQ(rig.boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_FLOAT_EQ(rig.workspace.Items[1].TareValue, 0.25f);
    EXPECT_FALSE(rig.state.WorkspaceChanged);
}

// The first pass tells which channel it reads under a busy pointer. Events
// inside it that shrink the workspace or close the window end it after the
// current channel; more than 24 channels or missing items are left out.
TEST(FirstPass, ShowsProgressAndEndsEarlyWhenTheWorkspaceOrWindowGoes) {
    CoreRig rig(26);
    rig.AllAnswer();
    rig.Read(0);
    rig.Read(0);
    EXPECT_EQ(rig.drivers.Reads(), 2 * 24);
    EXPECT_EQ(rig.window.labels.size(), 24u + 1);
    EXPECT_EQ(rig.window.labels[1], "Reading from: Channel 2");
    EXPECT_EQ(rig.window.labels.back(), "");
    EXPECT_FALSE(rig.window.busy);
    rig.workspace.Items.resize(3);
    rig.Read(5);
    EXPECT_EQ(rig.drivers.Reads(), 2 * 24);
    rig.workspace.Channels = -2;
    EXPECT_EQ(UsableChannels(rig.workspace), 0);
    for (bool closing : {false, true}) {
        CoreRig small(3);
        small.AllAnswer();
        small.window.onEvents = [&] {
            small.state.Closing = closing && small.drivers.Reads() > 0;
            if (!closing && small.drivers.Reads() > 0) small.workspace.Items.resize(1);
        };
        small.Read(0);
        EXPECT_EQ(small.drivers.Reads(), 1);
        EXPECT_FALSE(small.state.FirstScanDone);
        EXPECT_FALSE(small.window.busy) << (closing ? "closing" : "shrunk");
    }
}

} // namespace
