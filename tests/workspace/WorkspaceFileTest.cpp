#include "WorkspaceFile.h"

#include "IniFile.h"
#include "MainWindowState.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ShownBox {
    std::string text, title;
    MessageIcon icon;
    MessageButtons buttons;
};

class FakeMessageBoxes : public MessageBoxes {
  public:
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        return MessageAnswer::Ok;
    }
    std::vector<ShownBox> shown;
};

void ExpectSameWorkspace(const WorkspaceClass& a, const WorkspaceClass& b) {
    EXPECT_EQ(a.Channels, b.Channels);
    EXPECT_EQ(a.Title, b.Title);
    EXPECT_EQ(a.Notes, b.Notes);
    EXPECT_EQ(a.Port, b.Port);
    EXPECT_EQ(a.Baudrate, b.Baudrate);
    EXPECT_EQ(a.Protocol, b.Protocol);
    EXPECT_EQ(a.Snap, b.Snap);
    EXPECT_EQ(a.LogInterval, b.LogInterval);
    EXPECT_EQ(a.LogDefault, b.LogDefault);
    ASSERT_EQ(a.Items.size(), b.Items.size());
    for (size_t i = 0; i < a.Items.size(); ++i) {
        SCOPED_TRACE("channel " + std::to_string(i + 1));
        EXPECT_EQ(a.Items[i].Station, b.Items[i].Station);
        EXPECT_EQ(a.Items[i].Caption, b.Items[i].Caption);
        EXPECT_EQ(a.Items[i].Format, b.Items[i].Format);
        EXPECT_EQ(a.Items[i].TareValue, b.Items[i].TareValue);
        EXPECT_EQ(a.Items[i].Command, b.Items[i].Command);
    }
}

void ExpectDefaultChannels(const WorkspaceClass& ws, int count) {
    ASSERT_EQ(ws.Channels, count);
    ASSERT_EQ(ws.Items.size(), static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
        EXPECT_EQ(ws.Items[i - 1].Station, i);
        EXPECT_EQ(ws.Items[i - 1].Caption, "Channel " + std::to_string(i));
        EXPECT_EQ(ws.Items[i - 1].Format, "00.000");
        EXPECT_EQ(ws.Items[i - 1].TareValue, 0);
        EXPECT_EQ(ws.Items[i - 1].Command, "");
    }
}

void ExpectWorkspaceDefaults(const WorkspaceClass& ws) {
    EXPECT_EQ(ws.Title, "Title Text");
    EXPECT_EQ(ws.Notes, "");
    EXPECT_EQ(ws.Port, 1);
    EXPECT_EQ(ws.Baudrate, 115200);
    EXPECT_EQ(ws.Protocol, 0);
    EXPECT_EQ(ws.Snap, 0);
    EXPECT_EQ(ws.LogInterval, 1000);
    EXPECT_EQ(ws.LogDefault, 0);
}

const std::string OneChannelDefaults = "[Workspace]\r\n"
                                       "Title=Title Text\r\n"
                                       "Notes=\r\n"
                                       "Port=1\r\n"
                                       "Baudrate=115200\r\n"
                                       "Protocol=0\r\n"
                                       "Snap=0\r\n"
                                       "Channels=1\r\n"
                                       "logInterval=1000\r\n"
                                       "logDefault=0\r\n"
                                       "Station1=1\r\n"
                                       "Caption1=Channel 1\r\n"
                                       "Format1=00.000\r\n"
                                       "TareValue1=0\r\n"
                                       "Command1=\r\n";

class WorkspaceFileTest : public TempFolder {
  protected:
    void TearDown() override {
        UsbDriverFault = false;
        TempFolder::TearDown();
    }

    WorkspaceClass LoadText(const std::string& text, WorkspaceClass ws = {}) {
        WriteBytes(Path("in.lws"), text);
        LoadWorkspace(ws, Path("in.lws"), m_rs, m_boxes);
        return ws;
    }

    RegionalSettings m_rs = RegionalSettings::point();
    FakeMessageBoxes m_boxes;
};

