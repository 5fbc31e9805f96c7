// The Qt main window offscreen, in-process: message boxes, file dialogs and
// the editor answered through their interfaces, drivers faked.
#include "MainFrm.h"
#include "FakeMainFrame.h"
#include "LCDModule.h"
#include "QtMessageBoxes.h"
#include "StatisticsFrm.h"
#include "TableContainer.h"
#include "workspace/dialogs/WorkSpaceFrm.h"

#include "workspace/WorkspaceFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Every reading of the clock is 400 ms later: waits end after a few slices.
struct SteppingClock : FakeClock {
    double MonotonicMs() override { return now += 400; }
};

class MainWindow : public ::testing::Test, protected WindowFakes {
  protected:
    TempFolder app, runs;
    SteppingClock clock;
    DriverCalls drivers;
    FakeBus bus{drivers, "bus"};
    FakeAscii ascii{drivers, "ascii"};
    FakeUsb usb{drivers};
    std::string commandLine;
    std::unique_ptr<MainFrm> w;

    void SetUp() override {
        UsbDriverFault = false;
        app.Write("libVexaUSBDrv.so", "ELF");
    }
    void TearDown() override {
        if (w) {
            w->State().WorkspaceChanged = false;
            w->close();
        }
        w.reset();
        UsbDriverFault = false;
    }
    MainFrm& Make() {
        ProgramFacts facts{{app.path.string(), "Tarnvik"}, commandLine, 1, 0, 0,
                           RegionalSettings::point()};
        w = std::make_unique<MainFrm>(MainFrmServices{&boxes, &dialogs, &editor, sizes, shell,
                                                      special, bus, ascii, usb, clock, facts});
        return *w;
    }
    MainFrm& Start() {
        Make();
        EXPECT_TRUE(w->Startup());
        return *w;
    }
    std::string SaveFile(const TempFolder& folder, const std::string& name,
                         const WorkspaceClass& ws) {
        const std::string path = (folder.path / name).string();
        FakeBoxes quiet;
        SaveWorkspace(ws, path, RegionalSettings::point(), quiet);
        return path;
    }
    bool On(const char* name) { return w->Menu(name)->isEnabled(); }
    std::string TileValue(int i) { return w->Tile(i)->Value().toStdString(); }
};

