#include "TrendWindow.h"

#include "../support/FakeMessageBoxes.h"
#include "../support/ScratchFolder.h"

#include <QApplication>
#include <QChart>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QEventLoop>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QTimer>
#include <QValueAxis>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

double Minutes(QDateTimeAxis* axis) {
    return (axis->max().toMSecsSinceEpoch() - axis->min().toMSecsSinceEpoch()) / 60000.0;
}

// The curve's stretches between gaps: series that go on where the one
// before ends are one line.
std::vector<std::pair<QPointF, QPointF>> Stretches(const std::vector<QLineSeries*>& runs) {
    std::vector<std::pair<QPointF, QPointF>> stretches;
    for (auto* s : runs) {
        if (!stretches.empty() && stretches.back().second == s->at(0))
            stretches.back().second = s->at(s->count() - 1);
        else
            stretches.push_back({s->at(0), s->at(s->count() - 1)});
    }
    return stretches;
}

qsizetype Points(const std::vector<QLineSeries*>& runs) {
    qsizetype n = 0;
    for (auto* s : runs)
        n += s->count();
    return n;
}

TEST(TrendWindow, LiveCurvesWithGapsSpansLegendAndPause) {
    RecordingBoxes boxes;
    double now = 1.7e12;
    int pass = 0;
    TrendWindow::Live live{[&] {
                               ++pass;
                               // B fails on passes 5 and 6.
                               return std::vector<TrendReading>{{"A", float(10 + pass % 10), true},
                                                                {"B", 100, pass != 5 && pass != 6}};
                           },
                           [&] { return now; }};
    TrendWindow w(live, boxes);
    for (int i = 0; i < 20; ++i, now += 333)
        w.SampleNow();
    ASSERT_EQ(w.ChannelCount(), 2);
    EXPECT_EQ(w.Runs(0).front()->name(), "A");
    EXPECT_EQ(Stretches(w.Runs(0)).size(), 1u);
    const auto b = Stretches(w.Runs(1));
    ASSERT_EQ(b.size(), 2u); // the failed readings split the curve
    // The gap runs exactly from the last good reading to the next.
    EXPECT_EQ(b[0].second.x(), 1.7e12 + 3 * 333);
    EXPECT_EQ(b[1].first.x(), 1.7e12 + 6 * 333);
    EXPECT_LE(w.ValueAxis()->min(), 10);
    EXPECT_GE(w.ValueAxis()->max(), 100);

    for (int minutes : {10, 60, 1}) {
        w.SetSpan(minutes);
        EXPECT_DOUBLE_EQ(Minutes(w.TimeAxis()), minutes);
    }

    // The legend hides B; the value axis then fits A alone.
    const auto markers = w.Chart()->legend()->markers(w.Runs(1).front());
    ASSERT_EQ(markers.size(), 1);
    emit markers.front()->clicked();
    EXPECT_FALSE(w.Runs(1).front()->isVisible());
    EXPECT_LT(w.ValueAxis()->max(), 30);
    emit markers.front()->clicked();
    EXPECT_TRUE(w.Runs(1).back()->isVisible());

    const auto latest = [&] { return w.Runs(0).back()->at(w.Runs(0).back()->count() - 1).x(); };
    EXPECT_EQ(latest(), now - 333);
    w.SetPaused(true);
    for (int i = 0; i < 5; ++i, now += 333)
        w.SampleNow();
    EXPECT_EQ(latest(), now - 6 * 333);
    EXPECT_EQ(w.History().Channel(0).size(), 25u);
    w.SetPaused(false);
    EXPECT_EQ(latest(), now - 333);
}

// Waits for Loaded, counting the ticks of a 10 ms timer meanwhile: the
// window must go on answering while a file loads.
bool WaitLoaded(TrendWindow& w, int& ticks) {
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&w, &TrendWindow::Loaded, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    loop.exec();
    return ok;
}

TEST(TrendWindow, PlotsAMillionRowLogWithoutFreezing) {
    const auto folder = MakeScratchFolder("trend-plot");
    const std::string path = (folder / "big.csv").string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("Date,Time,Elapsed mS,\"Load, kN\",Supply\r\n", f);
    constexpr int Rows = 1000000;
    for (int i = 0; i < Rows; ++i)
        std::fprintf(f, "01/02/2024,%02d:%02d:%02d,%d,%d.5,3.3\r\n", 10 + i / 72000, i / 1200 % 60,
                     i / 20 % 60, i * 50, i % 100);
    std::fclose(f);

    RecordingBoxes boxes;
    TrendWindow w(boxes);
    w.resize(800, 400);
    w.show();
    int ticks = 0;
    w.PlotFile(QString::fromStdString(path));
    ASSERT_TRUE(WaitLoaded(w, ticks));
    EXPECT_GT(ticks, 0);
    EXPECT_TRUE(boxes.shown.empty());
    ASSERT_EQ(w.ChannelCount(), 2);
    EXPECT_EQ(w.Runs(0).front()->name(), "Load, kN");
    EXPECT_TRUE(w.Status()->text().startsWith("1000000 rows"));
    // The whole file, thinned to a few points per pixel column.
    EXPECT_NEAR(Minutes(w.TimeAxis()), (Rows - 1) * 50 / 60000.0, 0.001);
    EXPECT_EQ(w.TimeAxis()->min().time(), QTime(10, 0, 0));
    EXPECT_LT(Points(w.Runs(0)), 4000);
    EXPECT_GE(w.ValueAxis()->max(), 99.5);
    w.SetSpan(10);
    EXPECT_DOUBLE_EQ(Minutes(w.TimeAxis()), 10);
    std::filesystem::remove_all(folder);
}

TEST(TrendWindow, AFileThatIsNoLogGivesAMessage) {
    const auto folder = MakeScratchFolder("trend-bad");
    const std::string path = (folder / "notes.csv").string();
    PutFileBytes(path, "name,value\r\nx,1\r\n");
    RecordingBoxes boxes;
    TrendWindow w(boxes);
    int ticks = 0;
    w.PlotFile(QString::fromStdString(path));
    EXPECT_FALSE(WaitLoaded(w, ticks));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_NE(boxes.shown[0].text.find("is not a log file"), std::string::npos)
        << boxes.shown[0].text;
    EXPECT_EQ(w.ChannelCount(), 0);
    std::filesystem::remove_all(folder);
}

} // namespace
