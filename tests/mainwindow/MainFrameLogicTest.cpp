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
};

TEST_F(Controller, StartupChoosesTheWorkspaceAndEndsAtOnceWithoutTheUsbDriverFile) {
    const auto last = [this](const char* file, const std::string& dir) {
        std::filesystem::create_directories(root / "appdata/Tarnvik");
        WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", file);
        if (!dir.empty()) WriteIniValue(SettingsFile(), "WorkspaceFiles", "InitDir", dir);
    };
    Save("runs/Last.lws", WorkspaceOf(5, "Last"));
    std::filesystem::create_directories(root / "documents/Tarnvik Logs");
    Save("documents/Tarnvik Logs/B.lws", WorkspaceOf(1, "B"));
    const std::string runs = (root / "runs").string();
    const std::vector<std::tuple<std::function<void()>, std::string, size_t>> cases = {
        {[] {}, "Title Text", 0},
        {[&] { facts.commandLine = "\"" + Save("runs/L2.LWS", WorkspaceOf(3, "L2")) + "\""; }, "L2",
         0},
        {[&] { last("Last.lws", runs); }, "Last", 0},
        {[&] { last("B.lws", ""); }, "B", 0}, // in the data folder
        {[&] { last("Gone.lws", runs); }, "Title Text", 1},
        {[&] { facts.commandLine = Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1")); }, "Rig 1",
         0}};
    for (const auto& [arrange, title, boxes] : cases) {
        std::filesystem::remove_all(root / "appdata/Tarnvik");
        facts.commandLine.clear();
        shown.clear();
        arrange();
        ASSERT_TRUE(Start()) << title;
        EXPECT_EQ(logic->Workspace().Title, title);
        EXPECT_EQ(view.tiles.size(), static_cast<size_t>(logic->Workspace().Channels));
        EXPECT_EQ(shown.size(), boxes) << title;
    }
    // A fixed installation: its own workspace, whatever the command line says.
    facts.commandLine = Save("runs/Other.lws", WorkspaceOf(6, "Other"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(State().FixedInstall);
    EXPECT_EQ(logic->Workspace().Title, "Rig 1");
    for (MenuItem item : {MenuItem::OpenWorkspace, MenuItem::SaveWorkspace, MenuItem::Separator})
        EXPECT_FALSE(view.visible.at(item));
    logic->ConfigureWorkspace();
    EXPECT_TRUE(locked);

    drivers.usbMissing = true;
    ASSERT_TRUE(Start()); // the file is there: the driver's fault is only noted
    EXPECT_TRUE(UsbDriverFault);
    Write("app/libVexaUSBDrv.so", "");
    view.said.clear();
    shown.clear();
    EXPECT_FALSE(Start());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot find the VexaUSBDrv.DLL. This should be located in the same "
                             "folder as this application.");
    EXPECT_EQ(shown[0].title, "Critical Error");
    EXPECT_FALSE(timers[0]->active);
    EXPECT_EQ(view.said, std::vector<std::string>{"v1.2.3"}); // and nothing after it
}

TEST_F(Controller, SetUpBuildsTheTilesAndOpensThePort) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(timers[0]->interval, 333);
    // Windows-1252 text from a workspace written on Windows shows legibly.
    WorkspaceClass ws = WorkspaceOf(30, "Pr\xFC");
    ws.Items[2].Caption = "\xB0";
    ws.Protocol = ProtocolASCII;
    ws.Port = 3;
    drivers.calls.clear();
    Show(ws);
    EXPECT_EQ(view.said.back(), "Pr\xC3\xBC - Tarnvik");
    EXPECT_EQ(view.titles.at(2), "\xC2\xB0");
    EXPECT_EQ(view.tiles.size(), 24u);
    EXPECT_EQ(CallLog(drivers.calls.begin(), drivers.calls.begin() + 3),
              (CallLog{"CLOSE", "OPEN 3 9600", "TIMEOUT 1000"}));
    ws.Port = 17;
    drivers.openResult = -1;
    Show(ws);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "Cannot open COM17!\r\nEither load another workspace or edit the "
                             "current workspace and select a valid COM port.");
    EXPECT_EQ(shown[0].title, "Critical Error");
    EXPECT_EQ(drivers.Count("TIMEOUT 1000"), 2);
}

TEST_F(Controller, WorkspaceCommandsClosePromptAndUnload) {
    ASSERT_TRUE(Start());
    State().CommsError[1] = true;
    dialogAnswers = {Save("runs/Next.lws", WorkspaceOf(2, "Next"))};
    drivers.calls.clear();
    logic->OpenWorkspace();
    EXPECT_EQ(view.said.back(), "Next - Tarnvik");
    EXPECT_TRUE(State().CommsError[1]);
    // The old driver lets go of its device before the workspace's opens one.
    EXPECT_EQ(drivers.calls[0], "CLOSE");
    logic->ConfigureWorkspace(); // cancelled
    EXPECT_TRUE(State().WorkspaceChanged);
    EXPECT_TRUE(timers[0]->active);
    dialogAnswers = {(root / "runs/Saved.lws").string()};
    logic->SaveWorkspace();
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_EQ(ReadIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", ""), "Saved.lws");

    for (const auto& [answer, saveAs, cancelled] :
         std::vector<std::tuple<MessageAnswer, std::string, bool>>{
             {MessageAnswer::Cancel, "", true},
             {MessageAnswer::No, "", false},
             {MessageAnswer::Yes, "", true},
             {MessageAnswer::Yes, "none/S.lws", true}, // a save that fails keeps the edits
             {MessageAnswer::Yes, "runs/S.lws", false}}) {
        ASSERT_TRUE(Start());
        State().WorkspaceChanged = true;
        shown.clear();
        answers = {answer};
        dialogAnswers = {saveAs.empty() ? "" : (root / saveAs).string()};
        EXPECT_EQ(logic->QueryUnload(), cancelled) << saveAs;
        EXPECT_EQ(State().WorkspaceChanged, cancelled || answer == MessageAnswer::No) << saveAs;
        EXPECT_EQ(timers[0]->active, cancelled);
        EXPECT_EQ(shown.at(0).title + "|" + shown[0].text,
                  "Unsaved Workspace|You have made changes to the workspace but have not saved "
                  "those changes!\r\nWould you like to save the workspace now?");
    }
    EXPECT_TRUE(std::filesystem::exists(root / "runs/S.lws"));

    view.outer = {12345, 6789};
    drivers.calls.clear();
    const double before = now;
    logic->Unload();
    EXPECT_EQ(sizes, (std::map<std::string, std::string>{{"Size/Width", "12345"},
                                                         {"Size/Height", "6789"}}));
    EXPECT_EQ(drivers.calls, CallLog{"CLOSE"});
    EXPECT_GE(now - before, 1000);
    EXPECT_LT(now - before, 1300);
}

} // namespace