TEST_F(MainWindow, MenuHasItsCaptionsShortcutsAndInitialStates) {
    Make();
    EXPECT_EQ(w->windowTitle(), "24 Channel Vexa Logger");
    const std::vector<std::tuple<const char*, const char*, const char*, bool>> entries = {
        {"mnuopen", "&Open Workspace", "Ctrl+O", true},
        {"mnuSave", "&Save Workspace", "Ctrl+S", true},
        {"mnuExit", "E&xit", "Ctrl+X", true},
        {"mnuEditWorkspace", "Configure &Workspace", "Ctrl+C", true},
        {"mnuStartLog", "&Start Logging", "Ctrl+L", true},
        {"mnuStopLog", "S&top Logging", "Ctrl+T", false},
        {"mnuViewLog", "&View Last Log", "Ctrl+V", true},
        {"mnuRetry", "&Retry", "Ctrl+R", false},
        {"mnuStatistics", "Statistics\u2026", "", true}};
    for (const auto& [name, caption, shortcut, enabled] : entries) {
        QAction* a = w->Menu(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_EQ(a->text().toStdString(), caption);
        EXPECT_EQ(a->shortcut().toString().toStdString(), shortcut);
        EXPECT_EQ(a->isEnabled(), enabled) << name;
    }
    EXPECT_TRUE(w->Menu("mnublank")->isSeparator());
    QStringList menus;
    for (QAction* a : w->menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&File", "&Edit", "&Logging", "&Communications"}));
    for (const char* part :
         {"TC", "StatusPanel", "LogLabel", "ButtonBar", "Vers", "ImageLogo", "Sizer"})
        EXPECT_NE(w->findChild<QWidget*>(part), nullptr) << part;
}

TEST_F(MainWindow, StartupShowsTheWorkspaceWithVersionIconAndLogoTooltip) {
    Start();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->windowTitle().toStdString(), w->Workspace().Title + " - Tarnvik");
    EXPECT_EQ(w->Vers()->text(), "v1.0.0");
    for (int size : {16, 32, 48, 128})
        EXPECT_EQ(w->windowIcon().pixmap(size).width(), size) << size;
    EXPECT_EQ(w->ImageLogo()->toolTip().toStdString(), std::string("Go to ") + MakerWebSite);
    EXPECT_EQ(w->TileCount(), 4);
    EXPECT_EQ(TileValue(1), "00.000");
    EXPECT_FALSE(w->Tile(0)->isVisible());
    EXPECT_EQ(w->Tile(0)->Digits(), 7);
    EXPECT_EQ(w->Tile(2)->Digits(), 7);
    EXPECT_TRUE(w->ScreenTimerActive());
}

TEST_F(MainWindow, FixedInstallationShowsOnlyExitInTheFileMenu) {
    SaveFile(app, "Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    commandLine = SaveFile(runs, "Other.lws", WorkspaceOf(5));
    Start();
    EXPECT_EQ(w->windowTitle(), "Rig 1");
    EXPECT_FALSE(w->Menu("mnuopen")->isVisible());
    EXPECT_FALSE(w->Menu("mnuSave")->isVisible());
    EXPECT_FALSE(w->Menu("mnublank")->isVisible());
    EXPECT_TRUE(w->Menu("mnuExit")->isVisible());
    EXPECT_TRUE(w->Menu("mnuEditWorkspace")->isVisible());
    EXPECT_EQ(w->TileCount(), 2);
}

TEST_F(MainWindow, QuotedUpperCaseCommandLineIsLoaded) {
    commandLine = "\"" + SaveFile(runs, "Line2.LWS", WorkspaceOf(3, "Line 2")) + "\"";
    Start();
    EXPECT_EQ(w->windowTitle(), "Line 2 - Tarnvik");
    EXPECT_EQ(w->TileCount(), 3);
}

TEST_F(MainWindow, MissingUsbDriverFileEndsStartupWithTheMessage) {
    std::filesystem::remove(app.path / "libVexaUSBDrv.so");
    drivers.usbMissing = true;
    Make();
    EXPECT_FALSE(w->Startup());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].title, "Critical Error");
    EXPECT_FALSE(w->isVisible());
    w.reset();
}

TEST_F(MainWindow, NoChannelsMeansNoTilesAndNoLogging) {
    commandLine = SaveFile(runs, "Empty.lws", WorkspaceOf(0));
    Start();
    EXPECT_EQ(w->TileCount(), 0);
    EXPECT_FALSE(On("mnuStartLog"));
    EXPECT_TRUE(drivers.Has("bus open 1 9600"));
}

TEST_F(MainWindow, OpeningFewerThenMoreChannelsRebuildsTheTiles) {
    Start();
    dialogs.answers = {SaveFile(runs, "Two.lws", WorkspaceOf(2))};
    w->Menu("mnuopen")->trigger();
    EXPECT_EQ(w->TileCount(), 2);
    EXPECT_EQ(w->findChildren<LCDModule*>().size(), 3); // with the template
    WorkspaceClass six = WorkspaceOf(6, "Six", "0.0");
    six.Items[5].Caption = "Flow";
    dialogs.answers = {SaveFile(runs, "Six.lws", six)};
    w->Menu("mnuopen")->trigger();
    ASSERT_EQ(w->TileCount(), 6);
    EXPECT_EQ(w->Tile(6)->Title(), "Flow");
    EXPECT_EQ(TileValue(6), "0.0");
    EXPECT_TRUE(w->ScreenTimerActive());
}

TEST_F(MainWindow, InvalidPortIsReportedAndTheTilesAreStillBuilt) {
    drivers.openResult = -3;
    Start();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text.substr(0, 16), "Cannot open COM1");
    EXPECT_EQ(w->TileCount(), 4);
}

