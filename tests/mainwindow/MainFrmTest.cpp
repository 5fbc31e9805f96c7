// The desktop program's controller and its Qt main window offscreen, against
// fake services: the start-up and command logic, and the wiring (commands
// reach the controller and its state reaches the widgets).
#include "gui/MainFrm.h"
#include "controls/LCDModule.h"
#include "controls/TableContainer.h"
#include "gui/QtMessageBoxes.h"
#include "gui/StatisticsFrm.h"
#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"
#include "support/SeamFakes.h"
#include "workspace/IniFile.h"
#include "workspace/WorkspaceFile.h"
#include "workspace/dialogs/WorkSpaceFrm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <deque>
#include <optional>

namespace {

inline WorkspaceClass WorkspaceOf(int channels, const std::string& title = "Untitled") {
    WorkspaceClass ws;
    ws.Title = title;
    ws.Channels = static_cast<int16_t>(channels);
    ws.Port = 1;
    ws.Baudrate = 9600;
    for (int i = 1; i <= channels; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    return ws;
}

// The window over everything around the controller: the services answering dialogs and boxes
// from scripts (an empty dialog answer cancels), a clock that moves step at
// every reading, drivers whose stations all read 1.5, and the program's and
// the user's folders in one temporary folder that removes itself.
struct MainWindow : ScratchTest,
                    RecordingBoxes,
                    FileDialogService,
                    SpecialFolderSource,
                    WorkspaceEditorHost,
                    ShellOpener,
                    SizeSettings,
                    VirtualClock {
    const std::filesystem::path& root = m_folder;
    std::deque<MessageAnswer> answers;
    std::deque<std::string> dialogAnswers;
    bool locked = false;
    std::vector<std::string> opened;
    std::map<std::string, std::string> sizes; // "Size/Width"
    double step = 400;                        // the window's waits end after a few slices

    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override {
        RecordingBoxes::show(text, title, icon, buttons);
        return answers.empty() ? MessageAnswer::Ok : Take(answers);
    }
    FileDialogResult Show(const FileDialogRequest&) override {
        const std::string answer = dialogAnswers.empty() ? "" : Take(dialogAnswers);
        return {!answer.empty(), answer};
    }
    std::string GetSpecialFolder(int number) override {
        return (root / (number == CSIDL_LOCAL_APPDATA ? "appdata" : "documents")).string();
    }
    void EditWorkspace(WorkspaceClass&, bool fixedInstall) override { locked = fixedInstall; }
    void OpenFile(const std::string& path) override { opened.push_back(path); }
    std::optional<std::string> Read(const std::string& s, const std::string& k) override {
        return sizes.count(s + "/" + k) ? std::optional(sizes[s + "/" + k]) : std::nullopt;
    }
    void Write(const std::string& s, const std::string& k, const std::string& v) override {
        sizes[s + "/" + k] = v;
    }
    double MonotonicMs() override { return now += step; }
    template <class T> static T Take(std::deque<T>& queue) {
        T first = queue.front();
        queue.pop_front();
        return first;
    }

    FakeDrivers drivers;
    VirtualClock timerClock;        // the timers are fired by hand
    std::vector<FakeTimer*> timers; // screen, retry, log
    ProgramFacts facts{{"", "Tarnvik"}, "", 1, 2, 3, RegionalSettings::point()};

    void SetUp() override {
        ScratchTest::SetUp();
        facts.location.ApplicationFolder = (root / "app").string();
        for (const char* folder : {"app", "appdata", "documents", "runs"})
            std::filesystem::create_directory(root / folder);
        Write("app/libVexaUSBDrv.so", "ELF");
        for (int station = 1; station <= 30; ++station)
            drivers.values[station] = 1.5f;
    }
    ~MainWindow() override { UsbDriverFault = false; }
    void Write(const std::string& name, const std::string& content) const {
        PutFileBytes((root / name).string(), content);
    }
    std::string Save(const std::string& name, const WorkspaceClass& ws) {
        SaveWorkspace(ws, (root / name).string(), facts.regional, *this);
        return (root / name).string();
    }
    std::string SettingsFile() const { return (root / "appdata/Tarnvik/config.ini").string(); }
    MainFrameServices Services() {
        timers.clear();
        TimerMaker maker = [this](std::function<void()> tick, bool) {
            timers.push_back(new FakeTimer(timerClock));
            timers.back()->onTick = std::move(tick);
            return std::unique_ptr<Timer>(timers.back());
        };
        return {this,    this,    this,    *this, *this, *this,
                drivers, drivers, drivers, *this, facts, maker};
    }
    bool Start(std::optional<MainFrameServices> services = std::nullopt) {
        w.reset();
        w = std::make_unique<MainFrm>(services ? *services : Services());
        return w->Startup();
    }
    MainFrameLogic& Logic() { return w->Logic(); }
    MainWindowState& State() { return Logic().State(); }
    bool On(const char* name) { return w->Menu(name)->isEnabled(); }
    std::string TileValue(int i) { return w->Tile(i)->Value().toStdString(); }
    std::unique_ptr<MainFrm> w; // last: it goes first
};

TEST_F(MainWindow, StartupChoosesTheWorkspaceAndEndsAtOnceWithoutTheUsbDriverFile) {
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
        {[&] { facts.commandLine = Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig")); }, "Rig", 0}};
    for (const auto& [arrange, title, boxes] : cases) {
        std::filesystem::remove_all(root / "appdata/Tarnvik");
        facts.commandLine.clear();
        shown.clear();
        arrange();
        ASSERT_TRUE(Start()) << title;
        EXPECT_EQ(Logic().Workspace().Title, title);
        EXPECT_EQ(w->TileCount(), Logic().Workspace().Channels);
        EXPECT_EQ(shown.size(), boxes) << title;
    }
    // A fixed installation: its own workspace, whatever the command line says.
    facts.commandLine = Save("runs/Other.lws", WorkspaceOf(6, "Other"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(State().FixedInstall);
    EXPECT_EQ(Logic().Workspace().Title, "Rig");
    for (const char* name : {"mnuopen", "mnuSave", "mnublank"})
        EXPECT_FALSE(w->Menu(name)->isVisible()) << name;
    Logic().ConfigureWorkspace();
    EXPECT_TRUE(locked);

    drivers.usbMissing = true;
    ASSERT_TRUE(Start()); // the file is there: the driver's fault is only noted
    EXPECT_TRUE(UsbDriverFault);
    Write("app/libVexaUSBDrv.so", "");
    shown.clear();
    EXPECT_FALSE(Start());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title + "|" + shown[0].text,
              "Critical Error|Cannot find the VexaUSBDrv.DLL. This should be located in the "
              "same folder as this application.");
    EXPECT_FALSE(timers[0]->active);
    EXPECT_EQ(w->Vers()->text(), "v1.2.3"); // and nothing after it
    EXPECT_FALSE(w->isVisible());
}

// The commands on the tiles and menus reach the controller and its state the
// widgets; then set-up, the workspace commands and the close prompt.
TEST_F(MainWindow, CommandsSetUpAndTheClosePrompt) {
    ASSERT_TRUE(Start());
    EXPECT_EQ(timers[0]->interval, 333);
    EXPECT_FALSE(On("mnuStopLog") || On("mnuRetry"));
    EXPECT_EQ(w->windowIcon().availableSizes().size(), 4);
    EXPECT_EQ(w->ImageLogo()->toolTip().toStdString(), std::string("Go to ") + MakerWebSite);
    drivers.codes[2] = -1;
    timers[0]->onTick();
    EXPECT_EQ(TileValue(1) + TileValue(2), "01.500-------");
    EXPECT_EQ(w->Tile(2)->BackColor(), RgbColour(255, 0, 0));
    EXPECT_EQ(w->Tile(2)->toolTip(), "-1 Invalid argument value in function call.");
    EXPECT_TRUE(On("mnuRetry"));
    w->Tile(1)->zeroButton()->click();
    timers[0]->onTick();
    EXPECT_EQ(TileValue(1), "00.000");
    dialogAnswers = {(root / "runs/run.csv").string()};
    w->Menu("mnuStartLog")->trigger();
    EXPECT_TRUE(w->LogLabel()->text().startsWith("Logging at "));
    w->Menu("mnuStopLog")->trigger();
    w->Menu("mnuViewLog")->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{(root / "runs/run.csv").string()});
    dialogAnswers = {Save("runs/Two.lws", WorkspaceOf(2, "Two"))};
    w->Menu("mnuopen")->trigger();
    EXPECT_EQ(w->windowTitle(), "Two - Tarnvik");
    EXPECT_EQ(w->TC()->width(), 2 * w->Tile(1)->width());
    // Dragged sides and corners snap to the tiles, top and bottom do not.
    using R = std::array<std::int32_t, 4>;
    const auto drag = [this](std::int16_t code) {
        R r{100, 100, 700, 400};
        w->Resizing(r[0], r[1], r[2], r[3], code);
        return r;
    };
    const R right = drag(formevents::WMSZ_RIGHT);
    const std::int32_t width = right[2] - 100, height = right[3] - 100;
    EXPECT_EQ(width, 2 * w->Tile(1)->width() + w->frameGeometry().width() - w->TC()->width());
    EXPECT_EQ(drag(formevents::WMSZ_BOTTOMLEFT), (R{700 - width, 100, 700, 100 + height}));
    EXPECT_EQ(drag(formevents::WMSZ_TOPLEFT), (R{700 - width, 400 - height, 700, 400}));
    EXPECT_EQ(drag(formevents::WMSZ_TOPRIGHT), (R{100, 400 - height, 100 + width, 400}));
    EXPECT_EQ(drag(formevents::WMSZ_TOP), (R{100, 100, 700, 400}));
    std::int32_t hit = formevents::HTBOTTOM;
    w->NCHitTest(0, 0, hit);
    EXPECT_EQ(hit, formevents::HTNOWHERE);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->ImageLogo(), &press);
    EXPECT_EQ(opened.back(), MakerWebSite);
    w->Menu("mnuStatistics")->trigger();
    EXPECT_EQ(w->Statistics()->Table()->rowCount(), 2);
    drivers.codes.clear();

    // Windows-1252 text from a workspace written on Windows shows legibly.
    WorkspaceClass ws = WorkspaceOf(30, "Pr\xFC");
    ws.Items[2].Caption = "\xB0";
    ws.Protocol = ProtocolASCII;
    ws.Port = 3;
    drivers.calls.clear();
    Logic().Workspace() = ws;
    Logic().SetupDisplays();
    EXPECT_EQ(w->windowTitle().toStdString(), "Pr\xC3\xBC - Tarnvik");
    EXPECT_EQ(w->Tile(3)->Title().toStdString(), "\xC2\xB0");
    EXPECT_EQ(w->TileCount(), 24);
    EXPECT_EQ(CallLog(drivers.calls.begin(), drivers.calls.begin() + 3),
              (CallLog{"CLOSE", "OPEN 3 9600", "TIMEOUT 1000"}));
    ws.Port = 17;
    drivers.openResult = -1;
    Logic().Workspace() = ws;
    Logic().SetupDisplays();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].title + "|" + shown[0].text,
              "Critical Error|Cannot open COM17!\r\nEither load another workspace or edit the "
              "current workspace and select a valid COM port.");
    EXPECT_EQ(drivers.Count("TIMEOUT 1000"), 2);

    drivers.openResult = 0;
    State().CommsError[1] = true;
    dialogAnswers = {Save("runs/Next.lws", WorkspaceOf(2, "Next"))};
    drivers.calls.clear();
    Logic().OpenWorkspace();
    EXPECT_EQ(w->windowTitle(), "Next - Tarnvik");
    EXPECT_TRUE(State().CommsError[1]);
    // The old driver lets go of its device before the workspace's opens one.
    EXPECT_EQ(drivers.calls[0], "CLOSE");
    Logic().ConfigureWorkspace(); // cancelled
    EXPECT_TRUE(State().WorkspaceChanged);
    EXPECT_TRUE(timers[0]->active);
    dialogAnswers = {(root / "runs/Saved.lws").string()};
    Logic().SaveWorkspace();
    EXPECT_FALSE(State().WorkspaceChanged);
    EXPECT_EQ(ReadIniValue(SettingsFile(), "WorkspaceFiles", "InitFile", ""), "Saved.lws");

    // Yes to the prompt: a cancelled save or one that fails keeps the edits.
    for (const auto& [saveAs, cancelled] : std::vector<std::pair<std::string, bool>>{
             {"", true}, {"none/S.lws", true}, {"runs/S.lws", false}}) {
        ASSERT_TRUE(Start());
        State().WorkspaceChanged = true;
        shown.clear();
        answers = {MessageAnswer::Yes};
        dialogAnswers = {saveAs.empty() ? "" : (root / saveAs).string()};
        EXPECT_EQ(Logic().QueryUnload(), cancelled) << saveAs;
        EXPECT_EQ(State().WorkspaceChanged, cancelled) << saveAs;
        EXPECT_EQ(timers[0]->active, cancelled);
        EXPECT_EQ(shown.at(0).title + "|" + shown[0].text,
                  "Unsaved Workspace|You have made changes to the workspace but have not saved "
                  "those changes!\r\nWould you like to save the workspace now?");
    }
    EXPECT_TRUE(std::filesystem::exists(root / "runs/S.lws"));
}

// The window's own editor, file dialog, message boxes and timers, and the
// close box: asked, then closed with the size saved.
TEST_F(MainWindow, OwnEditorMessageBoxesAndTheCloseBox) {
    MainFrameServices own = Services();
    own.boxes = nullptr;
    own.fileDialogs = nullptr;
    own.editor = nullptr;
    own.timers = {};
    ASSERT_TRUE(Start(own));
    QTimer::singleShot(
        0, [] { qobject_cast<WorkSpaceFrm*>(QApplication::activeModalWidget())->close(); });
    w->Menu("mnuEditWorkspace")->trigger();
    QString text;
    const auto press = [&text](QMessageBox::StandardButton button) {
        QTimer::singleShot(0, [&text, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            text = box->windowTitle() + "|" + box->text();
            box->button(button)->click();
        });
    };
    press(QMessageBox::Cancel);
    EXPECT_FALSE(w->close());
    EXPECT_EQ(text, "Unsaved Workspace|You have made changes to the workspace but have not saved "
                    "those changes!\nWould you like to save the workspace now?");
    press(QMessageBox::No);
    const QSize outer = w->frameGeometry().size();
    const double before = now;
    w->Menu("mnuExit")->trigger();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(sizes, (std::map<std::string, std::string>{
                         {"Size/Width", std::to_string(PixelsToTwips(outer.width()))},
                         {"Size/Height", std::to_string(PixelsToTwips(outer.height()))}}));
    EXPECT_EQ(drivers.calls.back(), "CLOSE");
    // The driver's device settles a second before the program ends (400 ms a reading).
    EXPECT_GE(now - before, 1000);
    EXPECT_LT(now - before, 2000);
    // A notice waits for nobody: the window goes on behind it.
    QtMessageBoxes(nullptr).notify("Cannot write", "Log File", MessageIcon::Critical);
    QMessageBox* notice = nullptr;
    for (QWidget* box : QApplication::topLevelWidgets())
        if (box->isVisible() && box->windowTitle() == "Log File")
            notice = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->windowModality(), Qt::NonModal);
    notice->close();
    // OK on an OK/Cancel box once came back as Cancel.
    press(QMessageBox::Ok);
    EXPECT_EQ(QtMessageBoxes(nullptr).show("Go on?", "Check", MessageIcon::Question,
                                           MessageButtons::OkCancel),
              MessageAnswer::Ok);
}

} // namespace
