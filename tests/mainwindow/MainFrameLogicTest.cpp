// The desktop program's controller against a fake view and fake services.
#include "FakeMainFrame.h"

#include "workspace/IniFile.h"

#include <gtest/gtest.h>

namespace {

class Controller : public ::testing::Test, protected Rig {
  protected:
    FakeView view{clock};
    std::unique_ptr<MainFrameLogic> logic;

    MainFrameLogic& Make() {
        timers.clear();
        logic = std::make_unique<MainFrameLogic>(view, Services());
        return *logic;
    }
    bool Start() { return Make().Startup(); }
    WorkspaceClass& Ws() { return logic->Workspace(); }
    MainWindowState& State() { return logic->State(); }
    FakeTimer& ScreenTimer() { return *timers[0]; }
    // Sets up the displays for ws as a load would.
    void Show(const WorkspaceClass& ws) {
        Ws() = ws;
        logic->SetupDisplays();
    }
    bool Logged(const std::string& what) const {
        return std::find(view.log.begin(), view.log.end(), what) != view.log.end();
    }
};

TEST_F(Controller, StartupChoosesTheWorkspace) {
    const auto lastWorkspace = [this](const std::string& dir, const char* file = "Last.lws") {
        std::filesystem::create_directories(root / "appdata/Tarnvik");
        WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", file);
        if (!dir.empty()) WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitDir", dir);
    };
    struct Case {
        const char* what;
        std::function<void()> arrange;
        std::string title;
        size_t tiles, boxes;
    };
    const std::vector<Case> cases = {
        {"defaults", [] {}, "Title Text", 4, 0},
        {"quoted upper-case command line",
         [&] {
             facts.commandLine = "\"" + Save("runs/Line2.LWS", WorkspaceOf(3, "Line 2")) + "\"";
         },
         "Line 2", 3, 0},
        {"fixed installation wins over the command line",
         [&] {
             Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
             facts.commandLine = Save("runs/Other.lws", WorkspaceOf(6, "Other"));
         },
         "Rig 1", 2, 0},
        {"other command line: the last workspace",
         [&] {
             Save("runs/Last.lws", WorkspaceOf(5, "Last"));
             lastWorkspace((root / "runs").string());
             facts.commandLine = Write("runs/notes.txt", "");
         },
         "Last", 5, 0},
        {"last workspace in the data folder",
         [&] {
             std::filesystem::create_directories(root / "documents/Tarnvik Logs");
             Save("documents/Tarnvik Logs/Last.lws", WorkspaceOf(1, "Bench"));
             lastWorkspace("");
         },
         "Bench", 1, 0},
        {"missing last workspace", [&] { lastWorkspace((root / "runs").string(), "Gone.lws"); },
         "Title Text", 4, 1}};
    for (const Case& c : cases) {
        std::filesystem::remove_all(root / "appdata");
        std::filesystem::remove(root / "app/Tarnvik.lws");
        std::filesystem::create_directory(root / "appdata");
        facts.commandLine.clear();
        boxes.shown.clear();
        c.arrange();
        ASSERT_TRUE(Start()) << c.what;
        EXPECT_EQ(Ws().Title, c.title) << c.what;
        EXPECT_EQ(view.tiles.size(), c.tiles) << c.what;
        EXPECT_EQ(boxes.shown.size(), c.boxes) << c.what;
    }
    // The last case's settings file: the logic reads settings from it.
    EXPECT_EQ(logic->Folders().SettingsFile, SettingsFile());
}

TEST_F(Controller, FixedInstallationHidesTheFileCommandsAndLocksTheEditor) {
    Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(State().FixedInstall);
    EXPECT_EQ(view.caption, "Rig 1");
    for (MenuItem item : {MenuItem::OpenWorkspace, MenuItem::SaveWorkspace, MenuItem::Separator})
        EXPECT_FALSE(view.visible.at(item));
    EXPECT_EQ(view.visible.count(MenuItem::ConfigureWorkspace), 0u);
    logic->ConfigureWorkspace();
    EXPECT_TRUE(more.locked);
}

TEST_F(Controller, MissingUsbDriverEndsTheProgramUnlessItsFileIsThere) {
    drivers.usbMissing = true;
    for (const char* content : {"", "ELF"}) {
        Write("app/libVexaUSBDrv.so", content);
        boxes.shown.clear();
        EXPECT_EQ(Start(), *content != '\0') << content;
        EXPECT_EQ(UsbDriverFault, *content != '\0');
    }
    std::filesystem::remove(root / "app/libVexaUSBDrv.so");
    std::filesystem::remove_all(root / "appdata");
    view.log.clear();
    EXPECT_FALSE(Start());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Cannot find the VexaUSBDrv.DLL. This should be located in "
                                   "the same folder as this application.");
    EXPECT_EQ(boxes.shown[0].title, "Critical Error");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Critical);
    EXPECT_FALSE(Logged("show"));
    EXPECT_FALSE(ScreenTimer().active);
    EXPECT_FALSE(std::filesystem::exists(root / "appdata/Tarnvik")); // nothing else ran
}

