// The Qt main window offscreen, as the controller's view: its commands reach
// the controller and the controller's state reaches its widgets.
#include "MainFrm.h"
#include "FakeMainFrame.h"
#include "LCDModule.h"
#include "QtMessageBoxes.h"
#include "StatisticsFrm.h"
#include "TableContainer.h"
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

// What start-up shows, then the commands on the tiles and menus.
TEST_F(MainWindow, CommandsReachTheControllerAndItsStateTheWidgets) {
    Start(Services());
    EXPECT_FALSE(On("mnuStopLog") || On("mnuRetry"));
    EXPECT_EQ(w->windowTitle(), "Title Text - Tarnvik");
    EXPECT_EQ(w->Vers()->text(), "v1.2.3");
    EXPECT_EQ(w->windowIcon().availableSizes().size(), 4);
    EXPECT_EQ(w->ImageLogo()->toolTip().toStdString(), std::string("Go to ") + MakerWebSite);
    EXPECT_EQ(w->findChildren<LCDModule*>().size(), 5); // with the hidden template
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
}

// The window's own editor, file dialog, message boxes and timers, and the
// close box: asked, then closed with the size saved.
TEST_F(MainWindow, OwnEditorMessageBoxesAndTheCloseBox) {
    Start(MainFrameServices{nullptr,
                            nullptr,
                            nullptr,
                            *this,
                            *this,
                            *this,
                            drivers,
                            drivers,
                            drivers,
                            *this,
                            facts,
                            {}});
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
    w->Menu("mnuExit")->trigger();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(sizes.at("Size/Width"), std::to_string(PixelsToTwips(outer.width())));
    EXPECT_EQ(drivers.calls.back(), "CLOSE");
    // A notice waits for nobody: the window goes on behind it.
    QtMessageBoxes(nullptr).notify("Cannot write", "Log File", MessageIcon::Critical);
    QMessageBox* notice = nullptr;
    for (QWidget* box : QApplication::topLevelWidgets())
        if (box->isVisible() && box->windowTitle() == "Log File")
            notice = qobject_cast<QMessageBox*>(box);
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->windowModality(), Qt::NonModal);
    notice->close();
}

} // namespace