TEST_F(MainWindow, WindowIsFittedAroundTheTilesAndTheContainerFillsIt) {
    sizes.values[{"Size", "Width"}] = "9000"; // two tiles a row
    Start();
    const MainWindowState& s = w->State();
    const QSize tc = w->TC()->size();
    EXPECT_EQ(w->frameGeometry().width(),
              TwipsToPixels(PixelsToTwips(tc.width()) + 2 * s.BorderWidth));
    EXPECT_EQ(tc.width(), 2 * w->Tile(1)->width());
    EXPECT_EQ(w->Tile(3)->y(), w->Tile(1)->height());
    EXPECT_EQ(w->TC()->pos(), QPoint(0, 0));
    EXPECT_EQ(w->StatusPanel()->geometry().bottom(), w->centralWidget()->height() - 1);
    EXPECT_EQ(w->ButtonBar()->geometry().right(), w->StatusPanel()->contentsRect().width() - 1);
    EXPECT_EQ(w->LogLabel()->width(),
              w->centralWidget()->width() - w->LogLabel()->x() - w->ButtonBar()->width());
}

TEST_F(MainWindow, DraggingTheRightBorderSnapsToTheTiles) {
    Start();
    const int tileWidth = w->Tile(1)->width();
    std::int32_t x1 = 10, y1 = 10, x2 = 10 + 3 * tileWidth + 40, y2 = 500;
    w->Resizing(x1, y1, x2, y2, formevents::WMSZ_RIGHT);
    EXPECT_EQ(x2 - x1, TwipsToPixels(PixelsToTwips(3 * tileWidth) + 2 * w->State().BorderWidth));
    QCoreApplication::processEvents();
    EXPECT_TRUE(w->updatesEnabled()); // no resize followed, the freeze is still released
    std::int32_t hit = formevents::HTBOTTOM;
    w->NCHitTest(0, 0, hit);
    EXPECT_EQ(hit, formevents::HTNOWHERE);
}

// --- acquisition as the window shows it ---

TEST_F(MainWindow, ReadingsReachTheTilesAndFailuresShowDashesOnRed) {
    Start();
    w->Core().ScreenTimer_Timer();
    EXPECT_EQ(TileValue(2), "01.500");
    EXPECT_EQ(w->Tile(2)->BackColor(), Sys3DLight);
    drivers.failing = {3};
    w->Menu("mnuRetry")->setEnabled(false);
    w->Core().ScreenTimer_Timer();
    EXPECT_EQ(TileValue(3), "-------");
    EXPECT_EQ(w->Tile(3)->BackColor(), RgbColour(255, 0, 0));
    EXPECT_TRUE(On("mnuRetry"));
    drivers.failing.clear();
    w->Menu("mnuRetry")->trigger();
    EXPECT_FALSE(On("mnuRetry"));
    w->Core().ScreenTimer_Timer();
    EXPECT_EQ(TileValue(3), "01.500");
}

TEST_F(MainWindow, ZeroButtonTaresItsChannel) {
    Start();
    w->Core().ScreenTimer_Timer();
    w->Tile(2)->zeroButton()->click();
    w->Core().ScreenTimer_Timer();
    EXPECT_EQ(TileValue(2), "00.000");
    EXPECT_EQ(TileValue(1), "01.500");
}

TEST_F(MainWindow, MenuEnablingThroughALoggingRun) {
    Start();
    const std::string log = (runs.path / "run.csv").string();
    dialogs.answers = {log};
    w->Menu("mnuStartLog")->trigger();
    ASSERT_FALSE(w->State().LogFileName.empty());
    EXPECT_FALSE(On("mnuStartLog"));
    EXPECT_FALSE(On("mnuEditWorkspace"));
    EXPECT_FALSE(On("mnuViewLog"));
    EXPECT_FALSE(On("mnuopen"));
    EXPECT_TRUE(On("mnuStopLog"));
    EXPECT_TRUE(On("mnuSave"));
    EXPECT_TRUE(On("mnuExit"));
    EXPECT_TRUE(w->LogLabel()->text().startsWith("Logging at "));
    w->Menu("mnuStopLog")->trigger();
    EXPECT_TRUE(On("mnuStartLog"));
    EXPECT_TRUE(On("mnuEditWorkspace"));
    EXPECT_TRUE(On("mnuViewLog"));
    EXPECT_TRUE(On("mnuopen"));
    EXPECT_FALSE(On("mnuStopLog"));
    EXPECT_TRUE(std::filesystem::exists(log));
}

TEST_F(MainWindow, CancelledLogDialogLeavesLoggingOff) {
    Start();
    dialogs.answers = {""};
    w->Menu("mnuStartLog")->trigger();
    EXPECT_TRUE(On("mnuStartLog"));
    EXPECT_FALSE(On("mnuStopLog"));
}

