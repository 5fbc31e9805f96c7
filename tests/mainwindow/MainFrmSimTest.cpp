// The whole program in-process against the instrument simulator: the real
// driver libraries from the build's bin folder, real pseudo terminals.
#include "FakeMainFrame.h"
#include "LCDModule.h"
#include "MainFrm.h"
#include "VeldaASCIIModule.h"
#include "VeldaBusModule.h"
#include "VexaUSBModule.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>

namespace {

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
