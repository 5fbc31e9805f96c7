// The Qt adapter on the offscreen platform: what Qt reports for a widget
// becomes the notifications, and the handlers' answers reach the widget.
#include "window/FormEventsQt.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using namespace formevents;

namespace {

struct Sink : FormEventsSink {
    void NCHitTest(std::int16_t, std::int16_t, std::int32_t& hitCode) override {
        hitCodes.push_back(hitCode);
        if (refuse) hitCode = HTNOWHERE;
    }
    void Resizing(std::int32_t& x1, std::int32_t&, std::int32_t& x2, std::int32_t&,
                  std::int16_t border) override {
        borders.push_back(border);
        if (snapWidth) x2 = x1 + *snapWidth;
    }
    void Move() override { ++moves; }
    void ActivateApp() override { activations.push_back(true); }
    void DeactivateApp() override { activations.push_back(false); }
    void NCActivate(std::int32_t& state) override { frameStates.push_back(state); }
    void GetMinMaxInfo(std::int32_t&, std::int32_t&, std::int32_t&, std::int32_t&,
                       std::int32_t& minTrackX, std::int32_t&, std::int32_t&,
                       std::int32_t&) override {
        ++minMax;
        minTrackX = 250;
    }
    std::vector<std::int32_t> hitCodes;
    std::vector<std::int16_t> borders;
    std::vector<bool> activations;
    std::vector<std::int32_t> frameStates;
    std::optional<int> snapWidth;
    bool refuse = false;
    int moves = 0;
    int minMax = 0;
};

class FormEventsQtTest : public ::testing::Test {
  protected:
    void SetUp() override {
        widget.setGeometry(100, 100, 400, 200);
        formX.emplace(&widget, &sink);
        widget.show();
        QApplication::processEvents();
    }
    void TearDown() override { formX.reset(); }
    QWidget widget;
    Sink sink;
    std::optional<QtFormEvents> formX;
};

} // namespace

TEST_F(FormEventsQtTest, UserResizeSnapsToTheHandlersRectangle) {
    EXPECT_EQ(sink.minMax, 1);
    const QSize margins = widget.frameGeometry().size() - widget.size();
    EXPECT_EQ(widget.minimumWidth() + margins.width(), 250);
    const int left = widget.frameGeometry().x();
    sink.snapWidth = 320;
    widget.resize(500, 200);
    QApplication::processEvents();
    ASSERT_FALSE(sink.borders.empty());
    EXPECT_EQ(sink.borders.front(), WMSZ_RIGHT);
    EXPECT_EQ(sink.hitCodes.front(), HTRIGHT);
    EXPECT_EQ(widget.frameGeometry().width(), 320);
    EXPECT_EQ(widget.frameGeometry().x(), left);
}

// Only a drag by the user is a sizing: the program's own geometry and
// maximising are not.
TEST_F(FormEventsQtTest, ProgramGeometryAndMaximisingRaiseNoSizing) {
    sink.snapWidth = 320;
    {
        QtFormEvents::ProgramGeometry guard(*formX);
        widget.resize(600, 300);
        widget.move(50, 60);
        QApplication::processEvents();
    }
    EXPECT_GE(sink.moves, 1);
    EXPECT_EQ(widget.width(), 600);
    widget.showMaximized();
    QApplication::processEvents();
    widget.showNormal();
    QApplication::processEvents();
    EXPECT_TRUE(sink.borders.empty());
    EXPECT_TRUE(sink.hitCodes.empty());
}

TEST_F(FormEventsQtTest, RefusedEdgeUndoesTheDrag) {
    sink.refuse = true;
    widget.resize(400, 350);
    QApplication::processEvents();
    ASSERT_FALSE(sink.hitCodes.empty());
    EXPECT_EQ(sink.hitCodes.front(), HTBOTTOM);
    EXPECT_TRUE(sink.borders.empty());
    EXPECT_EQ(widget.height(), 200);
}

TEST_F(FormEventsQtTest, SizeGripAsksTheHitTestAndReleaseStopsEvents) {
    sink.refuse = true;
    EXPECT_FALSE(formX->BeginSizeDrag(HTBOTTOMRIGHT));
    EXPECT_EQ(sink.hitCodes, (std::vector<std::int32_t>{HTBOTTOMRIGHT}));
    EXPECT_EQ(formX->Events().SlotNumber(), 1);

    formX->Release();
    EXPECT_EQ(formX->Events().SlotNumber(), 0);
    sink.hitCodes.clear();
    sink.refuse = false;
    widget.resize(700, 200);
    QApplication::processEvents();
    EXPECT_TRUE(sink.hitCodes.empty());
    EXPECT_EQ(widget.width(), 700);
}

TEST_F(FormEventsQtTest, ActivationOfTheApplicationAndTheFrame) {
    // The state as the application reports it; a repeated state is no change.
    // The platform may already have activated the shown widget, so start from
    // a known state.
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    sink.activations.clear();
    emit qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    emit qGuiApp->applicationStateChanged(Qt::ApplicationSuspended);
    EXPECT_EQ(sink.activations, (std::vector<bool>{false, true, false}));

    sink.frameStates.clear();
    QEvent change(QEvent::ActivationChange);
    QApplication::sendEvent(&widget, &change);
    ASSERT_EQ(sink.frameStates.size(), 1u);
    EXPECT_EQ(sink.frameStates[0], widget.isActiveWindow() ? 1 : 0);
}
