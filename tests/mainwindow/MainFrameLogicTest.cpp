#include "FakeMainFrame.h"

#include "workspace/IniFile.h"
#include "workspace/WorkspaceFile.h"

#include <gtest/gtest.h>

namespace {

class MainFrame : public ::testing::Test, protected WindowFakes {
  protected:
    TempFolder app, runs;
    MainWindowState state;
    WorkspaceClass ws;
    FakeClock clock;
    FakeSurface surface{clock};
    DriverCalls drivers;
    FakeBus bus{drivers, "bus"};
    FakeAscii ascii{drivers, "ascii"};
    FakeUsb usb{drivers};
    ProtocolModule protocol{ws, bus, ascii, usb};
    FakeTimer screenTimer, logTimer;
    RegionalSettings rs = RegionalSettings::point();
    std::string commandLine;
    std::string programName = "Tarnvik";
    std::unique_ptr<MainFrameLogic> logic;

    void SetUp() override {
        UsbDriverFault = false;
        app.Write("libVexaUSBDrv.so", "ELF");
    }
    void TearDown() override { UsbDriverFault = false; }

    MainFrameLogic& Make() {
        ProgramFacts facts{{app.path.string(), programName}, commandLine, 1, 2, 3, rs};
        logic = std::make_unique<MainFrameLogic>(
            state, ws,
            MainFrameServices{surface, protocol, usb, screenTimer, logTimer, boxes, clock, special,
                              dialogs, editor, sizes, shell, facts});
        return *logic;
    }
    bool Start() { return Make().Startup(); }

    std::string SaveFile(const TempFolder& folder, const std::string& name,
                         const WorkspaceClass& w) {
        const std::string path = (folder.path / name).string();
        FakeBoxes quiet;
        SaveWorkspace(w, path, rs, quiet);
        return path;
    }
    std::string SettingsFile() const { return (appData.path / "Tarnvik" / "config.ini").string(); }
    std::string DataFolder() const { return (documents.path / "Tarnvik Logs").string(); }
};

// --- start-up: the workspace choice ---

TEST_F(MainFrame, FixedInstallationHidesFileCommandsAndIgnoresTheCommandLine) {
    SaveFile(app, "Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    commandLine = SaveFile(runs, "Other.lws", WorkspaceOf(6, "Other"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(state.FixedInstall);
    EXPECT_EQ(ws.Title, "Rig 1");
    EXPECT_EQ(surface.caption, "Rig 1");
    EXPECT_EQ(surface.tiles.size(), 2u);
    EXPECT_FALSE(surface.visible.at(MenuItem::OpenWorkspace));
    EXPECT_FALSE(surface.visible.at(MenuItem::SaveWorkspace));
    EXPECT_FALSE(surface.visible.at(MenuItem::Separator));
    EXPECT_EQ(surface.visible.count(MenuItem::ConfigureWorkspace), 0u);
}

TEST_F(MainFrame, CommandLineRule) {
    EXPECT_EQ(CommandLineWorkspace("\"/a b/Run.Lws\""), "/a b/Run.Lws");
    EXPECT_EQ(CommandLineWorkspace("/a/run.txt"), "");
    EXPECT_EQ(CommandLineWorkspace(""), "");
    EXPECT_EQ(CommandLineWorkspace("\"\""), "");
    EXPECT_EQ(CommandLineWorkspace(".lws"), ".lws");
}

TEST_F(MainFrame, OtherCommandLineFallsBackToTheLastWorkspaceOfTheSettingsFile) {
    SaveFile(runs, "Last.lws", WorkspaceOf(5, "Last"));
    std::filesystem::create_directories(appData.path / "Tarnvik");
    WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", "Last.lws");
    WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitDir", runs.path.string());
    commandLine = SaveFile(runs, "notes.txt", WorkspaceOf(7, "Not me"));
    ASSERT_TRUE(Start());
    EXPECT_EQ(ws.Title, "Last");
    EXPECT_EQ(surface.tiles.size(), 5u);
}

TEST_F(MainFrame, InitFileWithoutInitDirIsLookedForInTheDataFolder) {
    std::filesystem::create_directories(DataFolder());
    SaveFile(documents, "Tarnvik Logs/Bench.lws", WorkspaceOf(1, "Bench"));
    std::filesystem::create_directories(appData.path / "Tarnvik");
    WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", "Bench.lws");
    ASSERT_TRUE(Start());
    EXPECT_EQ(ws.Title, "Bench");
}

TEST_F(MainFrame, NoLastWorkspaceKeepsTheDefaultWorkspace) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(ws.Channels, 4);
    EXPECT_EQ(surface.tiles.size(), 4u);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(surface.enabled.at(MenuCommand::StartLog));
}

TEST_F(MainFrame, MissingLastWorkspaceIsReportedAndTheDefaultsStay) {
    std::filesystem::create_directories(appData.path / "Tarnvik");
    WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", "Workspace");
    WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitDir", runs.path.string());
    ASSERT_TRUE(Start());
    EXPECT_EQ(boxes.shown.size(), 1u); // the loader's own message
    EXPECT_EQ(ws.Channels, 4);
    EXPECT_EQ(surface.tiles.size(), 4u);
    EXPECT_TRUE(surface.shown);
}

// --- start-up: the USB driver check and the fixed order ---

TEST_F(MainFrame, MissingUsbDriverFileEndsTheProgramAtOnce) {
    std::filesystem::remove(app.path / "libVexaUSBDrv.so");
    drivers.usbMissing = true;
    EXPECT_FALSE(Start());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Cannot find the VexaUSBDrv.DLL. This should be located in "
                                   "the same folder as this application.");
    EXPECT_EQ(boxes.shown[0].title, "Critical Error");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(surface.shown);
    EXPECT_FALSE(screenTimer.active);
    EXPECT_FALSE(std::filesystem::exists(appData.path / "Tarnvik")); // nothing else ran
    EXPECT_FALSE(UsbDriverFault);
}