TEST_F(Controller, StartupRunsInItsOrderAndEndsWithTheScreenTimer) {
    Write("app/Tarnvik.gif", "GIF89a");
    Write("app/Tarnvik.jpg", "\xff\xd8");
    ASSERT_TRUE(Start());
    EXPECT_EQ(view.version, "v1.2.3");
    EXPECT_EQ(view.logo, (root / "app/Tarnvik.jpg").string()); // the jpg wins
    EXPECT_EQ(view.logoTooltip, std::string("Go to ") + MakerWebSite);
    EXPECT_TRUE(std::filesystem::is_directory(root / "documents/Tarnvik Logs"));
    EXPECT_TRUE(ScreenTimer().active);
    EXPECT_EQ(ScreenTimer().interval, 333);
    const auto at = [&](const std::string& what) {
        return std::find(view.log.begin(), view.log.end(), what) - view.log.begin();
    };
    EXPECT_LT(at("icon"), at("remove tiles"));
    EXPECT_LT(at("layout"), at("hooks on"));
    EXPECT_LT(at("hooks on"), at("show"));
    EXPECT_EQ(view.log.back(), "show");
    EXPECT_FALSE(State().DecimalComma);
    facts.regional = RegionalSettings::comma();
    ASSERT_TRUE(Start());
    EXPECT_TRUE(State().DecimalComma);
    EXPECT_EQ(view.tiles.at(1).second, "00,000");
}

TEST_F(Controller, SetUpBuildsTheTilesAndTheCaption) {
    EXPECT_EQ(WindowCaption("Rig 1", "Logger", false), "Rig 1 - Logger");
    EXPECT_EQ(CommandLineWorkspace("/a/run.txt"), "");
    EXPECT_EQ(CommandLineWorkspace("\"\""), "");
    EXPECT_EQ(CommandLineWorkspace(".lws"), ".lws");
    Make();
    // Windows-1252 text from a workspace written on Windows shows legibly.
    WorkspaceClass ws = WorkspaceOf(3,
                                    "Pr\xFC"
                                    "fstand",
                                    "0.0");
    ws.Items[2].Caption = "\xB0"
                          "C";
    Show(ws);
    EXPECT_EQ(view.caption, "Pr\xC3\xBC"
                            "fstand - Tarnvik");
    EXPECT_EQ(view.tiles.at(3), (std::pair<std::string, std::string>{"\xC2\xB0"
                                                                     "C",
                                                                     "0.0"}));
    EXPECT_TRUE(view.enabled.at(MenuCommand::StartLog));
    EXPECT_FALSE(view.enabled.at(MenuCommand::StopLog));
    Show(WorkspaceOf(30));
    EXPECT_EQ(view.tiles.size(), 24u);
    ws = WorkspaceOf(2);
    ws.Channels = 3; // an item short
    Show(ws);
    EXPECT_EQ(view.tiles.at(3).first, "Channel 3");
    ws.Channels = -1;
    Show(ws);
    EXPECT_TRUE(view.tiles.empty());
    EXPECT_FALSE(view.enabled.at(MenuCommand::StartLog));
}

TEST_F(Controller, SetUpOpensThePortWithTheReplyTimeout) {
    Make();
    WorkspaceClass ws = WorkspaceOf(1);
    ws.Protocol = ProtocolASCII;
    ws.Port = 3;
    ws.Baudrate = 19200;
    Show(ws);
    EXPECT_EQ(drivers.calls, (std::vector<std::string>{"ascii close", "ascii open 3 19200",
                                                       "ascii timeout 1000"}));
    EXPECT_TRUE(boxes.shown.empty());

    ws = WorkspaceOf(2);
    ws.Port = 17;
    drivers.openResult = -1;
    Show(ws);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Cannot open COM17!\r\nEither load another workspace or edit "
                                   "the current workspace and select a valid COM port.");
    EXPECT_EQ(boxes.shown[0].title, "Critical Error");
    EXPECT_EQ(view.tiles.size(), 2u);
    EXPECT_TRUE(drivers.Has("bus timeout 1000"));

    // The USB driver could not be loaded: its port is skipped without a word.
    ws.Protocol = ProtocolUSB;
    UsbDriverFault = true;
    boxes.shown.clear();
    Show(ws);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(Controller, WindowIsFittedAroundTheTilesFromTheSavedSize) {
    Make();
    view.outer = {9000, 6000};
    view.frame = {121, 1500}; // inner 8879 x 4500
    Show(WorkspaceOf(4));
    EXPECT_EQ(State().BorderWidth, 60); // 60.5 rounds to even
    EXPECT_EQ(State().CaptionHeight, 1500 - 120 - 300);
    // First the saved size (defaults), then the tiles' size: 16000 wide fits 3 per row.
    EXPECT_TRUE(Logged("size 16000x4000"));
    EXPECT_EQ(view.outer, (TwipSize{3 * 4050 + 120, 2 * 1290 + 920 + 1080 + 120}));
    for (const auto& [width, height, seen] :
         std::vector<std::tuple<const char*, const char*, const char*>>{
             {"9000", "5000", "size 9000x5000"}, {"wide", "-3", "size 16000x4000"}}) {
        more.sizes = {{"Size/Width", width}, {"Size/Height", height}};
        view.log.clear();
        logic->SetupDisplays();
        EXPECT_TRUE(Logged(seen)) << seen;
    }
}