// --- commands and closing ---

TEST_F(MainWindow, CancelledEditorStillMarksTheWorkspaceChanged) {
    Start();
    w->Menu("mnuEditWorkspace")->trigger();
    EXPECT_EQ(editor.shown, 1);
    EXPECT_TRUE(w->State().WorkspaceChanged);
    EXPECT_TRUE(w->ScreenTimerActive());
}

TEST_F(MainWindow, FixedInstallationOpensTheRealEditorWithFiveFieldsLocked) {
    SaveFile(app, "Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    ProgramFacts facts{{app.path.string(), "Tarnvik"}, "", 1, 0, 0, RegionalSettings::point()};
    w = std::make_unique<MainFrm>(MainFrmServices{&boxes, &dialogs, nullptr, sizes, shell, special,
                                                  bus, ascii, usb, clock, facts});
    ASSERT_TRUE(w->Startup());
    std::map<std::string, bool> enabled;
    QTimer::singleShot(0, [&] {
        auto* frm = qobject_cast<WorkSpaceFrm*>(QApplication::activeModalWidget());
        ASSERT_NE(frm, nullptr);
        enabled = {
            {"title", frm->tbTitle->isEnabled()},       {"protocol", frm->cbProtocol->isEnabled()},
            {"channels", frm->cbChannels->isEnabled()}, {"snap", frm->cbSnap->isEnabled()},
            {"command", frm->tbCommand->isEnabled()},   {"caption", frm->tbCaption->isEnabled()}};
        frm->close();
    });
    w->Menu("mnuEditWorkspace")->trigger();
    EXPECT_EQ(enabled, (std::map<std::string, bool>{{"title", false},
                                                    {"protocol", false},
                                                    {"channels", false},
                                                    {"snap", false},
                                                    {"command", false},
                                                    {"caption", true}}));
    EXPECT_TRUE(w->State().WorkspaceChanged);
    EXPECT_EQ(w->windowTitle(), "Rig 1");
}

// Runs the event loop until done() holds or maxMs passed.
bool SpinUntil(const std::function<bool()>& done, int maxMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < maxMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// The failure reason on the tile, the statistics window live with its Reset,
// and the tiles going on behind the write-failure box (real message boxes).
TEST_F(MainWindow, FailureReasonsStatisticsAndTheRefreshBehindTheWriteFailureBox) {
    ProgramFacts facts{{app.path.string(), "Tarnvik"}, "", 1, 0, 0, RegionalSettings::point()};
    w = std::make_unique<MainFrm>(MainFrmServices{nullptr, &dialogs, &editor, sizes, shell, special,
                                                  bus, ascii, usb, clock, facts});
    ASSERT_TRUE(w->Startup());
    drivers.failing = {3};
    w->Core().ScreenTimer_Timer();
    EXPECT_EQ(w->Tile(3)->toolTip(), "-1 Invalid argument value in function call.");
    EXPECT_EQ(w->Tile(2)->toolTip(), "");

    w->Menu("mnuStatistics")->trigger();
    ASSERT_NE(w->Statistics(), nullptr);
    EXPECT_TRUE(w->Statistics()->isVisible());
    EXPECT_FALSE(w->Statistics()->isModal());
    QTableWidget* table = w->Statistics()->Table();
    const auto cell = [&](int row, int column) { return table->item(row, column)->text(); };
    ASSERT_EQ(table->rowCount(), 4);
    EXPECT_EQ(cell(2, 3), "1");
    EXPECT_EQ(cell(2, 4), "1 x -1 Invalid argument value in function call.");
    const QString readsBefore = cell(0, 2);
    EXPECT_TRUE(SpinUntil([&] { return cell(0, 2) != readsBefore; }, 3000)) << "not live";
    w->Statistics()->findChild<QPushButton*>("btnReset")->click();
    EXPECT_EQ(cell(2, 3), "0");
    EXPECT_EQ(cell(2, 4), "");

    // Logging into a file whose disk then fills up.
    const std::string log = (runs.path / "full.csv").string();
    dialogs.answers = {log};
    w->Menu("mnuStartLog")->trigger();
    ASSERT_FALSE(w->State().LogFileName.empty());
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(entry.path(), ec) == log)
            ::dup2(full, std::stoi(entry.path().filename().string()));
    }
    ::close(full);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(SpinUntil(
        [&] {
            for (auto* b : w->findChildren<QMessageBox*>())
                if (b->isVisible() && b->windowTitle() == "Log File") box = b;
            return box != nullptr;
        },
        5000));
    EXPECT_TRUE(box->text().contains("No space left on device"));
    drivers.reading = 2.5f;
    EXPECT_TRUE(SpinUntil([&] { return TileValue(1) == "02.500"; }, 3000)) << "tiles stopped";
    EXPECT_TRUE(box->isVisible());
    EXPECT_TRUE(w->LogLabel()->text().startsWith("Cannot write to "));
    w->Menu("mnuStopLog")->trigger();
}