TEST_F(MainFrame, EmptyUsbDriverFileCountsAsMissing) {
    app.Write("libVexaUSBDrv.so", "");
    drivers.usbMissing = true;
    EXPECT_FALSE(Start());
    EXPECT_TRUE(boxes.Saw("Critical Error"));
}

TEST_F(MainFrame, UnloadableUsbDriverSetsTheFaultAndStartsQuietly) {
    drivers.usbMissing = true;
    ASSERT_TRUE(Start());
    EXPECT_TRUE(UsbDriverFault);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(surface.shown);
}

TEST_F(MainFrame, StartupRunsInItsOrderAndEndsWithTheScreenTimer) {
    app.Write("Tarnvik.gif", "GIF89a");
    app.Write("Tarnvik.jpg", "\xff\xd8");
    ASSERT_TRUE(Start());
    EXPECT_EQ(surface.version, "v1.2.3");
    EXPECT_EQ(surface.logo, (app.path / "Tarnvik.jpg").string()); // the jpg wins
    EXPECT_EQ(surface.logoTooltip, std::string("Go to ") + MakerWebSite);
    EXPECT_TRUE(std::filesystem::is_directory(appData.path / "Tarnvik"));
    EXPECT_TRUE(std::filesystem::is_directory(DataFolder()));
    EXPECT_EQ(logic->Folders().SettingsFile, SettingsFile());
    EXPECT_TRUE(screenTimer.active);
    EXPECT_EQ(screenTimer.interval, 333);

    const auto at = [&](const std::string& what) {
        return std::find(surface.log.begin(), surface.log.end(), what) - surface.log.begin();
    };
    EXPECT_LT(at("icon"), at("remove tiles"));
    EXPECT_LT(at("layout"), at("hooks on"));
    EXPECT_LT(at("hooks on"), at("show"));
    EXPECT_EQ(surface.log.back(), "show");
    EXPECT_FALSE(state.DecimalComma);
}

TEST_F(MainFrame, CommaLocaleSetsDecimalComma) {
    rs = RegionalSettings::comma();
    ASSERT_TRUE(Start());
    EXPECT_TRUE(state.DecimalComma);
    EXPECT_EQ(surface.tiles.at(1).second, "00,000");
}

// --- channel set-up ---