TEST_F(WorkspaceFileTest, EmptyPathAndKeylessFileLoadEveryDefault) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    ExpectWorkspaceDefaults(ws);
    ExpectDefaultChannels(ws, 4);

    const WorkspaceClass fromFile = LoadText("[Workspace]\r\n");
    ExpectWorkspaceDefaults(fromFile);
    ExpectDefaultChannels(fromFile, 4);
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(WorkspaceFileTest, SavesOneDefaultChannelByteForByteOverAnyOldContent) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    ws.Channels = 1;
    ws.Items.resize(1);
    WriteBytes(Path("w.lws"), "[Other]\r\nkeep=no\r\n[Workspace]\r\nStation9=9\r\n");
    SaveWorkspace(ws, Path("w.lws"), m_rs, m_boxes);
    EXPECT_EQ(ReadBytes(Path("w.lws")), OneChannelDefaults);
    EXPECT_EQ(EntryCount(), 1u);
    EXPECT_TRUE(m_boxes.shown.empty());
}

class WorkspaceRoundTrip : public WorkspaceFileTest,
                           public ::testing::WithParamInterface<RegionalSettings> {};

TEST_P(WorkspaceRoundTrip, FullWorkspaceComesBackUnchanged) {
    m_rs = GetParam();
    WorkspaceClass ws;
    ws.Channels = 24;
    ws.Title = "  Tank farm \"north\"";
    ws.Notes = "first line\r\nsecond; with = signs\r\n\r\n" + std::string(600, 'n');
    ws.Port = 17;
    ws.Baudrate = 76800;
    ws.Protocol = ProtocolASCII;
    ws.Snap = 1;
    ws.LogInterval = 250;
    ws.LogDefault = -9999.5f;
    for (int i = 1; i <= 24; ++i) {
        ItemClass item;
        item.Station = i == 24 ? 2147483647 : 100 + i;
        item.Caption = "Probe " + std::to_string(i) + (i % 2 ? " [°C]" : "");
        item.Format = i % 3 ? "0.0" : "000.0000";
        item.TareValue = i == 1   ? 1e-5f
                         : i == 2 ? 3.402823e38f
                                  : -12.34567f * static_cast<float>(i);
        item.Command = i % 4 ? "" : "READ" + std::to_string(i);
        ws.Items.push_back(item);
    }
    SaveWorkspace(ws, Path("full.lws"), m_rs, m_boxes);

    WorkspaceClass back;
    LoadWorkspace(back, Path("full.lws"), m_rs, m_boxes);
    EXPECT_TRUE(m_boxes.shown.empty());
    ExpectSameWorkspace(back, ws);

    const std::string sep(1, m_rs.decimalSeparator);
    const std::string bytes = ReadBytes(Path("full.lws"));
    EXPECT_NE(bytes.find("\r\nlogDefault=-9999" + sep + "5\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nTareValue1=1E-05\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nTareValue3=-37" + sep + "03701\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Locales, WorkspaceRoundTrip,
                         ::testing::Values(RegionalSettings::point(), RegionalSettings::comma()),
                         [](const auto& info) {
                             return info.param.decimalSeparator == '.' ? "Point" : "Comma";
                         });

TEST_F(WorkspaceFileTest, ReaderFindsTheWriterSpellingOfLogKeys) {
    const WorkspaceClass ws = LoadText("[workspace]\r\nlogInterval=250\r\nLOGDEFAULT=-1.5\r\n");
    EXPECT_EQ(ws.LogInterval, 250);
    EXPECT_EQ(ws.LogDefault, -1.5f);
}

TEST_F(WorkspaceFileTest, NotesFoldLineBreaksIntoBars) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    ws.Notes = "first\r\nsecond";
    SaveWorkspace(ws, Path("n.lws"), m_rs, m_boxes);
    EXPECT_NE(ReadBytes(Path("n.lws")).find("\r\nNotes=first|second\r\n"), std::string::npos);
    WorkspaceClass back;
    LoadWorkspace(back, Path("n.lws"), m_rs, m_boxes);
    EXPECT_EQ(back.Notes, "first\r\nsecond");

    ws.Notes = "typed | bar";
    SaveWorkspace(ws, Path("n.lws"), m_rs, m_boxes);
    LoadWorkspace(back, Path("n.lws"), m_rs, m_boxes);
    EXPECT_EQ(back.Notes, "typed \r\n bar");
}

TEST_F(WorkspaceFileTest, EmptyTextsAreWrittenEmptyAndReadBackAsDefaults) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    ws.Title.clear();
    ws.Items[2].Caption.clear();
    ws.Items[2].Format.clear();
    SaveWorkspace(ws, Path("e.lws"), m_rs, m_boxes);
    const std::string bytes = ReadBytes(Path("e.lws"));
    EXPECT_NE(bytes.find("\r\nTitle=\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("\r\nCaption3=\r\nFormat3=\r\n"), std::string::npos);

    WorkspaceClass back;
    LoadWorkspace(back, Path("e.lws"), m_rs, m_boxes);
    EXPECT_EQ(back.Title, "Title Text");
    EXPECT_EQ(back.Items[2].Caption, "Channel 3");
    EXPECT_EQ(back.Items[2].Format, "00.000");
}

TEST_F(WorkspaceFileTest, ChannelCountsKeepItemsConsistent) {
    WorkspaceClass ws = LoadText("[Workspace]\r\nChannels=0\r\n");
    EXPECT_EQ(ws.Channels, 0);
    EXPECT_TRUE(ws.Items.empty());

    ws = LoadText("[Workspace]\r\nChannels=-5\r\n");
    EXPECT_EQ(ws.Channels, 0);
    EXPECT_TRUE(ws.Items.empty());

    ExpectDefaultChannels(LoadText("[Workspace]\r\nChannels=\r\n"), 4);
    ExpectDefaultChannels(LoadText("[Workspace]\r\nChannels=30000\r\n"), MaxChannels);
    ExpectDefaultChannels(LoadText("[Workspace]\r\nChannels=2.5\r\n"), 2);

    WorkspaceClass before;
    before.Channels = 3;
    ExpectDefaultChannels(LoadText("[Workspace]\r\nChannels=40000\r\n", before), 3);
}

TEST_F(WorkspaceFileTest, OnlyChannelCountGivesDefaultChannelsAndDefaults) {
    const WorkspaceClass ws = LoadText("[Workspace]\r\nChannels=2\r\n");
    ExpectWorkspaceDefaults(ws);
    ExpectDefaultChannels(ws, 2);
}

TEST_F(WorkspaceFileTest, UnconvertibleValuesAreSkipped) {
    WorkspaceClass before;
    before.Port = 7;
    before.Baudrate = 9600;
    before.Snap = 1;
    before.LogDefault = 2.5f;
    const WorkspaceClass ws = LoadText("[Workspace]\r\n"
                                       "Port=abc\r\n"
                                       "Baudrate=1E+20\r\n"
                                       "Snap=1,5\r\n"
                                       "LogDefault=1E+39\r\n"
                                       "Protocol=1.5\r\n"
                                       "Station3=abc\r\n"
                                       "TareValue3=junk\r\n"
                                       "Station4=4294967296\r\n",
                                       before);
    EXPECT_EQ(ws.Port, 7);
    EXPECT_EQ(ws.Baudrate, 9600);
    EXPECT_EQ(ws.Snap, 1);
    EXPECT_EQ(ws.LogDefault, 2.5f);
    EXPECT_EQ(ws.Protocol, 2);
    EXPECT_EQ(ws.Items[2].Station, 0);
    EXPECT_EQ(ws.Items[2].TareValue, 0);
    EXPECT_EQ(ws.Items[2].Caption, "Channel 3");
    EXPECT_EQ(ws.Items[3].Station, 0);
    EXPECT_EQ(ws.Items[1].Station, 2);
}

TEST_F(WorkspaceFileTest, NumbersFollowTheRegionalDecimalSeparator) {
    m_rs = RegionalSettings::comma();
    const WorkspaceClass ws = LoadText("[Workspace]\r\nLogDefault=-0,25\r\nTareValue1=1.5\r\n"
                                       "LogInterval=99,5\r\n");
    EXPECT_EQ(ws.LogDefault, -0.25f);
    EXPECT_EQ(ws.Items[0].TareValue, 0); // a point is no decimal separator here
    EXPECT_EQ(ws.LogInterval, 100);
}

TEST_F(WorkspaceFileTest, MissingOrUnreadableFileShowsLoadWarningAndChangesNothing) {
    WorkspaceClass ws;
    ws.Title = "kept";
    ws.Channels = 1;
    ws.Items.push_back(DefaultChannelItem(1));
    const WorkspaceClass before = ws;

    const std::string missing = Path("missing.lws");
    LoadWorkspace(ws, missing, m_rs, m_boxes);
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_boxes.shown[0].text, "An error occurred while trying to load workspace from " +
                                         missing + "\r\nError: No such file or directory");
    EXPECT_EQ(m_boxes.shown[0].title, "Warning");
    EXPECT_EQ(m_boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(m_boxes.shown[0].buttons, MessageButtons::Ok);
    ExpectSameWorkspace(ws, before);

    LoadWorkspace(ws, m_folder.string(), m_rs, m_boxes);
    ASSERT_EQ(m_boxes.shown.size(), 2u);
    EXPECT_EQ(m_boxes.shown[1].text, "An error occurred while trying to load workspace from " +
                                         m_folder.string() + "\r\nError: Is a directory");
    ExpectSameWorkspace(ws, before);
}

TEST_F(WorkspaceFileTest, UsbWorkspaceWithFaultyDriverWarnsAfterLoading) {
    UsbDriverFault = true;
    WorkspaceClass ws = LoadText("[Workspace]\r\nProtocol=2\r\nChannels=1\r\n");
    EXPECT_EQ(ws.Protocol, ProtocolUSB);
    EXPECT_EQ(ws.Items.size(), 1u);
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_boxes.shown[0].text,
              "The workspace is configured for VexaUSB but there is a problem with the USB "
              "driver.\r\nTry shutting down this software, unplug and plug back in the USB "
              "device. Then retry this software.");
    EXPECT_EQ(m_boxes.shown[0].title, "USB Driver Issue");
    EXPECT_EQ(m_boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(m_boxes.shown[0].buttons, MessageButtons::Ok);

    LoadText("[Workspace]\r\nProtocol=1\r\n");
    EXPECT_EQ(m_boxes.shown.size(), 1u);
    UsbDriverFault = false;
    LoadText("[Workspace]\r\nProtocol=2\r\n");
    EXPECT_EQ(m_boxes.shown.size(), 1u);
}

TEST_F(WorkspaceFileTest, FailedSaveShowsSaveWarningAndKeepsTheOldFile) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    const std::string nowhere = Path("no/such/folder.lws");
    SaveWorkspace(ws, nowhere, m_rs, m_boxes);
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_boxes.shown[0].text, "An error occurred while trying to save workspace to " +
                                         nowhere + "\r\nError: No such file or directory");
    EXPECT_EQ(m_boxes.shown[0].title, "Warning");
    EXPECT_EQ(m_boxes.shown[0].icon, MessageIcon::Exclamation);

    WriteBytes(Path("old.lws"), OneChannelDefaults);
    ws.Notes.assign(MaxIniFileBytes, 'x');
    SaveWorkspace(ws, Path("old.lws"), m_rs, m_boxes);
    ASSERT_EQ(m_boxes.shown.size(), 2u);
    EXPECT_EQ(m_boxes.shown[1].text, "An error occurred while trying to save workspace to " +
                                         Path("old.lws") + "\r\nError: File too large");
    EXPECT_EQ(ReadBytes(Path("old.lws")), OneChannelDefaults);
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(WorkspaceFileTest, CountBeyondTheItemsHeldSavesWhatExists) {
    WorkspaceClass ws;
    ws.Channels = 3;
    ws.Items.push_back(DefaultChannelItem(1));
    ws.Items[0].Caption = "only";
    SaveWorkspace(ws, Path("c.lws"), m_rs, m_boxes);
    WorkspaceClass back;
    LoadWorkspace(back, Path("c.lws"), m_rs, m_boxes);
    ASSERT_EQ(back.Items.size(), 3u);
    EXPECT_EQ(back.Items[0].Caption, "only");
    EXPECT_EQ(back.Items[2].Caption, "Channel 3");
}

TEST_F(WorkspaceFileTest, JunkFilesLoadSafely) {
    std::string junk;
    for (unsigned i = 0; i < 300000; ++i)
        junk += static_cast<char>((i * 7919u) % 251u);
    ExpectDefaultChannels(LoadText(junk + "\n[Workspace]\nChannels=2\n"), 2);
    const WorkspaceClass huge = LoadText("[Workspace]\r\nTitle=" + std::string(1 << 20, 'T'));
    EXPECT_EQ(huge.Title.size(), size_t{1} << 20);
    EXPECT_TRUE(m_boxes.shown.empty());
}

} // namespace
