// Cost of the trend window: one live pass of 24 readings added and drawn
// with the hour's history full, per span; then loading and plotting a
// million-row log file. Runs offscreen unless a platform is chosen.
//
//   trend-bench [--passes N] [--rows N] [--channels N] [--dir FOLDER]
#include "trend/TrendWindow.h"

#include <QApplication>
#include <QChartView>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct NoBoxes : MessageBoxes {
    MessageAnswer show(const std::string& text, const std::string&, MessageIcon,
                       MessageButtons) override {
        std::fprintf(stderr, "trend-bench: %s\n", text.c_str());
        return MessageAnswer::Ok;
    }
};

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * v.size()))];
}

} // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    int passes = 200, rows = 1000000, channels = 24;
    std::string dir = std::filesystem::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--passes"))
            passes = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rows"))
            rows = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--channels"))
            channels = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--dir"))
            dir = argv[i + 1];
    }
    NoBoxes boxes;

    // Live: 24 channels, the hour's history full, one pass every 333 ms.
    double now = 1.7e12;
    int pass = 0;
    TrendWindow::Live live{[&] {
                               std::vector<TrendReading> readings;
                               for (int c = 0; c < 24; ++c)
                                   readings.push_back({"Channel " + std::to_string(c + 1),
                                                       float(c + std::sin(pass * 0.01 + c)),
                                                       (pass + c) % 97 != 0});
                               ++pass;
                               return readings;
                           },
                           [&] { return now; }};
    TrendWindow window(live, boxes);
    window.resize(1200, 700);
    window.show();
    window.SetPaused(true);
    const size_t full = window.History().CapacityPerChannel();
    for (size_t i = 0; i < full; ++i, now += TrendWindow::SampleIntervalMs)
        window.SampleNow();
    window.SetPaused(false);

    // Adding a pass alone: the model, as the window does it while paused.
    TrendHistory history(window.History().CapacityPerChannel());
    const std::vector<TrendReading> sample = live.source();
    for (size_t i = 0; i < full; ++i)
        history.Add(double(i), sample);
    auto start = Clock::now();
    constexpr int Adds = 100000;
    for (int i = 0; i < Adds; ++i)
        history.Add(double(full + i), sample);
    const double add = Ms(Clock::now() - start) / Adds;

    std::printf("| span | samples kept per channel | switching to it | passes | add one pass "
                "of 24 | curves drawn (mean per pass) | painted | whole pass mean | CPU per "
                "pass | p99 |\n"
                "| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |\n");
    for (int minutes : {1, 10, 60}) {
        const auto s0 = Clock::now();
        window.SetSpan(minutes);
        for (int settle = 0; settle < 3; ++settle)
            QCoreApplication::processEvents();
        const double switched = Ms(Clock::now() - s0);
        // Whole steps of the time axis, so that the whole redraws at each
        // step weigh in the mean as often as they come.
        const int step = static_cast<int>(
            std::ceil(minutes * 60000.0 / TrendWindow::Steps / TrendWindow::SampleIntervalMs));
        const int n = (std::max(passes, 2 * step) + step - 1) / step * step;
        // Every pass the window takes counts, its own timer's too: the mean
        // is all the time spent over all the passes taken.
        const int first = pass;
        std::vector<double> whole;
        double drawn = 0, painted = 0;
        const std::clock_t cpu = std::clock();
        for (int i = 0; i < n; ++i, now += TrendWindow::SampleIntervalMs) {
            // A pass with the window open: the reading added, the curves
            // drawn when due, the chart painted.
            const auto t0 = Clock::now();
            window.SampleNow();
            const auto t1 = Clock::now();
            QCoreApplication::processEvents(); // paints what changed
            const auto t2 = Clock::now();
            drawn += Ms(t1 - t0);
            painted += Ms(t2 - t1);
            whole.push_back(Ms(t2 - t0));
        }
        const double taken = pass - first;
        const double cpuMs = 1000.0 * static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
        std::printf("| %d min | %zu | %.0f ms | %.0f | %.4f ms | %.2f ms | %.2f ms | %.2f ms | "
                    "%.2f ms | %.2f ms |\n",
                    minutes, window.History().Channel(0).size(), switched, taken, add,
                    drawn / taken, painted / taken, (drawn + painted) / taken, cpuMs / taken,
                    Percentile(whole, 0.99));
    }

    // A finished log of `rows` rows: write it, then load and plot it.
    const std::string path = dir + "/trend-bench-" + std::to_string(getpid()) + ".csv";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "trend-bench: cannot write %s\n", path.c_str());
        return 1;
    }
    std::fputs("Date,Time,Elapsed mS", f);
    for (int c = 0; c < channels; ++c)
        std::fprintf(f, ",Channel %d", c + 1);
    std::fputs("\r\n", f);
    for (int r = 0; r < rows; ++r) {
        const int s = r / 10;
        std::fprintf(f, "01/02/2024,%02d:%02d:%02d,%d", 10 + s / 3600 % 14, s / 60 % 60, s % 60,
                     r * 100);
        for (int c = 0; c < channels; ++c)
            std::fprintf(f, ",%.3f", c + std::sin(r * 0.001 + c));
        std::fputs("\r\n", f);
    }
    std::fclose(f);
    const auto bytes = std::filesystem::file_size(path);

    TrendWindow plot(boxes);
    plot.resize(1200, 700);
    plot.show();
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&plot, &TrendWindow::Loaded, &loop, [&](bool result) {
        ok = result;
        loop.quit();
    });
    const auto t0 = Clock::now();
    plot.PlotFile(QString::fromStdString(path));
    loop.exec();
    const double loaded = Ms(Clock::now() - t0);
    const auto t1 = Clock::now();
    plot.View()->viewport()->repaint();
    const double painted = Ms(Clock::now() - t1);
    std::filesystem::remove(path);
    if (!ok) return 1;

    std::printf("\n| log file | size | load and plot | first paint |\n| --- | --- | --- | --- |\n");
    std::printf("| %d rows x %d channels | %.1f MB | %.0f ms | %.1f ms |\n", rows, channels,
                bytes / 1e6, loaded, painted);
    return 0;
}
