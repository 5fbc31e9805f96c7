// The whole program in-process against the instrument simulator: the real
// driver libraries from the build's bin folder, real pseudo terminals.
#include "FakeMainFrame.h"
#include "LCDModule.h"
#include "MainFrm.h"
#include "VeldaASCIIModule.h"
#include "VeldaBusModule.h"
#include "VexaUSBModule.h"

#include "workspace/WorkspaceFile.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string BinFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// vexa-sim as a child process, its stdout read line by line.
class Simulator {
  public:
    Simulator(const std::string& folder, const std::vector<std::string>& lines) {
        m_control = folder + "/control";
        std::vector<std::string> args = {
            BinFolder() + "/vexa-sim", "--ports-dir", folder + "/ports", "--usb-dir",
            folder + "/usb",           "--control",   m_control};
        for (const std::string& line : lines) {
            args.push_back("-e");
            args.push_back(line);
        }
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
    }
    ~Simulator() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
    }
    // Reads lines until one starts with prefix; false when the simulator
    // ends or stays silent for ten seconds.
    bool WaitFor(const std::string& prefix) {
        for (;;) {
            const auto nl = m_buffer.find('\n');
            if (nl != std::string::npos) {
                const std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                if (line.starts_with(prefix)) return true;
                continue;
            }
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, 10000) <= 0) return false;
            char chunk[512];
            const ssize_t n = read(m_out, chunk, sizeof chunk);
            if (n <= 0) return false;
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }
    bool Control(const std::string& line) {
        const int fd = open(m_control.c_str(), O_WRONLY);
        if (fd < 0) return false;
        const std::string text = line + "\n";
        const bool written = write(fd, text.data(), text.size()) == ssize_t(text.size());
        close(fd);
        return written && WaitFor("control ok: " + line);
    }
    bool Started() const { return m_pid > 0 && m_out >= 0; }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_control;
    std::string m_buffer;
};

// The program on the simulator's bus line COM7, its workspace of one tile
// per station line in format "00.00", started with the real drivers.
class MainWindowOnSimulator : public ::testing::Test {
  protected:
    void Start(const std::vector<std::string>& stations, int32_t autoRetryMs = 30000) {
        for (const char* file : {"vexa-sim", "libVeldabus2Drv.so", "libVexaUSBDrv.so"})
            ASSERT_TRUE(std::filesystem::exists(m_bin + "/" + file)) << file << " not built";
        std::filesystem::create_directories(m_run.path / "ports");
        std::filesystem::create_directories(m_run.path / "usb");
        setenv("VEXA_PORTS_DIR", (m_run.path / "ports").c_str(), 1);
        setenv("VEXA_USB_DIR", (m_run.path / "usb").c_str(), 1);
        std::vector<std::string> lines = {"port COM7 bus 115200"};
        lines.insert(lines.end(), stations.begin(), stations.end());
        m_sim = std::make_unique<Simulator>(m_run.path.string(), lines);
        ASSERT_TRUE(m_sim->Started());
        ASSERT_TRUE(m_sim->WaitFor("ready"));

        WorkspaceClass ws = WorkspaceOf(static_cast<int>(stations.size()), "Bench", "00.00");
        ws.Port = 7;
        ws.Baudrate = 115200;
        ws.Protocol = ProtocolVeldaBus;
        const std::string path = (m_run.path / "Bench.lws").string();
        FakeBoxes quiet;
        SaveWorkspace(ws, path, RegionalSettings::point(), quiet);

        ProgramFacts facts{{m_bin, "Tarnvik"}, path, 1, 0, 0, RegionalSettings::point()};
        m_window = std::make_unique<MainFrm>(
            MainFrmServices{&f.boxes, &f.dialogs, &f.editor, f.sizes, f.shell, f.special,
                            *m_busDriver, *m_asciiDriver, *m_usbDriver, m_clock, facts});
        m_window->Core().SetAutoRetryMs(autoRetryMs);
        ASSERT_TRUE(m_window->Startup());
        ASSERT_TRUE(f.boxes.shown.empty()) << f.boxes.shown[0].text;
        ASSERT_EQ(m_window->TileCount(), static_cast<int>(stations.size()));
    }

    const std::string m_bin = BinFolder();
    TempFolder m_run;
    std::unique_ptr<Simulator> m_sim;
    std::unique_ptr<BusDriver> m_busDriver = VeldaBusModule::BindFrom(m_bin);
    std::unique_ptr<AsciiDriver> m_asciiDriver = VeldaASCIIModule::BindFrom(m_bin);
    std::unique_ptr<UsbDriver> m_usbDriver = VexaUSBModule::BindFrom(m_bin);
    WindowFakes f;
    SystemClock m_clock;
    std::unique_ptr<MainFrm> m_window;
};

TEST_F(MainWindowOnSimulator, ReadingsReachTheTilesAFailedStationShowsDashesThenRecovers) {
    ASSERT_NO_FATAL_FAILURE(Start({"station 1 value=12.5", "station 2 value=7.25"}));
    MainFrm& w = *m_window;
    Simulator& sim = *m_sim;

    w.Core().ScreenTimer_Timer();
    EXPECT_EQ(w.Tile(1)->Value(), "12.50");
    EXPECT_EQ(w.Tile(2)->Value(), "07.25");
    EXPECT_EQ(w.Tile(2)->BackColor(), Sys3DLight);

    ASSERT_TRUE(sim.Control("set COM7 2 fault=silent"));
    w.Core().ScreenTimer_Timer();
    EXPECT_EQ(w.Tile(2)->Value(), "-------");
    EXPECT_EQ(w.Tile(2)->BackColor(), RgbColour(255, 0, 0));
    EXPECT_EQ(w.Tile(1)->Value(), "12.50");
    EXPECT_TRUE(w.Menu("mnuRetry")->isEnabled());

    // Still failed: the station is not read again until a retry.
    ASSERT_TRUE(sim.Control("set COM7 2 fault=none"));
    w.Core().ScreenTimer_Timer();
    EXPECT_EQ(w.Tile(2)->Value(), "-------");

    w.Menu("mnuRetry")->trigger();
    w.Core().ScreenTimer_Timer();
    EXPECT_EQ(w.Tile(2)->Value(), "07.25");
    EXPECT_EQ(w.Tile(2)->BackColor(), Sys3DLight);
    EXPECT_FALSE(w.Menu("mnuRetry")->isEnabled());

    w.close();
    EXPECT_FALSE(w.isVisible());
}

// A retry 300 ms after each refresh that shows the error probes the silent
// station briefly: the refresh goes on, and the event loop is never held
// anywhere near the driver's four attempts at the full time-out (4 s).
TEST_F(MainWindowOnSimulator, WhileARetryProbesASilentStationTheOtherTilesGoOn) {
    ASSERT_NO_FATAL_FAILURE(Start(
        {"station 1 wave=20,5,1", "station 2 wave=30,5,1.3", "station 3 value=3 fault=silent"},
        300));
    MainFrm& w = *m_window;
    // The station's first failed read costs the full read, once.
    w.Core().ScreenTimer_Timer();
    ASSERT_EQ(w.Tile(3)->Value(), "-------");

    std::set<QString> seen1, seen2;
    double longestBlockMs = 0, lastBeatMs = m_clock.MonotonicMs();
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const double now = m_clock.MonotonicMs();
        longestBlockMs = std::max(longestBlockMs, now - lastBeatMs);
        lastBeatMs = now;
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