TEST_F(MainFrame, CaptionRule) {
    EXPECT_EQ(WindowCaption("Rig 1", "Logger", false), "Rig 1 - Logger");
    EXPECT_EQ(WindowCaption("Rig 1", "Logger", true), "Rig 1");
    programName = "Logger";
    Make();
    ws = WorkspaceOf(1, "Rig 1");
    logic->SetupDisplays();
    EXPECT_EQ(surface.caption, "Rig 1 - Logger");
    // Windows-1252 text from a workspace written on Windows shows legibly.
    ws = WorkspaceOf(1, "Pr\xFC"
                        "fstand");
    ws.Items[0].Caption = "\xB0"
                          "C";
    logic->SetupDisplays();
    EXPECT_EQ(surface.caption, "Pr\xC3\xBC"
                               "fstand - Logger");
    EXPECT_EQ(surface.tiles.at(1).first, "\xC2\xB0"
                                         "C");
}

TEST_F(MainFrame, ReloadWithFewerAndMoreChannelsRebuildsTheTiles) {
    Make();
    ws = WorkspaceOf(6);
    logic->SetupDisplays();
    EXPECT_EQ(surface.tiles.size(), 6u);
    ws = WorkspaceOf(2);
    logic->SetupDisplays();
    EXPECT_EQ(surface.tiles.size(), 2u);
    ws = WorkspaceOf(3, "T", "0.0");
    ws.Items[2].Caption = "Pressure";
    logic->SetupDisplays();
    ASSERT_EQ(surface.tiles.size(), 3u);
    EXPECT_EQ(surface.tiles.at(3).first, "Pressure");
    EXPECT_EQ(surface.tiles.at(3).second, "0.0");
    EXPECT_TRUE(surface.enabled.at(MenuCommand::StartLog));
}

TEST_F(MainFrame, ChannelCountBeyondTheItemsOrTheTilesStaysSafe) {
    Make();
    ws = WorkspaceOf(30);
    logic->SetupDisplays();
    EXPECT_EQ(surface.tiles.size(), 24u);
    ws = WorkspaceOf(2);
    ws.Channels = 3; // an item short
    logic->SetupDisplays();
    EXPECT_EQ(surface.tiles.at(3).first, "Channel 3");
    ws.Channels = -1;
    logic->SetupDisplays();
    EXPECT_TRUE(surface.tiles.empty());
    EXPECT_FALSE(surface.enabled.at(MenuCommand::StartLog));
}

TEST_F(MainFrame, PortThatCannotOpenIsReportedAndTheTilesAreStillBuilt) {
    Make();
    ws = WorkspaceOf(2);
    ws.Port = 17;
    drivers.openResult = -1;
    logic->SetupDisplays();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Cannot open COM17!\r\nEither load another workspace or edit "
                                   "the current workspace and select a valid COM port.");
    EXPECT_EQ(boxes.shown[0].title, "Critical Error");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(surface.tiles.size(), 2u);
    EXPECT_TRUE(drivers.Has("bus timeout 1000"));
}

TEST_F(MainFrame, PortIsReopenedUnderTheWorkspaceProtocolWithTheReplyTimeout) {
    Make();
    ws = WorkspaceOf(1);
    ws.Protocol = ProtocolASCII;
    ws.Port = 3;
    ws.Baudrate = 19200;
    logic->SetupDisplays();
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"ascii close", "ascii open 3 19200",
                                                       "ascii timeout 1000"}));
}

TEST_F(MainFrame, UsbFaultSkipsThePortWithoutAMessage) {
    Make();
    ws = WorkspaceOf(1);
    ws.Protocol = ProtocolUSB;
    UsbDriverFault = true;
    drivers.openResult = -1;
    logic->SetupDisplays();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(drivers.calls.empty());
}

TEST_F(MainFrame, WindowIsFittedAroundTheTiles) {
    Make();
    ws = WorkspaceOf(4);
    surface.outer = {9000, 6000};
    surface.frame = {121, 1500}; // inner 8879 x 4500
    logic->SetupDisplays();
    EXPECT_EQ(state.BorderWidth, 60); // 60.5 rounds to even
    EXPECT_EQ(state.CaptionHeight, 1500 - 120 - 300);
    // First the saved size (defaults), then the tiles' size: 16000 wide fits 3 per row.
    const auto first = std::find(surface.log.begin(), surface.log.end(), "size 16000x4000");
    ASSERT_NE(first, surface.log.end());
    EXPECT_EQ(surface.container, (TwipSize{3 * 4050, 2 * 1290 + 920}));
    EXPECT_EQ(surface.outer, (TwipSize{3 * 4050 + 120, 2 * 1290 + 920 + 1080 + 120}));
}

