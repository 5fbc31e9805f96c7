#include "workspace/WorkspaceFile.h"

#include "base/Channels.h"
#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"
#include "workspace/IniFile.h"

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
    RegionalSettings m_rs = RegionalSettings::point();
    RecordingBoxes m_boxes;
};

// Missing or unconvertible keys give the defaults (or keep what the
// workspace held); the channel count keeps the items consistent; a bar in
// the notes is a line break.
TEST_F(WorkspaceFileTest, LoadTakesWhatConvertsInTheRegionalFormAndKeepsTheRest) {
    WorkspaceClass ws;
    LoadWorkspace(ws, "", m_rs, m_boxes);
    EXPECT_EQ(ws, Defaults(4));
    std::vector<int> counts;
    for (const char* line :
         {"", "Channels=2", "Channels=-5", "Channels=", "Channels=30000", "Channels=2.5"}) {
        const WorkspaceClass loaded = LoadText(std::string("[Workspace]\r\n") + line + "\r\n");
        EXPECT_EQ(loaded, Defaults(loaded.Channels)) << line;
        counts.push_back(loaded.Channels);
    }
    EXPECT_EQ(counts, (std::vector{4, 2, 0, 4, int(MaxChannels), 2}));

    WorkspaceClass before{3, "", "", 7, 9600, 0, 1, {}, 0, 2.5f};
    WorkspaceClass expected{3, "Title Text",      "a\r\n b", 7,   9600, 2,
                            1, Defaults(3).Items, 1000,      2.5f};
    expected.Items[1].Station = 0;
    expected.Items[2].Station = 0;
    EXPECT_EQ(LoadText("[Workspace]\r\nNotes=a| b\r\nPort=abc\r\nBaudrate=1E+20\r\nSnap=1,5\r\n"
                       "LogDefault=1E+39\r\nProtocol=1.5\r\nStation2=abc\r\nTareValue2=junk\r\n"
                       "Station3=4294967296\r\nChannels=40000\r\n",
                       before),
              expected);
    EXPECT_TRUE(m_boxes.shown.empty());
    // A point is no decimal separator under a comma locale.
    m_rs = RegionalSettings::comma();
    const WorkspaceClass comma =
        LoadText("[workspace]\r\nLOGDEFAULT=-0,25\r\nTareValue1=1.5\r\nlogInterval=99,5\r\n");
    EXPECT_EQ(std::make_tuple(comma.LogDefault, comma.Items[0].TareValue, comma.LogInterval),
              std::make_tuple(-0.25f, 0.0f, int32_t(100)));
}

// Over any old content; notes fold their line breaks into bars; numbers in
// the locale's form with 7 significant digits.
TEST_F(WorkspaceFileTest, SavesByteForByte) {
    PutFileBytes(Path("w.lws"), "[Other]\r\nkeep=no\r\n[Workspace]\r\nStation9=9\r\n");
    SaveWorkspace(Defaults(1), Path("w.lws"), m_rs, m_boxes);
    EXPECT_EQ(FileBytes(Path("w.lws")), OneChannelDefaults);
    WorkspaceClass ws = Defaults(1);
    ws.Title.clear();
    ws.Notes = "first\r\nsecond";
    ws.LogDefault = -9999.5f;
    ws.Items[0] = {2147483647, "", "", *ParseSingle("-3.23456", m_rs), "READ"};
    SaveWorkspace(ws, Path("w.lws"), RegionalSettings::comma(), m_boxes);
    EXPECT_EQ(FileBytes(Path("w.lws")),
              "[Workspace]\r\nTitle=\r\nNotes=first|second\r\nPort=1\r\nBaudrate=115200\r\n"
              "Protocol=0\r\nSnap=0\r\nChannels=1\r\nlogInterval=1000\r\nlogDefault=-9999,5\r\n"
              "Station1=2147483647\r\nCaption1=\r\nFormat1=\r\nTareValue1=-3,23456\r\n"
              "Command1=READ\r\n");
    EXPECT_EQ(EntryCount(), 1u);
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(WorkspaceFileTest, UsbWorkspaceWithFaultyDriverWarnsAfterLoading) {
    UsbDriverFault = true;
    const WorkspaceClass ws = LoadText("[Workspace]\r\nProtocol=2\r\nChannels=1\r\n");
    EXPECT_EQ(ws.Protocol, ProtocolUSB);
    EXPECT_EQ(ws.Items.size(), 1u);
    LoadText("[Workspace]\r\nProtocol=1\r\n");
    UsbDriverFault = false;
    LoadText("[Workspace]\r\nProtocol=2\r\n");
    ASSERT_EQ(m_boxes.shown.size(), 1u);
    EXPECT_EQ(m_boxes.shown[0].text,
              "The workspace is configured for VexaUSB but there is a problem with the USB "
              "driver.\r\nTry shutting down this software, unplug and plug back in the USB "
              "device. Then retry this software.");
    EXPECT_EQ(std::tie(m_boxes.shown[0].title, m_boxes.shown[0].icon),
              std::make_tuple("USB Driver Issue", MessageIcon::Critical));
}

// An unreadable file or a failed save shows a warning and changes nothing,
// neither the workspace nor the old file.
TEST_F(WorkspaceFileTest, FailuresShowAWarningAndChangeNothing) {
    WorkspaceClass ws = Defaults(1);
    ws.Title = "kept";
    const WorkspaceClass before = ws;
    LoadWorkspace(ws, Path("missing.lws"), m_rs, m_boxes);
    LoadWorkspace(ws, m_folder.string(), m_rs, m_boxes);
    EXPECT_EQ(ws, before);
    SaveWorkspace(ws, Path("no/such/folder.lws"), m_rs, m_boxes);
    PutFileBytes(Path("old.lws"), OneChannelDefaults);
    ws.Notes.assign(MaxIniFileBytes, 'x');
    SaveWorkspace(ws, Path("old.lws"), m_rs, m_boxes);
    EXPECT_EQ(FileBytes(Path("old.lws")), OneChannelDefaults);
    EXPECT_EQ(EntryCount(), 1u);
    const std::string texts[] = {
        "load workspace from " + Path("missing.lws") + "\r\nError: No such file or directory",
        "load workspace from " + m_folder.string() + "\r\nError: Is a directory",
        "save workspace to " + Path("no/such/folder.lws") + "\r\nError: No such file or directory",
        "save workspace to " + Path("old.lws") + "\r\nError: File too large"};
    ASSERT_EQ(m_boxes.shown.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const ShownBox& box = m_boxes.shown[i];
        EXPECT_EQ(box.text, "An error occurred while trying to " + texts[i]);
        EXPECT_EQ(std::tie(box.title, box.icon, box.buttons),
                  std::make_tuple("Warning", MessageIcon::Exclamation, MessageButtons::Ok));
    }
}

} // namespace
