// The simulator program, started as a child and spoken to through its
// linked terminals with plain termios code, as a driver would.
#include "../support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// A running vexa-sim with its own link folders, trace and control FIFO.
class SimProcess {
  public:
    explicit SimProcess(const std::string& config, const fs::path& dir, bool waitReady = true,
                        const char* extraOption = nullptr)
        : m_dir(dir) {
        PutFileBytes(m_dir / "sim.conf", config);
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            close(out[0]);
            close(out[1]);
            const std::string conf = m_dir / "sim.conf", trace = TracePath(),
                              control = ControlPath(), ports = m_dir / "ports", usb = m_dir / "usb";
            setenv("VEXA_PORTS_DIR", ports.c_str(), 1);
            setenv("VEXA_USB_DIR", usb.c_str(), 1);
            execl(VEXA_SIM_PATH, "vexa-sim", "--config", conf.c_str(), "--trace", trace.c_str(),
                  "--control", control.c_str(), extraOption, /* null: the list ends here */
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        m_out = out[0];
        fcntl(m_out, F_SETFL, O_NONBLOCK);
        if (waitReady) {
            EXPECT_TRUE(WaitForLine("ready", 5000)) << Output();
        }
    }
    ~SimProcess() {
        if (m_pid > 0 && !m_exited) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) close(m_out);
    }

    std::string PortPath(const std::string& name) const { return m_dir / "ports" / name; }
    std::string UsbPath(const std::string& serial) const { return m_dir / "usb" / serial; }
    std::string TracePath() const { return m_dir / "trace.txt"; }
    std::string ControlPath() const { return m_dir / "control"; }

    // Waits for an output line that starts with `prefix`, after the ones
    // already matched.
    bool WaitForLine(const std::string& prefix, int timeoutMs) {
        const auto start = Clock::now();
        for (;;) {
            size_t nl;
            while ((nl = m_text.find('\n', m_scan)) != std::string::npos) {
                const std::string line = m_text.substr(m_scan, nl - m_scan);
                m_scan = nl + 1;
                if (line.rfind(prefix, 0) == 0) return true;
            }
            const int left = timeoutMs - static_cast<int>(MsSince(start));
            if (left <= 0 || !Pump(left)) return false;
        }
    }

    // Writes a control line into the FIFO.
    void Write(const std::string& line) {
        const int fd = open(ControlPath().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const std::string text = line + "\n";
        ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(fd);
    }
    // Sends a control line and waits until the simulator has taken it.
    void Control(const std::string& line) {
        Write(line);
        ASSERT_TRUE(WaitForLine("control ok: " + line, 3000)) << Output();
    }

    // Sends `sig` and returns the exit status (-1 when it did not exit).
    int Stop(int sig = SIGTERM) {
        kill(m_pid, sig);
        return Wait(5000);
    }
    int Wait(int timeoutMs) {
        const auto start = Clock::now();
        while (MsSince(start) < timeoutMs) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                while (Pump(10)) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            Pump(10);
        }
        return -1;
    }

    const std::string& Output() {
        Pump(0);
        return m_text;
    }

  private:
    bool Pump(int timeoutMs) {
        pollfd p{m_out, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return timeoutMs > 0 ? true : false;
        char buf[4096];
        const ssize_t n = read(m_out, buf, sizeof buf);
        if (n <= 0) return false;
        m_text.append(buf, static_cast<size_t>(n));
        return true;
    }

    fs::path m_dir;
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_exited = false;
    std::string m_text;
    size_t m_scan = 0;
};

// The host end of a port, set up as a driver sets up its line.
class Terminal {
  public:
    explicit Terminal(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd < 0) return;
        termios t{};
        tcgetattr(m_fd, &t);
        cfmakeraw(&t);
        tcsetattr(m_fd, TCSANOW, &t);
        tcflush(m_fd, TCIFLUSH);
    }
    ~Terminal() {
        if (m_fd >= 0) close(m_fd);
    }
    bool Ok() const { return m_fd >= 0; }
    int Fd() const { return m_fd; }