TEST_F(MainFrame, SavedSizeIsUsedAndNonsenseIsIgnored) {
    Make();
    ws = WorkspaceOf(1);
    sizes.values[{"Size", "Width"}] = "9000";
    sizes.values[{"Size", "Height"}] = "5000";
    logic->SetupDisplays();
    EXPECT_NE(std::find(surface.log.begin(), surface.log.end(), "size 9000x5000"),
              surface.log.end());
    sizes.values[{"Size", "Width"}] = "wide";
    sizes.values[{"Size", "Height"}] = "-3";
    surface.log.clear();
    logic->SetupDisplays();
    EXPECT_NE(std::find(surface.log.begin(), surface.log.end(), "size 16000x4000"),
              surface.log.end());
}

// --- closing ---

class Closing : public MainFrame {
  protected:
    void SetUp() override {
        MainFrame::SetUp();
        ASSERT_TRUE(Start());
        state.WorkspaceChanged = true;
        boxes.shown.clear();
    }
};

TEST_F(Closing, UnchangedWorkspaceClosesWithoutAsking) {
    state.WorkspaceChanged = false;
    EXPECT_FALSE(logic->QueryUnload());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(state.Closing);
    EXPECT_FALSE(screenTimer.active);
    EXPECT_GE(logTimer.stops, 1);
    EXPECT_TRUE(surface.busy);
}

TEST_F(Closing, CancelKeepsEverythingRunning) {
    boxes.answers = {MessageAnswer::Cancel};
    EXPECT_TRUE(logic->QueryUnload());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "You have made changes to the workspace but have not saved those changes!\r\n"
              "Would you like to save the workspace now?");
    EXPECT_EQ(boxes.shown[0].title, "Unsaved Workspace");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::YesNoCancel);
    EXPECT_FALSE(state.Closing);
    EXPECT_TRUE(screenTimer.active);
    EXPECT_TRUE(state.WorkspaceChanged);
}

TEST_F(Closing, NoClosesWithoutSaving) {
    boxes.answers = {MessageAnswer::No};
    EXPECT_FALSE(logic->QueryUnload());
    EXPECT_TRUE(state.Closing);
    EXPECT_TRUE(dialogs.requests.empty());
}

TEST_F(Closing, YesWithACancelledSaveAsKeepsTheProgramOpen) {
    boxes.answers = {MessageAnswer::Yes};
    dialogs.answers = {""};
    EXPECT_TRUE(logic->QueryUnload());
    ASSERT_EQ(dialogs.requests.size(), 1u);
    EXPECT_TRUE(dialogs.requests[0].Save);
    EXPECT_FALSE(state.Closing);
    EXPECT_TRUE(screenTimer.active);
    EXPECT_TRUE(state.WorkspaceChanged);
}

TEST_F(Closing, YesSavesAndCloses) {
    boxes.answers = {MessageAnswer::Yes};
    const std::string path = (runs.path / "Saved.lws").string();
    dialogs.answers = {path};
    EXPECT_FALSE(logic->QueryUnload());
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_FALSE(state.WorkspaceChanged);
    EXPECT_TRUE(state.Closing);
}

TEST_F(Closing, YesWithASaveThatFailsKeepsTheProgramOpenAndTheEdits) {
    boxes.answers = {MessageAnswer::Yes};
    dialogs.answers = {(runs.path / "no such folder" / "Saved.lws").string()};
    EXPECT_TRUE(logic->QueryUnload());
    EXPECT_TRUE(state.WorkspaceChanged);
    EXPECT_FALSE(state.Closing);
}

