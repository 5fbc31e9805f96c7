// The Qt main window offscreen, as the controller's view: its commands reach
// the controller and the controller's state reaches its widgets. Then the
// whole program in-process against the instrument simulator: the real
// driver libraries from the build's bin folder, real pseudo terminals.
#include "MainFrm.h"
#include "FakeMainFrame.h"
#include "LCDModule.h"
#include "QtMessageBoxes.h"
#include "StatisticsFrm.h"
#include "TableContainer.h"
#include "VeldaASCIIModule.h"
#include "VeldaBusModule.h"
#include "VexaUSBModule.h"
#include "workspace/dialogs/WorkSpaceFrm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

class MainWindow : public ::testing::Test, protected Rig {
  protected:
    std::unique_ptr<MainFrm> w;

    void SetUp() override { step = 400; } // waits end after a few slices
    MainFrm& Start(MainFrameServices services) {
        w = std::make_unique<MainFrm>(std::move(services));
        EXPECT_TRUE(w->Startup());
        return *w;
    }
    bool On(const char* name) { return w->Menu(name)->isEnabled(); }
    std::string TileValue(int i) { return w->Tile(i)->Value().toStdString(); }
};

TEST_F(MainWindow, WhatStartupShows) {
    Save("app/Tarnvik.lws", WorkspaceOf(2, "Rig 1"));
    Start(Services());
    for (const char* name : {"mnuopen", "mnuSave", "mnublank"}) // a fixed installation
        EXPECT_FALSE(w->Menu(name)->isVisible()) << name;
    EXPECT_TRUE(w->Menu("mnuEditWorkspace")->isVisible() && w->Menu("mnuExit")->isVisible());
    EXPECT_FALSE(On("mnuStopLog") || On("mnuRetry"));
    EXPECT_EQ(w->windowTitle(), "Rig 1");
    EXPECT_EQ(w->Vers()->text(), "v1.2.3");
    EXPECT_EQ(w->windowIcon().availableSizes().size(), 4);
    EXPECT_EQ(w->ImageLogo()->toolTip().toStdString(), std::string("Go to ") + MakerWebSite);
    EXPECT_EQ(w->findChildren<LCDModule*>().size(), 3); // with the hidden template
    std::int32_t x1 = 10, y1 = 10, x2 = 1000, y2 = 500, hit = formevents::HTBOTTOM;
    w->Resizing(x1, y1, x2, y2, formevents::WMSZ_RIGHT);
    EXPECT_EQ(x2, 10 + 2 * w->Tile(1)->width() + w->frameGeometry().width() - w->TC()->width());
    w->NCHitTest(0, 0, hit);
    EXPECT_EQ(hit, formevents::HTNOWHERE);
}

TEST_F(MainWindow, CommandsReachTheControllerAndItsStateTheWidgets) {
    Start(Services());
    drivers.failing = {2};
    timers[0]->tick();
    EXPECT_EQ(TileValue(1), "01.500");
    EXPECT_EQ(TileValue(2), "-------");
    EXPECT_EQ(w->Tile(2)->BackColor(), RgbColour(255, 0, 0));
    EXPECT_EQ(w->Tile(2)->toolTip(), "-1 Invalid argument value in function call.");
    EXPECT_TRUE(On("mnuRetry"));
    w->Tile(1)->zeroButton()->click();
    timers[0]->tick();
    EXPECT_EQ(TileValue(1), "00.000");
    dialogAnswers = {(root / "runs/run.csv").string()};
    w->Menu("mnuStartLog")->trigger();
    EXPECT_TRUE(w->LogLabel()->text().startsWith("Logging at "));
    w->Menu("mnuStopLog")->trigger();
    w->Menu("mnuViewLog")->trigger();
    EXPECT_EQ(opened, std::vector<std::string>{(root / "runs/run.csv").string()});
    dialogAnswers = {Save("runs/Two.lws", WorkspaceOf(2))};
    w->Menu("mnuopen")->trigger();
    EXPECT_EQ(w->TileCount(), 2);
    EXPECT_EQ(w->TC()->width(), 2 * w->Tile(1)->width());
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w->ImageLogo(), &press);
    EXPECT_EQ(opened.back(), MakerWebSite);
    w->Menu("mnuStatistics")->trigger();
    EXPECT_EQ(w->Statistics()->Table()->rowCount(), 2);
}

// The window's own editor, and the close box: asked, then closed with the size saved.
TEST_F(MainWindow, OwnEditorAndTheCloseBox) {
    Start(MainFrameServices{
        this, this, nullptr, *this, *this, *this, bus, ascii, *this, *this, facts, {}});
    QTimer::singleShot(
        0, [] { qobject_cast<WorkSpaceFrm*>(QApplication::activeModalWidget())->close(); });
    w->Menu("mnuEditWorkspace")->trigger();
    answers = {MessageAnswer::Cancel, MessageAnswer::No};
    EXPECT_FALSE(w->close());
    const QSize outer = w->frameGeometry().size();
    w->Menu("mnuExit")->trigger();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(sizes.at("Size/Width"), std::to_string(PixelsToTwips(outer.width())));
    EXPECT_EQ(drivers.calls.back(), "bus close");
}