    // Sends `request`, then collects bytes until `expect` are in (or a CR,
    // for 0) or `timeoutMs` passed.
    Bytes Ask(const Bytes& request, size_t expect, int timeoutMs = 1000) {
        tcflush(m_fd, TCIFLUSH);
        const auto start = Clock::now();
        EXPECT_EQ(write(m_fd, request.data(), request.size()),
                  static_cast<ssize_t>(request.size()));
        Bytes got;
        const auto done = [&] {
            return expect ? got.size() >= expect : std::count(got.begin(), got.end(), '\r') > 0;
        };
        for (int left = timeoutMs; !done() && left > 0;
             left = timeoutMs - static_cast<int>(MsSince(start))) {
            pollfd p{m_fd, POLLIN, 0};
            uint8_t buf[256];
            if (poll(&p, 1, left) <= 0) continue;
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    std::string AskLine(const std::string& line) {
        const Bytes got = Ask(Bytes(line.begin(), line.end()), 0);
        return std::string(got.begin(), got.end());
    }

  private:
    int m_fd = -1;
};

// FE station command|80 and the XOR checksum as two nibbles.
Bytes ReadFrame(uint8_t station, uint8_t command) {
    const uint8_t c = command | 0x80;
    const uint8_t x = 0xFE ^ station ^ c;
    return {0xFE, station, c, static_cast<uint8_t>(x >> 4), static_cast<uint8_t>(x & 15)};
}

const Bytes kOnePointZero{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};

constexpr const char* kConfig = "port COM1 bus 115200\n"
                                "station 1 value=1.0\n"
                                "station 2 value=2.0\n"
                                "port COM2 ascii 115200\n"
                                "station 1 value=1234.5\n"
                                "port COM3 bus 9600\n"
                                "station 1 value=1.0\n"
                                "usb 100234 value=3.25\n";

using SimProgram = ScratchTest;

} // namespace

// What the instruments do with a control line is the configuration's and
// the instrument's (SimConfigTest, InstrumentTest); here: that every port is
// served through its link, the FIFO reaches the running instruments, a bad
// line is reported, and the trace records both directions.
TEST_F(SimProgram, ServesItsLinksTakesControlLinesAndTraces) {
    SimProcess sim(kConfig, m_folder);
    const std::string out = sim.Output();
    for (const std::string& link : {sim.PortPath("COM1"), sim.PortPath("COM2"),
                                    sim.PortPath("COM3"), sim.UsbPath("100234")}) {
        EXPECT_TRUE(fs::is_symlink(link)) << link;
        EXPECT_TRUE(fs::exists(link)) << link; // it leads to a live device
        EXPECT_NE(out.find(link + " -> /dev/pts/"), std::string::npos) << out;
    }
    EXPECT_LT(out.find("COM1"), out.find("ready"));
    Terminal com1(sim.PortPath("COM1"));
    Terminal com2(sim.PortPath("COM2"));
    Terminal usb(sim.UsbPath("100234"));
    ASSERT_TRUE(com1.Ok());
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);
    EXPECT_EQ(com2.AskLine("!001:SYS?\r"), "1234.5\r");
    EXPECT_EQ(usb.AskLine("!000:SYS?\r"), "3.25\r");
    com1.Ask(Bytes{0x42}, 1, 100);

    sim.Control("set COM1 1 fault=nak");
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 2), (Bytes{0x01, 0x15}));
    sim.Write("set COM1 1 fault=exploded");
    EXPECT_TRUE(sim.WaitForLine("control error: unknown fault", 3000)) << sim.Output();
    sim.Control("set COM1 1 fault=none");
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);

    const std::string trace = FileBytes(sim.TracePath());
    EXPECT_NE(trace.find(" COM1 rx FE 01 8A 07 05\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find(" COM1 tx 01 03 0F 08 00 00 00 00 80 08 05\n"), std::string::npos);
    EXPECT_NE(trace.find(" COM2 rx 21 30 30 31 3A 53 59 53 3F 0D\n"), std::string::npos);
    EXPECT_NE(trace.find(" COM2 tx 31 32 33 34 2E 35 0D\n"), std::string::npos);
    // A stray byte that can start no request is recorded as such.
    EXPECT_NE(trace.find(" COM1 junk 42\n"), std::string::npos);
}

TEST_F(SimProgram, ATraceThatCannotBeWrittenNeitherHangsNorPassesSilently) {
    const fs::path trace = m_folder / "trace.txt";
    ASSERT_EQ(mkfifo(trace.c_str(), 0600), 0);
    {
        SimProcess sim(kConfig, m_folder, false);
        EXPECT_EQ(sim.Wait(3000), 1); // refused at once, not hung in the open
        EXPECT_NE(sim.Output().find("cannot write the trace"), std::string::npos) << sim.Output();
    }
    fs::remove(trace);
    fs::create_symlink("/dev/full", trace);
    SimProcess sim(kConfig, m_folder);
    Terminal com1(sim.PortPath("COM1"));
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);
    EXPECT_TRUE(sim.WaitForLine("vexa-sim: cannot write the trace", 3000)) << sim.Output();
    EXPECT_EQ(sim.Output().find("cannot write the trace"),
              sim.Output().rfind("cannot write the trace"));
}

