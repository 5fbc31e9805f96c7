// The desktop program's controller against a fake view and fake services.
#include "FakeMainFrame.h"

#include "workspace/IniFile.h"

#include <gtest/gtest.h>

namespace {

class Controller : public ::testing::Test, protected Rig {
  protected:
    FakeView view{now};
    std::unique_ptr<MainFrameLogic> logic;

    bool Start() {
        logic = std::make_unique<MainFrameLogic>(view, Services());
        return logic->Startup();
    }
    MainWindowState& State() { return logic->State(); }
    void Show(const WorkspaceClass& ws) {
        logic->Workspace() = ws;
        logic->SetupDisplays();
    }
    int Seen(const std::string& what) const {
        return static_cast<int>(std::count(view.said.begin(), view.said.end(), what));
    }
};

TEST_F(Controller, StartupChoosesTheWorkspace) {
    const auto last = [this](const char* file, const std::string& dir) {
        std::filesystem::create_directories(root / "appdata/Tarnvik");
        WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", file);
        if (!dir.empty()) WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitDir", dir);
    };
    const std::string runs = (root / "runs").string();
    const std::vector<std::tuple<std::function<void()>, std::string, size_t>> cases = {
        {[] {}, "Title Text", 0},
        {[&] { facts.commandLine = "\"" + Save("runs/L2.LWS", WorkspaceOf(3, "L2")) + "\""; }, "L2",
         0},
        {[&] {
             Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
             facts.commandLine = Save("runs/Other.lws", WorkspaceOf(6, "Other"));
         },
         "Rig 1", 0},
        {[&] {
             Save("runs/Last.lws", WorkspaceOf(5, "Last"));
             last("Last.lws", runs);
         },
         "Last", 0},
        {[&] {
             std::filesystem::create_directories(root / "documents/Tarnvik Logs");
             Save("documents/Tarnvik Logs/B.lws", WorkspaceOf(1, "B"));
             last("B.lws", "");
         },
         "B", 0},
        {[&] { last("Gone.lws", runs); }, "Title Text", 1}};
    for (const auto& [arrange, title, boxes] : cases) {
        std::filesystem::remove_all(root / "appdata/Tarnvik");
        std::filesystem::remove(root / "app/Tarnvik.lws");
        facts.commandLine.clear();
        shown.clear();
        arrange();
        ASSERT_TRUE(Start()) << title;
        EXPECT_EQ(logic->Workspace().Title, title);
        EXPECT_EQ(view.tiles.size(), static_cast<size_t>(logic->Workspace().Channels));
        EXPECT_EQ(shown.size(), boxes) << title;
        EXPECT_EQ(State().FixedInstall, title == "Rig 1");
    }
    Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    view.visible.clear();
    ASSERT_TRUE(Start());
    for (MenuItem item : {MenuItem::OpenWorkspace, MenuItem::SaveWorkspace, MenuItem::Separator})
        EXPECT_FALSE(view.visible.at(item));
    EXPECT_EQ(view.visible.count(MenuItem::ConfigureWorkspace), 0u);
    logic->ConfigureWorkspace();
    EXPECT_TRUE(locked);
}

TEST_F(Controller, StartupEndsAtOnceWithoutTheUsbDriverFile) {
    drivers.usbMissing = true;
    for (const char* content : {"ELF", ""}) {
        Write("app/libVexaUSBDrv.so", content);
        std::filesystem::remove_all(root / "appdata");
        UsbDriverFault = false;
        shown.clear();
        EXPECT_EQ(Start(), *content != '\0') << content;
        EXPECT_EQ(UsbDriverFault, *content != '\0');
    }
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot find the VexaUSBDrv.DLL. This should be located in the same "
                             "folder as this application.");
    EXPECT_EQ(shown[0].title, "Critical Error");
    EXPECT_EQ(shown[0].icon, MessageIcon::Critical);
    EXPECT_EQ(Seen("show"), 1); // of the first start only
    EXPECT_FALSE(timers[0]->active);
    EXPECT_FALSE(std::filesystem::exists(root / "appdata")); // nothing else ran
}