TEST(QtMessageBoxesTest, ShowsTheTextAndReportsTheButtonPressed) {
    QtMessageBoxes boxes(nullptr);
    const auto press = [](QMessageBox::StandardButton which, QString* text, QString* title) {
        QTimer::singleShot(0, [=] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            *text = box->text();
            *title = box->windowTitle();
            box->button(which)->click();
        });
    };
    QString text, title;
    press(QMessageBox::Cancel, &text, &title);
    EXPECT_EQ(boxes.show("First line\r\nSecond line", "Unsaved Workspace", MessageIcon::Exclamation,
                         MessageButtons::YesNoCancel),
              MessageAnswer::Cancel);
    EXPECT_EQ(text, "First line\nSecond line");
    EXPECT_EQ(title, "Unsaved Workspace");
    press(QMessageBox::Yes, &text, &title);
    EXPECT_EQ(boxes.show("Save?", "T", MessageIcon::Question, MessageButtons::YesNoCancel),
              MessageAnswer::Yes);
    press(QMessageBox::Ok, &text, &title);
    EXPECT_EQ(boxes.show("Cannot open COM3!", "Critical Error", MessageIcon::Critical),
              MessageAnswer::Ok);
}

TEST_F(MainWindow, ClosePromptCancelKeepsTheWindowOpen) {
    Start();
    w->State().WorkspaceChanged = true;
    boxes.answers = {MessageAnswer::Cancel};
    EXPECT_FALSE(w->close());
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->ScreenTimerActive());
    EXPECT_EQ(boxes.shown.back().title, "Unsaved Workspace");
}

TEST_F(MainWindow, ClosePromptYesWithCancelledSaveAsKeepsTheWindowOpen) {
    Start();
    w->State().WorkspaceChanged = true;
    boxes.answers = {MessageAnswer::Yes};
    dialogs.answers = {""};
    w->Menu("mnuExit")->trigger();
    EXPECT_TRUE(w->isVisible());
    EXPECT_FALSE(w->State().Closing);
}

TEST_F(MainWindow, ClosePromptNoClosesAndSavesTheSize) {
    Start();
    w->State().WorkspaceChanged = true;
    boxes.answers = {MessageAnswer::No};
    const QSize outer = w->frameGeometry().size();
    EXPECT_TRUE(w->close());
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(w->State().Closing);
    EXPECT_EQ(sizes.values.at({"Size", "Width"}), std::to_string(PixelsToTwips(outer.width())));
    EXPECT_EQ(sizes.values.at({"Size", "Height"}), std::to_string(PixelsToTwips(outer.height())));
    EXPECT_TRUE(drivers.Has("bus close"));
}

TEST_F(MainWindow, ClosingWhileMinimisedKeepsTheSavedSize) {
    sizes.values[{"Size", "Width"}] = "9000";
    Start();
    w->setWindowState(Qt::WindowMinimized);
    ASSERT_TRUE(w->isMinimized());
    EXPECT_TRUE(w->close());
    EXPECT_EQ(sizes.values.at({"Size", "Width"}), "9000");
    EXPECT_EQ(sizes.values.count({"Size", "Height"}), 0u);
}

TEST_F(MainWindow, LogoClickOpensTheMakersSite) {
    Start();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->ImageLogo(), &press);
    EXPECT_EQ(shell.opened, std::vector<std::string>{MakerWebSite});
}

} // namespace