TEST_F(Controller, ClosePrompt) {
    struct Case {
        std::deque<MessageAnswer> answers;
        std::string saveAs; // "" cancels, "-" a folder that does not exist
        bool cancelled, changed;
    };
    const std::vector<Case> cases = {{{MessageAnswer::Cancel}, "", true, true},
                                     {{MessageAnswer::No}, "", false, true},
                                     {{MessageAnswer::Yes}, "", true, true},
                                     {{MessageAnswer::Yes}, "-", true, true},
                                     {{MessageAnswer::Yes}, "Saved.lws", false, false}};
    for (const Case& c : cases) {
        ASSERT_TRUE(Start());
        State().WorkspaceChanged = true;
        view.busy = false;
        boxes.shown.clear();
        boxes.answers = c.answers;
        const std::string path = c.saveAs == "-"    ? (root / "none/Saved.lws").string()
                                 : c.saveAs.empty() ? ""
                                                    : (root / "runs" / c.saveAs).string();
        dialogs.answers = {path};
        EXPECT_EQ(logic->QueryUnload(), c.cancelled) << c.saveAs;
        EXPECT_EQ(State().WorkspaceChanged, c.changed) << c.saveAs;
        EXPECT_EQ(State().Closing, !c.cancelled);
        EXPECT_EQ(ScreenTimer().active, c.cancelled);
        EXPECT_EQ(view.busy, !c.cancelled);
    }
    EXPECT_TRUE(std::filesystem::exists(root / "runs/Saved.lws"));
    ASSERT_GE(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text,
              "You have made changes to the workspace but have not saved those changes!\r\n"
              "Would you like to save the workspace now?");
    EXPECT_EQ(boxes.shown[0].title, "Unsaved Workspace");
    EXPECT_EQ(boxes.shown[0].icon, MessageIcon::Exclamation);
    EXPECT_EQ(boxes.shown[0].buttons, MessageButtons::YesNoCancel);
    boxes.shown.clear();
    ASSERT_FALSE(logic->QueryUnload()); // unchanged: closes without asking
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_GE(timers[2]->stops, 1);
}

TEST_F(Controller, UnloadSavesTheSizeClosesThePortAndWaitsOneSecond) {
    ASSERT_TRUE(Start());
    view.outer = {12345, 6789};
    drivers.calls.clear();
    const double before = clock.now;
    logic->Unload();
    EXPECT_EQ(more.sizes, (std::map<std::string, std::string>{{"Size/Width", "12345"},
                                                              {"Size/Height", "6789"}}));
    EXPECT_EQ(drivers.calls, std::vector<std::string>{"bus close"});
    EXPECT_FALSE(view.inputEnabled);
    EXPECT_GE(clock.now - before, 1000);
    EXPECT_LT(clock.now - before, 1300);
    EXPECT_TRUE(Logged("hooks off"));
    more.sizes.clear();
    view.minimised = true;
    logic->Unload();
    EXPECT_TRUE(more.sizes.empty());
}