TEST_F(Controller, StartupShowsTheWindowAndStartsTheScreenTimer) {
    facts.regional = RegionalSettings::comma();
    ASSERT_TRUE(Start());
    EXPECT_EQ(view.said, (std::vector<std::string>{"v1.2.3", "Title Text - Tarnvik", "hooks on",
                                                   "show", "Go to " + std::string(MakerWebSite)}));
    EXPECT_TRUE(timers[0]->active);
    EXPECT_EQ(timers[0]->interval, 333);
    EXPECT_TRUE(State().DecimalComma);
    EXPECT_EQ(view.tiles.at(1).second, "00,000");
}

TEST_F(Controller, SetUpBuildsTheTilesAndOpensThePort) {
    ASSERT_TRUE(Start());
    // Windows-1252 text from a workspace written on Windows shows legibly.
    WorkspaceClass ws = WorkspaceOf(3, "Pr\xFC");
    ws.Items[2].Caption = "\xB0";
    ws.Protocol = ProtocolASCII;
    ws.Port = 3;
    drivers.calls.clear();
    Show(ws);
    EXPECT_EQ(view.said.back(), "Pr\xC3\xBC - Tarnvik");
    EXPECT_EQ(view.tiles.at(3), (std::pair<std::string, std::string>{"\xC2\xB0", "00.000"}));
    EXPECT_EQ(drivers.calls,
              (std::vector<std::string>{"ascii close", "ascii open 3 9600", "ascii timeout 1000"}));
    EXPECT_TRUE(view.enabled.at(MenuCommand::StartLog));
    EXPECT_FALSE(view.enabled.at(MenuCommand::StopLog));
    Show(WorkspaceOf(30));
    EXPECT_EQ(view.tiles.size(), 24u);
    ws = WorkspaceOf(2);
    ws.Channels = 3; // an item short
    Show(ws);
    EXPECT_EQ(view.tiles.at(3).first, "Channel 3");
    EXPECT_TRUE(shown.empty());

    ws.Channels = 0;
    ws.Port = 17;
    drivers.openResult = -1;
    Show(ws);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot open COM17!\r\nEither load another workspace or edit the "
                             "current workspace and select a valid COM port.");
    EXPECT_EQ(shown[0].title, "Critical Error");
    EXPECT_TRUE(drivers.Has("bus timeout 1000"));
    EXPECT_FALSE(view.enabled.at(MenuCommand::StartLog));
    ws.Protocol = ProtocolUSB; // could not be loaded: skipped without a word
    UsbDriverFault = true;
    Show(ws);
    EXPECT_EQ(shown.size(), 1u);
}

TEST_F(Controller, WindowIsFittedAroundTheTilesFromTheSavedSize) {
    view.outer = {9000, 6000};
    view.frame = {121, 1500}; // inner 8879 x 4500
    for (const auto& [width, perRow] :
         std::vector<std::pair<const char*, int>>{{"", 3}, {"wide", 3}, {"-3", 3}, {"9000", 2}}) {
        sizes = {{"Size/Width", width}};
        ASSERT_TRUE(Start());
        EXPECT_EQ(State().BorderWidth, 60); // 60.5 rounds to even
        EXPECT_EQ(State().CaptionHeight, 1500 - 120 - 300);
        EXPECT_EQ(view.outer,
                  (TwipSize{perRow * 4050 + 120, (4 + perRow - 1) / perRow * 1290 + 920 + 1200}));
    }
}

