// The logging benchmark's soak run: tarnvik-log with the real bus driver
// against vexa-sim, many channels at a short tick, for minutes. Prints rows
// expected and written, the achieved row time (mean, p99, from the elapsed
// column of the file), rows that are malformed or hold a wrong reading, and
// the logger's resident memory and CPU at start and end.
//
//   logging-soak [--minutes M] [--channels N] [--tick MS] [--baud B]
//
// Defaults: 10 minutes, 24 channels, 5 ms per tick (a row every 120 ms),
// 115200 baud. Exit status 0 when no row is lost, malformed or wrong; rows
// that come late (a longer achieved row time) are shown, not failed.
#include "Harness.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <sys/wait.h>

using namespace reliability;

namespace {

struct Options {
    double minutes = 10;
    int channels = 24;
    int tickMs = 5;
    int baud = 115200;
};

bool Parse(int argc, char** argv, Options& o) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        const double v = std::atof(argv[i + 1]);
        if (arg == "--minutes" && v > 0)
            o.minutes = v;
        else if (arg == "--channels" && v >= 1 && v <= 24)
            o.channels = static_cast<int>(v);
        else if (arg == "--tick" && v >= 5)
            o.tickMs = static_cast<int>(v);
        else if (arg == "--baud" && v > 0)
            o.baud = static_cast<int>(v);
        else
            return false;
    }
    return argc % 2 == 1;
}

// The reading of station i, and how the log writes it with "00.000".
double StationValue(int i) {
    return i * 1.25 - 7.5;
}
std::string LoggedValue(int i) {
    char text[32];
    const double v = StationValue(i);
    std::snprintf(text, sizeof text, "%s%06.3f", v < 0 ? "-" : "", std::fabs(v));
    return text;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t at = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(at, v.size() - 1)];
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: logging-soak [--minutes M] [--channels N] [--tick MS] [--baud B]\n");
        return 1;
    }
    TempDir dir;
    std::vector<std::string> config = {"port COM1 bus " + std::to_string(o.baud)};
    for (int i = 1; i <= o.channels; ++i)
        config.push_back("station " + std::to_string(i) +
                         " value=" + std::to_string(StationValue(i)));
    Simulator sim(dir, config);
    if (!sim.Ready()) {
        std::fprintf(stderr, "logging-soak: vexa-sim did not start\n%s",
                     ReadFile(dir.File("sim.err")).c_str());
        return 1;
    }
    WorkspaceShape workspace;
    workspace.channels = o.channels;
    workspace.logInterval = o.channels * o.tickMs;
    workspace.baud = o.baud;
    WriteWorkspaceFile(dir.File("soak.lws"), workspace);

    const double seconds = o.minutes * 60;
    const std::string logPath = dir.File("soak.csv");
    ChildLaunch launch =
        LoggerLaunch(dir.File("soak.lws"), logPath, sim.PortsDir(), dir.File("logger.err"));
    launch.argv.insert(launch.argv.begin() + 1, {"--seconds", std::to_string(seconds)});
    Child logger(launch);

    // Memory and CPU once the run has settled, and at its very end.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const auto start = ProcessUsage(logger.Pid());
    auto last = start;
    while (logger.Running()) {
        if (auto now = ProcessUsage(logger.Pid()); now && now->residentKb > 0) last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    const auto status = logger.Wait(1000);

    const LogCheck log = CheckLog(ReadFile(logPath), o.channels);
    std::vector<double> rowTimes;
    long wrongValues = 0;
    double previous = 0;
    for (const auto& row : log.rows) {
        const double elapsed = std::atof(row[2].c_str());
        rowTimes.push_back(elapsed - previous);
        previous = elapsed;
        for (int i = 1; i <= o.channels; ++i)
            if (row[static_cast<size_t>(2 + i)] != LoggedValue(i)) ++wrongValues;
    }
    double mean = 0;
    for (double t : rowTimes)
        mean += t;
    mean = rowTimes.empty() ? 0 : mean / static_cast<double>(rowTimes.size());
    const long expected = static_cast<long>(seconds * 1000 / workspace.logInterval);
    const long written = static_cast<long>(log.rows.size());
    const bool lostReported = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 3;
    const bool exitedCleanly = status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;

    std::printf("soak: %d channels at %d ms per tick (row every %d ms), %.1f min, bus %d baud\n",
                o.channels, o.tickMs, workspace.logInterval, o.minutes, o.baud);
    std::printf("%-34s %12s\n", "figure", "value");
    std::printf("%-34s %12ld\n", "rows expected (run time / interval)", expected);
    std::printf("%-34s %12ld\n", "rows written (complete, in file)", written);
    std::printf("%-34s %10.1f %%\n", "written / expected",
                expected > 0 ? 100.0 * static_cast<double>(written) / static_cast<double>(expected)
                             : 0.0);
    std::printf("%-34s %12zu\n", "rows malformed", log.problems.size());
    std::printf("%-34s %12ld\n", "readings wrong", wrongValues);
    std::printf("%-34s %12s\n", "rows reported lost", lostReported ? "yes" : "none");
    std::printf("%-34s %9.2f ms\n", "achieved row time, mean", mean);
    std::printf("%-34s %9.2f ms\n", "achieved row time, p99", Percentile(rowTimes, 0.99));
    std::printf("%-34s %9.2f ms\n", "achieved row time, max", Percentile(rowTimes, 1.0));
    if (start && last) {
        std::printf("%-34s %9ld kB\n", "resident memory at start (5 s)", start->residentKb);
        std::printf("%-34s %9ld kB\n", "resident memory at end", last->residentKb);
        std::printf("%-34s %9.1f %%\n", "logger CPU over the run",
                    100 * (last->cpuSeconds - start->cpuSeconds) / (seconds - 5));
    }
    std::printf("%-34s %12s\n", "logger exit", exitedCleanly ? "clean (0)" : "FAILED");
    // A row that takes longer than requested is late, not lost: the elapsed
    // column says when it was taken. Only damage or loss fails the run.
    const bool ok = exitedCleanly && log.problems.empty() && wrongValues == 0 && !lostReported;
    return ok ? 0 : 2;
}
