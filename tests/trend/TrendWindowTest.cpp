#include "trend/TrendWindow.h"

#include "support/FakeMessageBoxes.h"
#include "support/ScratchFolder.h"

#include <QApplication>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEventLoop>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QValueAxis>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

double Minutes(QDateTimeAxis* axis) {
    return (axis->max().toMSecsSinceEpoch() - axis->min().toMSecsSinceEpoch()) / 60000.0;
}

// The curve's stretches between gaps: series that go on where the one
// before ends are one line.
int Stretches(const std::vector<QLineSeries*>& runs) {
    int stretches = 0;
    for (size_t i = 0; i < runs.size(); ++i)
        stretches += i == 0 || runs[i - 1]->at(runs[i - 1]->count() - 1) != runs[i]->at(0);
    return stretches;
}

// Where the gaps fall is the model's (Thin); here: that the readings reach
// the curves, the spans the axis, the legend the visibility, and a pause
// the drawing.
TEST(TrendWindow, LiveCurvesWithGapsSpansLegendAndPause) {
    RecordingBoxes boxes;
    double now = 1.7e12;
    int pass = 0;
    // B fails on passes 5 and 6.
    const auto read = [&] {
        ++pass;
        return std::vector<TrendReading>{{"A", float(10 + pass % 10), true},
                                         {"B", 100, pass != 5 && pass != 6}};
    };
    TrendWindow w(TrendWindow::Live{read, [&] { return now; }}, boxes);
    for (int i = 0; i < 20; ++i, now += 333)
        w.SampleNow();
    ASSERT_EQ(w.ChannelCount(), 2);
    EXPECT_EQ(
        std::make_tuple(w.Runs(0).front()->name(), Stretches(w.Runs(0)), Stretches(w.Runs(1))),
        std::make_tuple("A", 1, 2));
    EXPECT_TRUE(w.ValueAxis()->min() <= 10 && w.ValueAxis()->max() >= 100);
    for (int minutes : {60, 1}) {
        w.SetSpan(minutes);
        EXPECT_DOUBLE_EQ(Minutes(w.TimeAxis()), minutes);
    }
    // The legend hides B; the value axis then fits A alone.
    const auto markers = w.Chart()->legend()->markers(w.Runs(1).front());
    ASSERT_EQ(markers.size(), 1);
    emit markers.front()->clicked();
    EXPECT_TRUE(!w.Runs(1).front()->isVisible() && w.ValueAxis()->max() < 30);
    emit markers.front()->clicked();
    EXPECT_TRUE(w.Runs(1).back()->isVisible());
    const auto latest = [&] { return w.Runs(0).back()->at(w.Runs(0).back()->count() - 1).x(); };
    w.SetPaused(true);
    for (int i = 0; i < 5; ++i, now += 333)
        w.SampleNow();
    EXPECT_EQ(std::make_pair(latest(), w.History().Channel(0).size()),
              std::make_pair(now - 6 * 333, size_t(25)));
    w.SetPaused(false);
    EXPECT_EQ(latest(), now - 333);
}

// Plots `text` as a log file and waits for Loaded: the file loads off the
// window's thread.
bool PlotAndWait(TrendWindow& w, const std::string& text) {
    const auto folder = MakeScratchFolder("trend-plot");
    PutFileBytes(folder / "log.csv", text);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&w, &TrendWindow::Loaded, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    w.PlotFile(QString::fromStdString((folder / "log.csv").string()));
    loop.exec();
    std::filesystem::remove_all(folder);
    return ok;
}

// The whole file, thinned to a few points per pixel column, skipped lines
// counted; a file that is no log gives a message.
TEST(TrendWindow, PlotsALogFileThinnedAndRefusesWhatIsNoLog) {
    constexpr int Rows = 20000;
    std::string text = "Date,Time,Elapsed mS,\"Load, kN\",Supply\r\ngarbage\r\n";
    char row[64];
    for (int i = 0; i < Rows; ++i)
        text.append(row,
                    size_t(std::snprintf(row, sizeof row, "01/02/2024,10:%02d:%02d,%d,%d.5,3.3\r\n",
                                         i / 1200 % 60, i / 20 % 60, i * 50, i % 100)));
    RecordingBoxes boxes;
    TrendWindow w(boxes);
    w.resize(800, 400);
    w.show();
    ASSERT_TRUE(PlotAndWait(w, text));
    ASSERT_EQ(w.ChannelCount(), 2);
    EXPECT_EQ(w.Runs(0).front()->name() + " / " + w.Status()->text(),
              "Load, kN / 20000 rows, 2 channels, 1 lines skipped");
    EXPECT_NEAR(Minutes(w.TimeAxis()), (Rows - 1) * 50 / 60000.0, 0.001);
    EXPECT_EQ(w.TimeAxis()->min().time(), QTime(10, 0, 0));
    qsizetype points = 0;
    for (auto* run : w.Runs(0))
        points += run->count();
    EXPECT_TRUE(points < Rows / 4 && w.ValueAxis()->max() >= 99.5) << points;
    EXPECT_FALSE(PlotAndWait(w, "name,value\r\nx,1\r\n"));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("is not a log file"), std::string::npos);
}

} // namespace