TEST_F(Closing, UnloadSavesTheSizeClosesThePortAndWaitsOneSecond) {
    ASSERT_FALSE((state.WorkspaceChanged = false, logic->QueryUnload()));
    surface.outer = {12345, 6789};
    drivers.calls.clear();
    const double before = clock.now;
    logic->Unload();
    EXPECT_EQ(sizes.values.at({"Size", "Width"}), "12345");
    EXPECT_EQ(sizes.values.at({"Size", "Height"}), "6789");
    EXPECT_EQ(drivers.calls, std::vector<std::string>{"bus close"});
    EXPECT_FALSE(surface.inputEnabled);
    EXPECT_GE(clock.now - before, 1000);
    EXPECT_LT(clock.now - before, 1300);
    EXPECT_FALSE(surface.busy);
    EXPECT_NE(std::find(surface.log.begin(), surface.log.end(), "hooks off"), surface.log.end());
}

TEST_F(Closing, UnloadWhileMinimisedKeepsTheSavedSize) {
    sizes.values[{"Size", "Width"}] = "9000";
    surface.minimised = true;
    logic->Unload();
    EXPECT_EQ(sizes.values.at({"Size", "Width"}), "9000");
    EXPECT_EQ(sizes.values.count({"Size", "Height"}), 0u);
}

// --- the workspace commands ---

class Commands : public MainFrame {
  protected:
    void SetUp() override {
        MainFrame::SetUp();
        ASSERT_TRUE(Start());
        boxes.shown.clear();
        drivers.calls.clear();
        screenTimer.starts = screenTimer.stops = 0;
    }
};

TEST_F(Commands, OpenCancelledChangesNothingButRestartsTheTimer) {
    state.WorkspaceChanged = true;
    dialogs.answers = {""};
    logic->OpenWorkspace();
    EXPECT_EQ(screenTimer.stops, 1);
    EXPECT_TRUE(screenTimer.active);
    EXPECT_TRUE(state.WorkspaceChanged);
    EXPECT_TRUE(drivers.calls.empty());
    EXPECT_EQ(surface.tiles.size(), 4u);
}

TEST_F(Commands, OpenLoadsRebuildsUnderAFreezeAndKeepsErrorMarks) {
    ws.Protocol = ProtocolVeldaBus;
    WorkspaceClass next = WorkspaceOf(2, "Next");
    next.Protocol = ProtocolASCII;
    dialogs.answers = {SaveFile(runs, "Next.lws", next)};
    state.WorkspaceChanged = true;
    state.CommsError[1] = true;
    surface.freezes = surface.releases = 0;
    logic->OpenWorkspace();
    EXPECT_EQ(ws.Title, "Next");
    EXPECT_FALSE(state.WorkspaceChanged);
    EXPECT_TRUE(state.CommsError[1]);
    EXPECT_EQ(surface.tiles.size(), 2u);
    EXPECT_EQ(surface.freezes, 1);
    EXPECT_GE(surface.releases, 1);
    EXPECT_TRUE(screenTimer.active);
    // The bus driver lets go of its device before the ASCII driver opens one.
    ASSERT_GE(drivers.calls.size(), 2u);
    EXPECT_EQ(drivers.calls[0], "bus close");
    EXPECT_TRUE(drivers.Has("ascii open 1 9600"));
}

TEST_F(Commands, OpenWhileMinimisedDoesNotFreeze) {
    dialogs.answers = {SaveFile(runs, "Next.lws", WorkspaceOf(1))};
    surface.minimised = true;
    surface.freezes = 0;
    logic->OpenWorkspace();
    EXPECT_EQ(surface.freezes, 0);
    EXPECT_EQ(surface.tiles.size(), 1u);
}

TEST_F(Commands, SaveClearsTheChangeMarkOnlyWhenSaved) {
    state.WorkspaceChanged = true;
    dialogs.answers = {""};
    logic->SaveWorkspace();
    EXPECT_TRUE(state.WorkspaceChanged);
    const std::string path = (runs.path / "Saved.lws").string();
    dialogs.answers = {path};
    logic->SaveWorkspace();
    EXPECT_FALSE(state.WorkspaceChanged);
    EXPECT_EQ(ReadIniValue(logic->Folders().SettingsFile, "WorkspaceFiles", "InitFile", ""),
              "Saved.lws");
    EXPECT_EQ(screenTimer.stops, 0); // acquisition keeps running
}

