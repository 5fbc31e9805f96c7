// The simulator program, started as a child and spoken to through its
// linked terminals with plain termios code, as a driver would.
#include "support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// Runs `done` every 10 ms until it holds or `ms` passed.
template <class Done> bool Within(int ms, Done done) {
    for (int waited = 0; !done(); waited += 10) {
        if (waited >= ms) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A running vexa-sim with its own link folders, trace and control FIFO in
// `dir`; its output goes to dir/out.
class SimProcess {
  public:
    SimProcess(const fs::path& dir, bool waitReady = true, const char* extra = nullptr)
        : m_dir(dir) {
        PutFileBytes(dir / "sim.conf", "port COM1 bus 115200\nstation 1 value=1.0\n"
                                       "port COM2 ascii 115200\nstation 1 value=1234.5\n"
                                       "port COM3 bus 9600\nstation 1 value=1.0\n"
                                       "usb 100234 value=3.25\n");
        m_start = FileBytes(Out()).size();
        m_pid = fork();
        if (m_pid == 0) {
            const int out = open(Out().c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            dup2(out, 1);
            dup2(out, 2);
            setenv("VEXA_PORTS_DIR", (dir / "ports").c_str(), 1);
            setenv("VEXA_USB_DIR", (dir / "usb").c_str(), 1);
            execl(VEXA_SIM_PATH, "vexa-sim", "--config", (dir / "sim.conf").c_str(), "--trace",
                  Trace().c_str(), "--control", Control().c_str(), extra, nullptr);
            _exit(127);
        }
        if (waitReady) {
            EXPECT_TRUE(WaitFor("ready")) << Output();
        }
    }
    ~SimProcess() {
        if (m_status < 0) Stop(SIGKILL);
    }
    std::string Port(const std::string& name) const { return m_dir / "ports" / name; }
    std::string Usb(const std::string& serial) const { return m_dir / "usb" / serial; }
    std::string Trace() const { return m_dir / "trace.txt"; }
    std::string Control() const { return m_dir / "control"; }
    std::string Out() const { return m_dir / "out"; }
    std::string Output() const { return FileBytes(Out()).substr(m_start); }
    // Whether a line starting with `prefix` came, within 3 s.
    bool WaitFor(const std::string& prefix) {
        return Within(3000, [&] {
            const std::string out = "\n" + Output();
            return out.find("\n" + prefix) != std::string::npos;
        });
    }
    // Sends a control line.
    void Send(const std::string& line) {
        const int fd = open(Control().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, (line + "\n").data(), line.size() + 1), ssize_t(line.size() + 1));
        close(fd);
    }
    // Sends `sig` (none: waits only) and returns the exit status, -1 when
    // there is none within 5 s.
    int Stop(int sig = SIGTERM) {
        if (sig) kill(m_pid, sig);
        int status = 0;
        if (!Within(5000, [&] { return waitpid(m_pid, &status, WNOHANG) == m_pid; })) return -1;
        return m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

  private:
    fs::path m_dir;
    pid_t m_pid = -1;
    int m_status = -1;
    size_t m_start = 0;
};

// The host end of a port, set up as a driver sets up its line.
class Terminal {
  public:
    explicit Terminal(const std::string& path) : fd(open(path.c_str(), O_RDWR | O_NOCTTY)) {
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    ~Terminal() { close(fd); }
    // Sends `request` and collects bytes until `expect` are in, for at most
    // a second.
    Bytes Ask(const Bytes& request, size_t expect) {
        tcflush(fd, TCIFLUSH);
        EXPECT_EQ(write(fd, request.data(), request.size()), ssize_t(request.size()));
        Bytes got;
        pollfd p{fd, POLLIN, 0};
        uint8_t buf[256];
        while (got.size() < expect && poll(&p, 1, 1000) > 0) {
            const ssize_t n = read(fd, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    bool ReadsOne() { return Ask({0xFE, 0x01, 0x8A, 0x07, 0x05}, 11) == kOnePointZero; }
    const Bytes kOnePointZero{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
    const int fd;
};

using SimProgram = ScratchTest;

} // namespace

// Requests through the links, control lines and the trace are what the end
// to end, reliability and window tests run on; here the links themselves,
// a refused control line, and a trace of both directions and of junk.
TEST_F(SimProgram, ServesItsLinksTakesControlLinesAndTraces) {
    SimProcess sim(m_folder);
    const std::string out = sim.Output();
    for (const std::string& link :
         {sim.Port("COM1"), sim.Port("COM2"), sim.Port("COM3"), sim.Usb("100234")}) {
        EXPECT_TRUE(fs::is_symlink(link) && fs::exists(link)) << link; // to a live device
        EXPECT_NE(out.find(link + " -> /dev/pts/"), std::string::npos) << out;
    }
    EXPECT_LT(out.find("COM1"), out.find("ready"));
    std::optional<Terminal> terminal(sim.Port("COM1"));
    Terminal& com1 = *terminal;
    com1.Ask(Bytes{0x42}, 1);
    EXPECT_TRUE(com1.ReadsOne());
    sim.Send("set COM1 1 fault=exploded");
    EXPECT_TRUE(sim.WaitFor("control error: unknown fault")) << sim.Output();
    const std::string trace = FileBytes(sim.Trace());
    for (const char* unit :
         {" COM1 rx FE 01 8A 07 05\n", " COM1 tx 01 03 0F 08 00 00 00 00 80 08 05\n",
          " COM1 junk 42\n"}) // a stray byte that can start no request
        EXPECT_NE(trace.find(unit), std::string::npos) << unit << trace;
    // A pseudo terminal keeps the exclusive mark past the close; the
    // simulator clears it, or the next (unprivileged) open would fail.
    ASSERT_EQ(ioctl(com1.fd, TIOCEXCL), 0);
    EXPECT_TRUE(com1.ReadsOne());
    terminal.reset();
    EXPECT_TRUE(Within(3000, [&] {
        int exclusive = 1;
        return ioctl(Terminal(sim.Port("COM1")).fd, TIOCGEXCL, &exclusive) == 0 && !exclusive;
    }));
    EXPECT_TRUE(Terminal(sim.Port("COM1")).ReadsOne());
}

TEST_F(SimProgram, ATraceThatCannotBeWrittenNeitherHangsNorPassesSilently) {
    ASSERT_EQ(mkfifo(Path("trace.txt").c_str(), 0600), 0);
    {
        SimProcess sim(m_folder, false);
        EXPECT_EQ(sim.Stop(0), 1); // refused at once, not hung in the open
        EXPECT_NE(sim.Output().find("cannot write the trace"), std::string::npos) << sim.Output();
    }
    fs::remove(Path("trace.txt"));
    fs::create_symlink("/dev/full", Path("trace.txt"));
    SimProcess sim(m_folder);
    Terminal com1(sim.Port("COM1"));
    EXPECT_TRUE(com1.ReadsOne());
    EXPECT_TRUE(com1.ReadsOne());
    EXPECT_TRUE(sim.WaitFor("vexa-sim: cannot write the trace")) << sim.Output();
    EXPECT_EQ(sim.Output().find("cannot write the trace"),
              sim.Output().rfind("cannot write the trace"));
}

TEST_F(SimProgram, LeavesSomeoneElsesLinkAloneAndReplacesADeadOne) {
    fs::create_directories(m_folder / "ports");
    // A mapped adapter (stood in for by /dev/null) must survive.
    fs::create_symlink("/dev/null", Path("ports/COM1"));
    {
        SimProcess sim(m_folder, false);
        EXPECT_EQ(sim.Stop(0), 1);
        EXPECT_NE(sim.Output().find("already points to /dev/null"), std::string::npos)
            << sim.Output();
        EXPECT_EQ(fs::read_symlink(Path("ports/COM1")), "/dev/null");
        EXPECT_FALSE(fs::exists(sim.Port("COM2"))); // nothing left half served
    }
    // Told to, it takes the name over; a link left dangling by a killed
    // simulator it takes over anyway. Each stop signal ends it cleanly, its
    // links and FIFO gone.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (sig == SIGINT) fs::create_symlink("/dev/pts/no-such-terminal", Path("ports/COM1"));
        SimProcess sim(m_folder, true, sig == SIGTERM ? "--replace" : nullptr);
        EXPECT_TRUE(Terminal(sim.Port("COM1")).ReadsOne());
        EXPECT_EQ(sim.Stop(sig), 0) << sim.Output();
        for (const std::string& gone : {sim.Port("COM1"), sim.Usb("100234"), sim.Control()})
            EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
    }
}

TEST_F(SimProgram, CommandLineHelpAndConfigurationCheck) {
    const auto run = [](const std::string& arguments) {
        return WEXITSTATUS(std::system((std::string(VEXA_SIM_PATH) + " " + arguments).c_str()));
    };
    EXPECT_EQ(run("--help >" + Path("help")), 0);
    for (const char* word : {"port COM<N>", "usb SERIAL", "--control"})
        EXPECT_NE(FileBytes(Path("help")).find(word), std::string::npos) << word;
    PutFileBytes(Path("bad.conf"), "port COM1 bus 9600\nstation 300\n");
    EXPECT_EQ(run("--check --config " + Path("bad.conf") + " 2>" + Path("err")), 2);
    EXPECT_NE(FileBytes(Path("err")).find("bad.conf:2:"), std::string::npos);
    EXPECT_EQ(run("--check --config " VEXA_SIM_DEMO), 0);
}
