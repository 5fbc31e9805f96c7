// Row timing of the logging engine on the real Qt event loop and timers:
// requested against achieved row time, rows lost, CPU used. Instruments
// answer at once, so the figures are the engine's and the timer's own.
//
//   logging-bench [--seconds S] [--dir FOLDER]
#include "CoreQt.h"
#include "LoggerCore.h"
#include "MessageBox.h"
#include "ProtocolModule.h"
#include "Windowless.h"
#include "Workspace.h"

#include <QCoreApplication>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

class InstantBus : public BusDriver {
  public:
    int16_t OPENPORT(int16_t, int32_t) override { return 0; }
    int16_t CLOSEPORT() override { return 0; }
    int16_t READCOMMAND(int16_t station, int16_t, float* value) override {
        *value = station * 0.5f;
        return 0;
    }
    int16_t EXECUTECOMMAND(int16_t, int16_t) override { return 0; }
    int16_t SETTIMEOUT(int16_t) override { return 0; }
};
class NoAscii : public AsciiDriver {
  public:
    int16_t OPENPORT(int16_t, int32_t) override { return -2; }
    int16_t CLOSEPORT() override { return 0; }
    int16_t READCOMMAND(int16_t, const char*, float*) override { return -100; }
    int16_t EXECUTECOMMAND(int16_t, const char*) override { return -100; }
    int16_t SETTIMEOUT(int16_t) override { return 0; }
};
class NoUsb : public UsbDriver {
  public:
    int16_t OPENPORT() override { return -2; }
    int16_t CLOSEPORT() override { return 0; }
    int16_t READCOMMAND(int32_t, const char*, float*) override { return -100; }
    int16_t EXECUTECOMMAND(int32_t, const char*) override { return -100; }
    int16_t SETTIMEOUT(int16_t) override { return 0; }
    float VERSION() override { return 0; }
};

class PrintBoxes : public MessageBoxes {
  public:
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon,
                       MessageButtons) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        return MessageAnswer::Ok;
    }
};
struct Scenario {
    const char* name;
    int channels;
    int32_t logInterval;
};

struct Result {
    std::vector<double> achieved; // the engine's row times
    std::vector<double> wall;     // steady-clock time between rows
    int64_t written = 0, lost = 0, fileRows = 0, expected = 0;
    bool elapsedInOrder = true;
    double cpuPercent = 0, seconds = 0;
};

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Result Run(const Scenario& scenario, double seconds, const std::string& folder) {
    WorkspaceClass ws;
    ws.Channels = static_cast<int16_t>(scenario.channels);
    ws.Protocol = ProtocolVeldaBus;
    ws.LogInterval = scenario.logInterval;
    for (int i = 1; i <= scenario.channels; ++i)
        ws.Items.push_back(DefaultChannelItem(i));
    MainWindowState state;
    InstantBus bus;
    NoAscii ascii;
    NoUsb usb;
    ProtocolModule protocol(ws, bus, ascii, usb);
    WindowlessSurface window(ws, [] { QCoreApplication::processEvents(); });
    PrintBoxes boxes;
    SystemClock clock;
    const std::string logPath =
        folder + "/logging-bench-" + std::to_string(scenario.channels) + ".csv";
    FixedLogFile chooser(logPath);
    NoSettings settings;
    NoShell shell;
    LoggerCore* core = nullptr;
    Result result;
    auto lastRow = std::chrono::steady_clock::now();
    QtTimer retry([&] { core->AutoRetryTimer_Timer(); });
    QtTimer logTimer(
        [&] {
            const int64_t before = core->RowsWritten() + core->RowsLost();
            core->LogTimerFired();
            if (core->RowsWritten() + core->RowsLost() != before) {
                const auto now = std::chrono::steady_clock::now();
                result.wall.push_back(
                    std::chrono::duration<double, std::milli>(now - lastRow).count());
                result.achieved.push_back(state.AchievedMs);
                lastRow = now;
            }
        },
        Qt::PreciseTimer);
    LoggerCore engine(ws, state, protocol, RegionalSettings::point(),
                      CoreSeams{window, boxes, retry, logTimer, clock, chooser, settings, shell});
    core = &engine;
    QtTimer screen([&] { engine.ScreenTimer_Timer(); });

    const double cpuBefore = CpuSeconds();
    const auto started = std::chrono::steady_clock::now();
    screen.Start(333);
    engine.DoLogging();
    if (!engine.IsLogging()) return result;
    lastRow = std::chrono::steady_clock::now();
    QTimer::singleShot(static_cast<int>(seconds * 1000), Qt::PreciseTimer,
                       [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const double ran =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    engine.DoLogging();
    screen.Stop();
    result.cpuPercent = 100.0 * (CpuSeconds() - cpuBefore) / ran;
    result.seconds = ran;
    result.written = engine.RowsWritten();
    result.lost = engine.RowsLost();
    result.expected = static_cast<int64_t>(ran * 1000 / scenario.logInterval);

    std::ifstream in(logPath);
    std::string line;
    double previous = -1;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        ++result.fileRows;
        const auto first = line.find(',');
        const auto second = line.find(',', first + 1);
        const double elapsed = std::atof(line.c_str() + second + 1);
        if (!(elapsed > previous)) result.elapsedInOrder = false;
        previous = elapsed;
    }
    std::remove(logPath.c_str());
    return result;
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / static_cast<double>(v.size());
}

double P99(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t at = static_cast<size_t>(std::ceil(0.99 * static_cast<double>(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    double seconds = 10;
    std::string folder = "/tmp";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--dir" && i + 1 < argc) {
            folder = argv[++i];
        } else {
            std::fprintf(stderr, "usage: logging-bench [--seconds S] [--dir FOLDER]\n");
            return arg == "--help" ? 0 : 1;
        }
    }
    if (!(seconds > 0)) {
        std::fprintf(stderr, "logging-bench: --seconds needs a positive number\n");
        return 1;
    }
    const Scenario scenarios[] = {{"24 ch, 5 ms/tick", 24, 120}, {"4 ch, 1000 ms", 4, 1000}};
    std::printf("%-18s %9s %14s %12s %12s %10s %7s %7s %5s %5s\n", "scenario", "requested",
                "achieved mean", "achieved p99", "wall mean", "wall p99", "rows", "in file", "lost",
                "CPU%");
    bool ok = true;
    for (const auto& s : scenarios) {
        const Result r = Run(s, seconds, folder);
        const bool within = std::fabs(Mean(r.achieved) - s.logInterval) <= 0.01 * s.logInterval;
        const bool whole = r.lost == 0 && r.fileRows == r.written && r.elapsedInOrder &&
                           r.written >= r.expected - 1;
        ok = ok && within && whole;
        std::printf("%-18s %7d ms %11.2f ms %9.2f ms %9.2f ms %7.2f ms %7lld %7lld %5lld %5.1f%s\n",
                    s.name, s.logInterval, Mean(r.achieved), P99(r.achieved), Mean(r.wall),
                    P99(r.wall), static_cast<long long>(r.written),
                    static_cast<long long>(r.fileRows), static_cast<long long>(r.lost),
                    r.cpuPercent, within && whole ? "" : "  <- off target");
    }
    std::printf("target: achieved mean within 1 %% of requested, every row in the file, none "
                "lost (%.0f s per scenario)\n",
                seconds);
    return ok ? 0 : 2;
}