TEST_F(Commands, ConfigureMarksTheWorkspaceChangedEvenWhenCancelled) {
    logic->ConfigureWorkspace();
    EXPECT_EQ(editor.shown, 1);
    EXPECT_FALSE(editor.locked);
    EXPECT_TRUE(state.WorkspaceChanged);
    EXPECT_EQ(screenTimer.stops, 1);
    EXPECT_TRUE(screenTimer.active);
    EXPECT_TRUE(drivers.HasPrefix("bus open "));
}

TEST_F(Commands, ConfigureAppliesTheEditedChannels) {
    editor.edit = [](WorkspaceClass& w) { w = WorkspaceOf(6, "Edited"); };
    logic->ConfigureWorkspace();
    EXPECT_EQ(surface.tiles.size(), 6u);
    EXPECT_EQ(surface.caption, "Edited - Tarnvik");
}

TEST_F(Commands, LogoOpensTheMakersSite) {
    logic->LogoClicked();
    EXPECT_EQ(shell.opened, std::vector<std::string>{MakerWebSite});
}

class FixedCommands : public MainFrame {};

TEST_F(FixedCommands, ConfigureLocksFiveFields) {
    SaveFile(app, "Tarnvik.lws", WorkspaceOf(2, "Rig"));
    ASSERT_TRUE(Start());
    logic->ConfigureWorkspace();
    EXPECT_TRUE(editor.locked);
    EXPECT_EQ(surface.caption, "Rig");
}

// --- geometry ---

TEST(MainFrameGeometry, TopAndBottomEdgesAreNotSizingHandles) {
    EXPECT_EQ(MainFrameLogic::HitTest(12), 0);
    EXPECT_EQ(MainFrameLogic::HitTest(15), 0);
    for (int code : {1, 2, 10, 11, 13, 14, 16, 17})
        EXPECT_EQ(MainFrameLogic::HitTest(code), code);
}

class Sizing : public MainFrame {
  protected:
    void SetUp() override {
        MainFrame::SetUp();
        Make();
        ws = WorkspaceOf(6);
        logic->SetupDisplays();
        state.BorderWidth = 60;
        state.CaptionHeight = 600;
    }
    // Proposed rectangle 100,100 - 100+w,100+h (pixels).
    std::array<int32_t, 4> Drag(int16_t code, int32_t w = 600, int32_t h = 300) {
        int32_t x1 = 100, y1 = 100, x2 = 100 + w, y2 = 100 + h;
        logic->Resizing(x1, y1, x2, y2, code);
        return {x1, y1, x2, y2};
    }
};

TEST_F(Sizing, SidesAndCornersSnapToTheTiles) {
    // 600 px = 9000 twips holds two 4050 tiles: 8100 wide, three rows.
    const int32_t w = TwipsToPixels((8100 + 120));
    const int32_t h = TwipsToPixels((3 * 1290 + 920 + 600 + 120));
    EXPECT_EQ(Drag(2), (std::array<int32_t, 4>{100, 100, 100 + w, 100 + h}));
    EXPECT_EQ(Drag(8), (std::array<int32_t, 4>{100, 100, 100 + w, 100 + h}));
    EXPECT_EQ(Drag(1), (std::array<int32_t, 4>{700 - w, 100, 700, 100 + h}));
    EXPECT_EQ(Drag(7), (std::array<int32_t, 4>{700 - w, 100, 700, 100 + h}));
    EXPECT_EQ(Drag(4), (std::array<int32_t, 4>{700 - w, 400 - h, 700, 400}));
    EXPECT_EQ(Drag(5), (std::array<int32_t, 4>{100, 400 - h, 100 + w, 400}));
    EXPECT_EQ(surface.container.width, 8100);
}

TEST_F(Sizing, TopBottomAndUnknownCodesOnlyMoveTheContainer) {
    for (int16_t code : {3, 6, 0, 9}) {
        EXPECT_EQ(Drag(code), (std::array<int32_t, 4>{100, 100, 700, 400})) << code;
    }
    EXPECT_GE(surface.freezes, 4);
}

TEST_F(Sizing, ResizeFillsTheInnerAreaAndReleasesTheFreeze) {
    surface.outer = {20000 + 120, 5000};
    surface.releases = 0;
    logic->FormResize();
    EXPECT_EQ(surface.container.width, 4 * 4050);
    EXPECT_EQ(surface.releases, 1);
}

} // namespace
