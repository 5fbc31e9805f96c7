// The Qt adapter on the offscreen platform: what Qt reports for a widget
// becomes the notifications, and the handlers' answers reach the widget.
#include "window/FormEventsQt.h"
#include "RecordingSink.h"

#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

using namespace formevents;

namespace {

// The hit codes the sink was asked about, whatever the point.
std::vector<std::string> HitCodes(const RecordingSink& sink) {
    std::vector<std::string> codes;
    for (const std::string& e : sink.Events("NCHitTest"))
        codes.push_back(e.substr(e.rfind(' ') + 1));
    return codes;
}

} // namespace

// A user's drag asks the hit test for its edge first, and takes the
// handler's rectangle; a refused edge undoes the drag. The minimum track
// width is the frame's.
TEST(FormEventsQtTest, UserResizeSnapsToTheHandlersRectangle) {
    QWidget widget;
    RecordingSink sink;
    sink.minTrackX = 250;
    widget.setGeometry(100, 100, 400, 200);
    QtFormEvents formX(&widget, &sink);
    widget.show();
    const auto resize = [&](int width, int height) {
        widget.resize(width, height);
        QApplication::processEvents();
    };
    resize(400, 200);
    resize(400, 350);
    EXPECT_EQ(HitCodes(sink), std::vector<std::string>{"15"}); // HTBOTTOM
    EXPECT_TRUE(sink.Events("Resizing").empty());
    EXPECT_EQ(widget.height(), 200);
    EXPECT_EQ(sink.Events("GetMinMaxInfo").size(), 1u);
    EXPECT_EQ(widget.minimumWidth() + widget.frameGeometry().width() - widget.width(), 250);
    const int left = widget.frameGeometry().x();
    sink.edge = left + 320;
    resize(500, 200);
    ASSERT_FALSE(sink.Events("Resizing").empty());
    EXPECT_EQ(HitCodes(sink).at(1), "11");                  // HTRIGHT
    EXPECT_EQ(sink.Events("Resizing").front().back(), '2'); // WMSZ_RIGHT
    EXPECT_EQ(widget.frameGeometry().width(), 320);
    EXPECT_EQ(widget.frameGeometry().x(), left);
    // The size grip asks the hit test; a released form hears nothing more.
    sink.refuse = true;
    EXPECT_FALSE(formX.BeginSizeDrag(HTBOTTOMRIGHT));
    EXPECT_EQ(HitCodes(sink).back(), "17"); // HTBOTTOMRIGHT
    formX.Release();
    sink.log.clear();
    resize(700, 200);
    EXPECT_TRUE(sink.log.empty());
}
