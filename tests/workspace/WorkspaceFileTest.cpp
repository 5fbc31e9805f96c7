#include "WorkspaceFile.h"

#include "../support/FakeMessageBoxes.h"
#include "../support/ScratchFolder.h"
#include "Channels.h"
#include "IniFile.h"

#include <gtest/gtest.h>

namespace {

// What loading a file without any keys gives, with count default channels.
WorkspaceClass Defaults(int count) {
    WorkspaceClass ws{static_cast<int16_t>(count), "Title Text", "", 1, 115200, 0, 0, {}, 1000, 0};
    for (int i = 1; i <= count; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

const std::string OneChannelDefaults =
    "[Workspace]\r\nTitle=Title Text\r\nNotes=\r\nPort=1\r\nBaudrate=115200\r\nProtocol=0\r\n"
    "Snap=0\r\nChannels=1\r\nlogInterval=1000\r\nlogDefault=0\r\nStation1=1\r\n"
    "Caption1=Channel 1\r\nFormat1=00.000\r\nTareValue1=0\r\nCommand1=\r\n";

class WorkspaceFileTest : public ScratchTest {
  protected:
    void TearDown() override {
        UsbDriverFault = false;
        ScratchTest::TearDown();
    }

    WorkspaceClass LoadText(const std::string& text, WorkspaceClass ws = {}) {
        PutFileBytes(Path("in.lws"), text);
        LoadWorkspace(ws, Path("in.lws"), m_rs, m_boxes);
        return ws;
    }
    WorkspaceClass RoundTrip(const WorkspaceClass& ws) {
        SaveWorkspace(ws, Path("out.lws"), m_rs, m_boxes);
        WorkspaceClass back;
        LoadWorkspace(back, Path("out.lws"), m_rs, m_boxes);
        return back;
    }
    // The latest box is the count-th shown, with this text, title and icon and an OK button.
    void ExpectLastBox(size_t count, const std::string& text, const std::string& title,
                       MessageIcon icon) {
        ASSERT_EQ(m_boxes.shown.size(), count);
        const ShownBox& box = m_boxes.shown.back();
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.title, title);
        EXPECT_EQ(box.icon, icon);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
    }

    RegionalSettings m_rs = RegionalSettings::point();
    RecordingBoxes m_boxes;
};

TEST_F(WorkspaceFileTest, MissingKeysGiveEveryDefault) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    EXPECT_EQ(ws, Defaults(4));
    EXPECT_EQ(LoadText("[Workspace]\r\n"), Defaults(4));
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=2\r\n"), Defaults(2));
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(WorkspaceFileTest, SavesOneDefaultChannelByteForByteOverAnyOldContent) {
    PutFileBytes(Path("w.lws"), "[Other]\r\nkeep=no\r\n[Workspace]\r\nStation9=9\r\n");
    SaveWorkspace(Defaults(1), Path("w.lws"), m_rs, m_boxes);
    EXPECT_EQ(FileBytes(Path("w.lws")), OneChannelDefaults);
    EXPECT_EQ(EntryCount(), 1u);
    EXPECT_TRUE(m_boxes.shown.empty());
}

class WorkspaceRoundTrip : public WorkspaceFileTest,
                           public ::testing::WithParamInterface<RegionalSettings> {};

TEST_P(WorkspaceRoundTrip, FullWorkspaceComesBackUnchanged) {
    m_rs = GetParam();
    WorkspaceClass ws{24,
                      "  Tank \"north\"",
                      "line\r\nwith = and ;\r\n\r\n" + std::string(600, 'n'),
                      17,
                      76800,
                      ProtocolASCII,
                      1,
                      {},
                      250,
                      -9999.5f};
    for (int i = 1; i <= 24; ++i)
        ws.Items.push_back({i == 24 ? 2147483647 : 100 + i, "Probe " + std::to_string(i) + " [°C]",
                            i % 3 ? "0.0" : "000.0000",
                            // tares come from readings of 7 significant digits
                            *ParseSingle(i == 1 ? "1E-05" : "-" + std::to_string(i) + ".23456",
                                         RegionalSettings::point()),
                            i % 4 ? "" : "READ" + std::to_string(i)});
    EXPECT_EQ(RoundTrip(ws), ws);
    EXPECT_TRUE(m_boxes.shown.empty());

    const std::string sep(1, m_rs.decimalSeparator), bytes = FileBytes(Path("out.lws"));
    for (const std::string& line : {"logDefault=-9999" + sep + "5", std::string("TareValue1=1E-05"),
                                    "TareValue3=-3" + sep + "23456"})
        EXPECT_NE(bytes.find("\r\n" + line + "\r\n"), std::string::npos) << line;
}

INSTANTIATE_TEST_SUITE_P(Locales, WorkspaceRoundTrip,
                         ::testing::Values(RegionalSettings::point(), RegionalSettings::comma()),
                         [](const auto& info) {
                             return info.param.decimalSeparator == '.' ? "Point" : "Comma";
                         });

TEST_F(WorkspaceFileTest, NotesFoldLineBreaksIntoBarsAndEmptyTextsReadAsDefaults) {
    WorkspaceClass ws = Defaults(3);
    ws.Notes = "first\r\nsecond";
    ws.Title.clear();
    ws.Items[2].Caption.clear();
    ws.Items[2].Format.clear();
    WorkspaceClass back = RoundTrip(ws);
    const std::string bytes = FileBytes(Path("out.lws"));
    EXPECT_NE(bytes.find("\r\nTitle=\r\nNotes=first|second\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nCaption3=\r\nFormat3=\r\n"), std::string::npos);
    WorkspaceClass expected = Defaults(3);
    expected.Notes = "first\r\nsecond";
    EXPECT_EQ(back, expected);

    ws.Notes = "typed | bar";
    EXPECT_EQ(RoundTrip(ws).Notes, "typed \r\n bar");
    ws.Notes = "lone\nfeed\rreturn";
    EXPECT_EQ(RoundTrip(ws).Notes, "lone\r\nfeed\r\nreturn");
}

TEST_F(WorkspaceFileTest, ChannelCountsKeepItemsConsistent) {
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=0\r\n"), Defaults(0));
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=-5\r\n"), Defaults(0));
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=\r\n"), Defaults(4));
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=30000\r\n"), Defaults(MaxChannels));
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=2.5\r\n"), Defaults(2));
    WorkspaceClass before;
    before.Channels = 3;
    EXPECT_EQ(LoadText("[Workspace]\r\nChannels=40000\r\n", before), Defaults(3));

    // A count beyond the items held saves what exists; the rest load as defaults.
    WorkspaceClass ws = Defaults(1);
    ws.Channels = 3;
    ws.Items[0].Caption = "only";
    WorkspaceClass expected = Defaults(3);
    expected.Items[0].Caption = "only";
    EXPECT_EQ(RoundTrip(ws), expected);
}

TEST_F(WorkspaceFileTest, UnconvertibleValuesAreSkipped) {
    WorkspaceClass before;
    before.Port = 7;
    before.Baudrate = 9600;
    before.Snap = 1;
    before.LogDefault = 2.5f;
    const WorkspaceClass ws =
        LoadText("[Workspace]\r\nPort=abc\r\nBaudrate=1E+20\r\nSnap=1,5\r\nLogDefault=1E+39\r\n"
                 "Protocol=1.5\r\nStation3=abc\r\nTareValue3=junk\r\nStation4=4294967296\r\n",
                 before);
    WorkspaceClass expected = Defaults(4);
    expected.Port = 7;
    expected.Baudrate = 9600;
    expected.Snap = 1;
    expected.LogDefault = 2.5f;
    expected.Protocol = 2;
    expected.Items[2].Station = 0;
    expected.Items[3].Station = 0;
    EXPECT_EQ(ws, expected);
}

TEST_F(WorkspaceFileTest, NumbersFollowTheRegionalDecimalSeparator) {
    m_rs = RegionalSettings::comma();
    const WorkspaceClass ws =
        LoadText("[workspace]\r\nLOGDEFAULT=-0,25\r\nTareValue1=1.5\r\nlogInterval=99,5\r\n");
    EXPECT_EQ(ws.LogDefault, -0.25f);
    EXPECT_EQ(ws.Items[0].TareValue, 0); // a point is no decimal separator here
    EXPECT_EQ(ws.LogInterval, 100);
}

TEST_F(WorkspaceFileTest, UnreadableFileShowsLoadWarningAndChangesNothing) {
    WorkspaceClass ws = Defaults(1);
    ws.Title = "kept";
    const WorkspaceClass before = ws;
    LoadWorkspace(ws, Path("missing.lws"), m_rs, m_boxes);
    ExpectLastBox(1,
                  "An error occurred while trying to load workspace from " + Path("missing.lws") +
                      "\r\nError: No such file or directory",
                  "Warning", MessageIcon::Exclamation);
    EXPECT_EQ(ws, before);
    LoadWorkspace(ws, m_folder.string(), m_rs, m_boxes);
    ExpectLastBox(2,
                  "An error occurred while trying to load workspace from " + m_folder.string() +
                      "\r\nError: Is a directory",
                  "Warning", MessageIcon::Exclamation);
    EXPECT_EQ(ws, before);
}

TEST_F(WorkspaceFileTest, UsbWorkspaceWithFaultyDriverWarnsAfterLoading) {
    UsbDriverFault = true;
    const WorkspaceClass ws = LoadText("[Workspace]\r\nProtocol=2\r\nChannels=1\r\n");
    EXPECT_EQ(ws.Protocol, ProtocolUSB);
    EXPECT_EQ(ws.Items.size(), 1u);
    ExpectLastBox(1,
                  "The workspace is configured for VexaUSB but there is a problem with the USB "
                  "driver.\r\nTry shutting down this software, unplug and plug back in the USB "
                  "device. Then retry this software.",
                  "USB Driver Issue", MessageIcon::Critical);
    LoadText("[Workspace]\r\nProtocol=1\r\n");
    UsbDriverFault = false;
    LoadText("[Workspace]\r\nProtocol=2\r\n");
    EXPECT_EQ(m_boxes.shown.size(), 1u);
}

TEST_F(WorkspaceFileTest, FailedSaveShowsSaveWarningAndKeepsTheOldFile) {
    WorkspaceClass ws = Defaults(4);
    SaveWorkspace(ws, Path("no/such/folder.lws"), m_rs, m_boxes);
    ExpectLastBox(1,
                  "An error occurred while trying to save workspace to " +
                      Path("no/such/folder.lws") + "\r\nError: No such file or directory",
                  "Warning", MessageIcon::Exclamation);

    PutFileBytes(Path("old.lws"), OneChannelDefaults);
    ws.Notes.assign(MaxIniFileBytes, 'x');
    SaveWorkspace(ws, Path("old.lws"), m_rs, m_boxes);
    ExpectLastBox(2,
                  "An error occurred while trying to save workspace to " + Path("old.lws") +
                      "\r\nError: File too large",
                  "Warning", MessageIcon::Exclamation);
    EXPECT_EQ(FileBytes(Path("old.lws")), OneChannelDefaults);
    EXPECT_EQ(EntryCount(), 1u);
}

} // namespace
