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

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
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

TEST(MainWindowOnSimulator, ReadingsReachTheTilesAFailedStationShowsDashesThenRecovers) {
    const std::string bin = BinFolder();
    for (const char* file : {"vexa-sim", "libVeldabus2Drv.so", "libVexaUSBDrv.so"})
        ASSERT_TRUE(std::filesystem::exists(bin + "/" + file)) << file << " not built";

    TempFolder run;
    std::filesystem::create_directories(run.path / "ports");
    std::filesystem::create_directories(run.path / "usb");
    setenv("VEXA_PORTS_DIR", (run.path / "ports").c_str(), 1);
    setenv("VEXA_USB_DIR", (run.path / "usb").c_str(), 1);
    Simulator sim(run.path.string(),
                  {"port COM7 bus 115200", "station 1 value=12.5", "station 2 value=7.25"});
    ASSERT_TRUE(sim.Started());
    ASSERT_TRUE(sim.WaitFor("ready"));

    WorkspaceClass ws = WorkspaceOf(2, "Bench", "00.00");
    ws.Port = 7;
    ws.Baudrate = 115200;
    ws.Protocol = ProtocolVeldaBus;
    const std::string path = (run.path / "Bench.lws").string();
    FakeBoxes quiet;
    SaveWorkspace(ws, path, RegionalSettings::point(), quiet);

    auto busDriver = VeldaBusModule::BindFrom(bin);
    auto asciiDriver = VeldaASCIIModule::BindFrom(bin);
    auto usbDriver = VexaUSBModule::BindFrom(bin);
    WindowFakes f;
    SystemClock clock;
    ProgramFacts facts{{bin, "Tarnvik"}, path, 1, 0, 0, RegionalSettings::point()};
    MainFrm w(MainFrmServices{&f.boxes, &f.dialogs, &f.editor, f.sizes, f.shell, f.special,
                              *busDriver, *asciiDriver, *usbDriver, clock, facts});
    ASSERT_TRUE(w.Startup());
    ASSERT_TRUE(f.boxes.shown.empty()) << f.boxes.shown[0].text;
    ASSERT_EQ(w.TileCount(), 2);

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

} // namespace