TEST(QtMessageBoxesTest, ShowsTheTextAndReportsTheButtonPressed) {
    QtMessageBoxes boxes(nullptr);
    for (const auto& [buttons, button, answer] :
         std::vector<std::tuple<MessageButtons, QMessageBox::StandardButton, MessageAnswer>>{
             {MessageButtons::YesNoCancel, QMessageBox::Cancel, MessageAnswer::Cancel},
             {MessageButtons::OkCancel, QMessageBox::Ok, MessageAnswer::Ok}}) {
        QString text;
        QTimer::singleShot(0, [&, button = button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            text = box->windowTitle() + "|" + box->text();
            box->button(button)->click();
        });
        EXPECT_EQ(boxes.show("One\r\nTwo", "Title", MessageIcon::Exclamation, buttons), answer);
        EXPECT_EQ(text, "Title|One\nTwo");
    }
    // A notice waits for nobody: the window goes on behind it.
    boxes.notify("Cannot write", "Log File", MessageIcon::Critical);
    QMessageBox* notice = nullptr;
    for (QWidget* box : QApplication::topLevelWidgets())
        if (box->isVisible() && box->windowTitle() == "Log File")
            notice = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->windowModality(), Qt::NonModal);
    notice->close();
}

// A retry 300 ms after each refresh that shows the error probes the silent
// station briefly: the refresh goes on, and the event loop is never held
// anywhere near the driver's four attempts at the full time-out (4 s).
TEST(MainWindowOnSimulator, WhileARetryProbesASilentStationTheOtherTilesGoOn) {
    const std::string bin = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    Rig f;
    setenv("VEXA_PORTS_DIR", f.root.c_str(), 1);
    // The shell tells its process id, which vexa-sim then takes over.
    FILE* sim = ::popen(("echo $$; exec '" + bin + "/vexa-sim' --ports-dir '" + f.root.string() +
                         "' --usb-dir '" + f.root.string() +
                         "' -e 'port COM7 bus 115200' -e 'station 1 wave=20,5,1' -e 'station 2 "
                         "wave=30,5,1.3' -e 'station 3 value=3 fault=silent'")
                            .c_str(),
                        "r");
    struct Stop {
        FILE* sim;
        pid_t pid = 0;
        ~Stop() {
            if (pid > 0) ::kill(pid, SIGTERM);
            ::pclose(sim);
        }
    } stop{sim};
    char line[256] = "";
    ASSERT_TRUE(std::fgets(line, sizeof line, sim));
    stop.pid = std::atoi(line);
    while (std::strncmp(line, "ready", 5) != 0)
        ASSERT_TRUE(std::fgets(line, sizeof line, sim)) << "vexa-sim did not start";

    WorkspaceClass ws = WorkspaceOf(3);
    ws.Port = 7;
    ws.Baudrate = 115200;
    f.facts = {{bin, "Tarnvik"}, f.Save("runs/Bench.lws", ws), 1, 0, 0, RegionalSettings::point()};
    const auto bus = VeldaBusModule::BindFrom(bin);
    const auto ascii = VeldaASCIIModule::BindFrom(bin);
    const auto usb = VexaUSBModule::BindFrom(bin);
    SystemClock clock;
    MainFrm w(
        MainFrameServices{&f, nullptr, nullptr, f, f, f, *bus, *ascii, *usb, clock, f.facts, {}});
    w.Core().SetAutoRetryMs(300);
    ASSERT_TRUE(w.Startup());
    ASSERT_TRUE(f.shown.empty()) << f.shown[0].text;
    // The station's first failed read costs the full read, once.
    w.Core().ScreenTimer_Timer();
    ASSERT_EQ(w.Tile(3)->Value(), "-------");

    std::set<QString> seen1, seen2;
    double longestBlockMs = 0, lastBeatMs = clock.MonotonicMs();
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longestBlockMs = std::max(longestBlockMs, clock.MonotonicMs() - lastBeatMs);
        lastBeatMs = clock.MonotonicMs();
        seen1.insert(w.Tile(1)->Value());
        seen2.insert(w.Tile(2)->Value());
    });
    beat.start(5);
    QEventLoop loop;
    QTimer::singleShot(3000, &loop, &QEventLoop::quit);
    loop.exec();

    const ChannelFigures& silent = w.Core().Statistics().Of(3);
    EXPECT_GE(silent.probes, 2);
    EXPECT_EQ(silent.probesAnswered, 0);
    EXPECT_EQ(w.Tile(3)->Value(), "-------");
    // About nine refreshes, each a new point of the waves.
    EXPECT_GE(seen1.size(), 3u);
    EXPECT_GE(seen2.size(), 3u);
    // A probe here is four attempts of 20 ms or little more; the bound
    // leaves room for a loaded machine, not for one full time-out.
    EXPECT_LT(longestBlockMs, 600);
}

} // namespace