TEST_F(Controller, OpenWorkspace) {
    ASSERT_TRUE(Start());
    State().WorkspaceChanged = true;
    drivers.calls.clear();
    dialogs.answers = {""};
    logic->OpenWorkspace();
    EXPECT_TRUE(ScreenTimer().active);
    EXPECT_EQ(ScreenTimer().stops, 1);
    EXPECT_TRUE(State().WorkspaceChanged);
    EXPECT_TRUE(drivers.calls.empty());

    WorkspaceClass next = WorkspaceOf(2, "Next");
    next.Protocol = ProtocolASCII;
    dialogs.answers = {Save("runs/Next.lws", next)};
    State().CommsError[1] = true;
    logic->OpenWorkspace();
    EXPECT_EQ(Ws().Title, "Next");
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_TRUE(State().CommsError[1]);
    EXPECT_EQ(view.tiles.size(), 2u);
    EXPECT_EQ(view.freezes, 1);
    EXPECT_TRUE(ScreenTimer().active);
    // The bus driver lets go of its device before the ASCII driver opens one.
    EXPECT_EQ(drivers.calls[0], "bus close");
    EXPECT_TRUE(drivers.Has("ascii open 1 9600"));

    dialogs.answers = {Save("runs/One.lws", WorkspaceOf(1))};
    view.minimised = true;
    logic->OpenWorkspace();
    EXPECT_EQ(view.freezes, 1); // no freeze while minimised
    EXPECT_EQ(view.tiles.size(), 1u);
}

TEST_F(Controller, SaveConfigureAndTheLogo) {
    ASSERT_TRUE(Start());
    State().WorkspaceChanged = true;
    dialogs.answers = {"", (root / "runs/Saved.lws").string()};
    logic->SaveWorkspace();
    EXPECT_TRUE(State().WorkspaceChanged);
    logic->SaveWorkspace();
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_EQ(ReadIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", ""), "Saved.lws");
    EXPECT_EQ(ScreenTimer().stops, 0); // acquisition keeps running

    drivers.calls.clear();
    logic->ConfigureWorkspace(); // cancelled: still marked changed
    EXPECT_EQ(more.edits, 1);
    EXPECT_FALSE(more.locked);
    EXPECT_TRUE(State().WorkspaceChanged);
    EXPECT_EQ(ScreenTimer().stops, 1);
    EXPECT_TRUE(ScreenTimer().active);
    EXPECT_EQ(drivers.calls[0], "bus close");
    EXPECT_TRUE(drivers.HasPrefix("bus open "));
    more.edit = [](WorkspaceClass& w) { w = WorkspaceOf(6, "Edited"); };
    logic->ConfigureWorkspace();
    EXPECT_EQ(view.tiles.size(), 6u);
    EXPECT_EQ(view.caption, "Edited - Tarnvik");

    logic->LogoClicked();
    EXPECT_EQ(more.opened, std::vector<std::string>{MakerWebSite});
}

class Sizing : public Controller {
  protected:
    void SetUp() override {
        Make();
        Show(WorkspaceOf(6));
        State().BorderWidth = 60;
        State().CaptionHeight = 600;
    }
    // Proposed rectangle 100,100 - 700,400 (pixels).
    std::array<int32_t, 4> Drag(int16_t code) {
        int32_t x1 = 100, y1 = 100, x2 = 700, y2 = 400;
        logic->Resizing(x1, y1, x2, y2, code);
        return {x1, y1, x2, y2};
    }
};

TEST_F(Sizing, SidesAndCornersSnapToTheTilesTopAndBottomDoNot) {
    // 600 px = 9000 twips holds two 4050 tiles: 8100 wide, three rows.
    const int32_t w = TwipsToPixels(8100 + 120);
    const int32_t h = TwipsToPixels(3 * 1290 + 920 + 600 + 120);
    using R = std::array<int32_t, 4>;
    for (const auto& [code, rect] :
         std::vector<std::pair<int16_t, R>>{{2, {100, 100, 100 + w, 100 + h}},
                                            {8, {100, 100, 100 + w, 100 + h}},
                                            {1, {700 - w, 100, 700, 100 + h}},
                                            {7, {700 - w, 100, 700, 100 + h}},
                                            {4, {700 - w, 400 - h, 700, 400}},
                                            {5, {100, 400 - h, 100 + w, 400}},
                                            {3, {100, 100, 700, 400}},
                                            {6, {100, 100, 700, 400}},
                                            {0, {100, 100, 700, 400}},
                                            {9, {100, 100, 700, 400}}}) {
        EXPECT_EQ(Drag(code), rect) << code;
        EXPECT_EQ(view.container.width, 8100);
    }
    for (int code : {1, 2, 10, 11, 13, 14, 16, 17})
        EXPECT_EQ(MainFrameLogic::HitTest(code), code);
    EXPECT_EQ(MainFrameLogic::HitTest(12), 0);
    EXPECT_EQ(MainFrameLogic::HitTest(15), 0);
}

TEST_F(Sizing, ResizeFillsTheInnerAreaAndReleasesTheFreeze) {
    view.outer = {20000 + 120, 5000};
    view.releases = 0;
    logic->FormResize();
    EXPECT_EQ(view.container.width, 4 * 4050);
    EXPECT_EQ(view.releases, 1);
}

} // namespace