TEST_F(SimProgram, StopsCleanlyAndRemovesItsLinks) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SimProcess sim(kConfig, m_folder);
        ASSERT_TRUE(fs::is_symlink(sim.PortPath("COM1")));
        EXPECT_EQ(sim.Stop(sig), 0) << sim.Output();
        EXPECT_FALSE(fs::is_symlink(sim.PortPath("COM1")));
        EXPECT_FALSE(fs::is_symlink(sim.PortPath("COM3")));
        EXPECT_FALSE(fs::is_symlink(sim.UsbPath("100234")));
        EXPECT_FALSE(fs::exists(sim.ControlPath())); // the FIFO it made
    }
}

TEST_F(SimProgram, LeavesSomeoneElsesLinkAloneAndReplacesADeadOne) {
    fs::create_directories(m_folder / "ports");
    // A mapped adapter (stood in for by /dev/null) must survive.
    fs::create_symlink("/dev/null", m_folder / "ports" / "COM1");
    {
        SimProcess sim(kConfig, m_folder, false);
        EXPECT_EQ(sim.Wait(5000), 1);
        EXPECT_NE(sim.Output().find("already points to /dev/null"), std::string::npos)
            << sim.Output();
        EXPECT_EQ(fs::read_symlink(m_folder / "ports" / "COM1"), "/dev/null");
        EXPECT_FALSE(fs::exists(sim.PortPath("COM2"))); // nothing left half served
    }
    // Told to, it takes the name over, and gives it up when it stops.
    {
        SimProcess sim(kConfig, m_folder, true, "--replace");
        Terminal com1(sim.PortPath("COM1"));
        EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);
        EXPECT_EQ(sim.Stop(), 0);
        EXPECT_FALSE(fs::is_symlink(sim.PortPath("COM1")));
    }
    // A link left dangling by a killed simulator is taken over.
    fs::create_symlink("/dev/pts/no-such-terminal", m_folder / "ports" / "COM1");
    SimProcess sim(kConfig, m_folder);
    Terminal com1(sim.PortPath("COM1"));
    EXPECT_EQ(com1.Ask(ReadFrame(1, 10), 11), kOnePointZero);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(fs::is_symlink(sim.PortPath("COM1")));
}

TEST_F(SimProgram, PortCanBeHeldExclusivelyAgainAfterItsUserClosedIt) {
    SimProcess sim(kConfig, m_folder);
    {
        Terminal first(sim.PortPath("COM1"));
        ASSERT_EQ(ioctl(first.Fd(), TIOCEXCL), 0);
        EXPECT_EQ(first.Ask(ReadFrame(1, 10), 11), kOnePointZero);
    }
    // A pseudo terminal keeps the exclusive mark past the close; the
    // simulator clears it, or the next (unprivileged) open would fail.
    const auto start = Clock::now();
    int exclusive = 1;
    while (MsSince(start) < 3000) {
        Terminal probe(sim.PortPath("COM1"));
        ASSERT_TRUE(probe.Ok());
        ASSERT_EQ(ioctl(probe.Fd(), TIOCGEXCL, &exclusive), 0);
        if (!exclusive) break;
        usleep(10000);
    }
    EXPECT_EQ(exclusive, 0);
    Terminal second(sim.PortPath("COM1"));
    EXPECT_EQ(second.Ask(ReadFrame(1, 10), 11), kOnePointZero);
}

TEST_F(SimProgram, CommandLineHelpAndConfigurationCheck) {
    const auto run = [](const std::string& arguments) {
        return WEXITSTATUS(std::system((std::string(VEXA_SIM_PATH) + " " + arguments).c_str()));
    };
    EXPECT_EQ(run("--help >" + Path("help")), 0);
    const std::string help = FileBytes(Path("help"));
    for (const char* word : {"port COM<N>", "station N", "usb SERIAL", "fault=", "--control"})
        EXPECT_NE(help.find(word), std::string::npos) << word;
    PutFileBytes(Path("bad.conf"), "port COM1 bus 9600\nstation 300\n");
    EXPECT_EQ(run("--check --config " + Path("bad.conf") + " 2>" + Path("err")), 2);
    EXPECT_NE(FileBytes(Path("err")).find("bad.conf:2:"), std::string::npos);
    EXPECT_EQ(run("--check --config " VEXA_SIM_DEMO), 0);
}