TEST_F(Controller, ClosePromptAndUnload) {
    struct Case {
        MessageAnswer answer;
        std::string saveAs; // "" cancels
        bool cancelled, changed;
    };
    for (const Case& c : std::vector<Case>{{MessageAnswer::Cancel, "", true, true},
                                           {MessageAnswer::No, "", false, true},
                                           {MessageAnswer::Yes, "", true, true},
                                           {MessageAnswer::Yes, "none/S.lws", true, true},
                                           {MessageAnswer::Yes, "runs/S.lws", false, false}}) {
        ASSERT_TRUE(Start());
        State().WorkspaceChanged = true;
        view.busy = false;
        shown.clear();
        answers = {c.answer};
        dialogAnswers = {c.saveAs.empty() ? "" : (root / c.saveAs).string()};
        EXPECT_EQ(logic->QueryUnload(), c.cancelled) << c.saveAs;
        EXPECT_EQ(State().WorkspaceChanged, c.changed) << c.saveAs;
        EXPECT_EQ(timers[0]->active, c.cancelled);
        EXPECT_EQ(State().Closing, !c.cancelled);
        EXPECT_EQ(view.busy, !c.cancelled);
        EXPECT_EQ(shown.at(0).text,
                  "You have made changes to the workspace but have not saved those changes!\r\n"
                  "Would you like to save the workspace now?");
        EXPECT_EQ(shown[0].title, "Unsaved Workspace");
        EXPECT_EQ(shown[0].buttons, MessageButtons::YesNoCancel);
    }
    EXPECT_TRUE(std::filesystem::exists(root / "runs/S.lws"));
    EXPECT_FALSE(timers[0]->active);

    view.outer = {12345, 6789};
    drivers.calls.clear();
    const double before = now;
    logic->Unload();
    EXPECT_EQ(sizes, (std::map<std::string, std::string>{{"Size/Width", "12345"},
                                                         {"Size/Height", "6789"}}));
    EXPECT_EQ(drivers.calls, std::vector<std::string>{"bus close"});
    EXPECT_EQ(Seen("input off"), 1);
    EXPECT_GE(now - before, 1000);
    EXPECT_LT(now - before, 1300);
    sizes.clear();
    view.minimised = true;
    logic->Unload();
    EXPECT_TRUE(sizes.empty());
}

TEST_F(Controller, WorkspaceCommandsAndTheLogo) {
    ASSERT_TRUE(Start());
    State().WorkspaceChanged = true;
    State().CommsError[1] = true;
    drivers.calls.clear();
    logic->OpenWorkspace(); // cancelled
    EXPECT_TRUE(drivers.calls.empty());
    EXPECT_TRUE(State().WorkspaceChanged);
    dialogAnswers = {Save("runs/Next.lws", WorkspaceOf(2, "Next"))};
    logic->OpenWorkspace();
    EXPECT_EQ(view.said.back(), "Next - Tarnvik");
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_TRUE(State().CommsError[1]);
    EXPECT_EQ(Seen("freeze"), 1);
    // The old driver lets go of its device before the workspace's opens one.
    EXPECT_EQ(drivers.calls[0], "bus close");
    EXPECT_TRUE(drivers.Has("bus open 1 9600"));
    view.minimised = true; // no freeze while minimised
    edit = [](WorkspaceClass& w) { w = WorkspaceOf(6, "Edited"); };
    logic->ConfigureWorkspace();
    EXPECT_EQ(Seen("freeze"), 1);
    EXPECT_EQ(view.tiles.size(), 6u);
    EXPECT_FALSE(locked);
    EXPECT_TRUE(State().WorkspaceChanged);
    EXPECT_TRUE(timers[0]->active);

    dialogAnswers = {"", (root / "runs/Saved.lws").string()};
    logic->SaveWorkspace();
    EXPECT_TRUE(State().WorkspaceChanged);
    logic->SaveWorkspace();
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_EQ(ReadIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", ""), "Saved.lws");
    logic->LogoClicked();
    EXPECT_EQ(opened, std::vector<std::string>{MakerWebSite});
}

TEST_F(Controller, DraggedSidesAndCornersSnapToTheTilesTopAndBottomDoNot) {
    ASSERT_TRUE(Start());
    Show(WorkspaceOf(6));
    State().BorderWidth = 60;
    State().CaptionHeight = 600;
    // 600 px = 9000 twips holds two 4050 tiles: 8100 wide, three rows.
    const int32_t w = TwipsToPixels(8100 + 120), h = TwipsToPixels(3 * 1290 + 920 + 600 + 120);
    using R = std::array<int32_t, 4>;
    for (const auto& [code, snapped] :
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
        R r = {100, 100, 700, 400};
        logic->Resizing(r[0], r[1], r[2], r[3], code);
        EXPECT_EQ(r, snapped) << code;
        EXPECT_EQ(view.container.width, 8100);
    }
    for (int code : {1, 2, 10, 11, 12, 13, 14, 15, 16, 17})
        EXPECT_EQ(MainFrameLogic::HitTest(code), code == 12 || code == 15 ? 0 : code);
}

} // namespace
