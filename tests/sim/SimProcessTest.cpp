// The simulator program, started as a child and spoken to through its
// linked terminals with plain termios code, as a driver would.
#include "support/ChildProcess.h"
#include "support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// A running vexa-sim with its own link folders, trace and control FIFO in
// `dir`; its output goes to dir/out and dir/err.
class SimProcess : public Child {
  public:
    SimProcess(const fs::path& dir, bool waitReady = true, const char* extra = nullptr)
        : Child(Launch(dir, extra)), m_dir(dir) {
        if (waitReady) {
            EXPECT_TRUE(WaitFor("ready")) << Output();
        }
    }
    std::string Output() const { return FileBytes(m_dir / "out") + FileBytes(m_dir / "err"); }
    // Whether a line starting with `prefix` came, within 3 s.
    bool WaitFor(const std::string& prefix) {
        return WaitUntil([&] { return ("\n" + Output()).find("\n" + prefix) != std::string::npos; },
                         3000);
    }

  private:
    static ChildLaunch Launch(const fs::path& dir, const char* extra) {
        // No "ready" of an earlier run may be taken for this one's.
        fs::remove(dir / "out");
        PutFileBytes(dir / "sim.conf", "port COM1 bus 115200\nstation 1 value=1.0\n"
                                       "port COM2 ascii 115200\nstation 1 value=1234.5\n"
                                       "usb 100234 value=3.25\n");
        std::vector<std::string> argv{VEXA_SIM_PATH,     "--config",  dir / "sim.conf", "--trace",
                                      dir / "trace.txt", "--control", dir / "control"};
        if (extra) argv.push_back(extra);
        return {argv,
                {"VEXA_PORTS_DIR=" + (dir / "ports").string(),
                 "VEXA_USB_DIR=" + (dir / "usb").string()},
                dir / "out",
                dir / "err"};
    }
    fs::path m_dir;
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
    // Whether station 1 answers a read with 1.0.
    bool ReadsOne() {
        static const Bytes one{0x01, 0x03, 0x0F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80, 0x08, 0x05};
        return Ask({0xFE, 0x01, 0x8A, 0x07, 0x05}, 11) == one;
    }
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
    for (const std::string& link : {Path("ports/COM1"), Path("ports/COM2"), Path("usb/100234")})
        EXPECT_TRUE(fs::is_symlink(link) && fs::exists(link) && // to a live device
                    out.find(link + " -> /dev/pts/") != std::string::npos)
            << link << out;
    EXPECT_LT(out.find("COM1"), out.find("ready"));
    auto com1 = std::make_unique<Terminal>(Path("ports/COM1"));
    com1->Ask(Bytes{0x42}, 1);
    EXPECT_TRUE(com1->ReadsOne());
    std::ofstream(Path("control")) << "set COM1 1 fault=exploded\n";
    EXPECT_TRUE(sim.WaitFor("control error: unknown fault")) << sim.Output();
    const std::string trace = FileBytes(Path("trace.txt"));
    for (const char* unit :
         {" COM1 rx FE 01 8A 07 05\n", " COM1 tx 01 03 0F 08 00 00 00 00 80 08 05\n",
          " COM1 junk 42\n"}) // a stray byte that can start no request
        EXPECT_NE(trace.find(unit), std::string::npos) << unit << trace;
    // A pseudo terminal keeps the exclusive mark past the close; the
    // simulator clears it, or the next (unprivileged) open would fail.
    ASSERT_EQ(ioctl(com1->fd, TIOCEXCL), 0);
    EXPECT_TRUE(com1->ReadsOne());
    com1.reset();
    EXPECT_TRUE(WaitUntil(
        [&] {
            int exclusive = 1;
            return ioctl(Terminal(Path("ports/COM1")).fd, TIOCGEXCL, &exclusive) == 0 && !exclusive;
        },
        3000));
    EXPECT_TRUE(Terminal(Path("ports/COM1")).ReadsOne());
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.ExitCode(5000), 0);
}

// Refused at start, at once and with the reason: a trace it cannot open
// without hanging (a FIFO nobody reads) and a mapped adapter's link (stood
// in for by /dev/null), which must survive.
TEST_F(SimProgram, RefusesWhatItCannotServeAndReplacesADeadLink) {
    fs::create_directories(m_folder / "ports");
    ASSERT_EQ(mkfifo(Path("trace.txt").c_str(), 0600), 0);
    for (const char* reason : {"cannot write the trace", "already points to /dev/null"}) {
        if (reason[0] == 'a') fs::remove(Path("trace.txt"));
        if (reason[0] == 'a') fs::create_symlink("/dev/null", Path("ports/COM1"));
        SimProcess sim(m_folder, false);
        EXPECT_EQ(sim.ExitCode(5000), 1);
        EXPECT_NE(sim.Output().find(reason), std::string::npos) << sim.Output();
        EXPECT_FALSE(fs::exists(Path("ports/COM2"))); // nothing left half served
    }
    EXPECT_EQ(fs::read_symlink(Path("ports/COM1")), "/dev/null");
    // Told to, it takes the name over; a link left dangling by a killed
    // simulator it takes over anyway. A trace that fills up is reported
    // once, and serving goes on. Each stop signal ends it cleanly, its links
    // and FIFO gone.
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        if (sig == SIGINT) fs::create_symlink("/dev/pts/no-such-terminal", Path("ports/COM1"));
        if (sig == SIGHUP) fs::create_symlink("/dev/full", Path("trace.txt"));
        SimProcess sim(m_folder, true, sig == SIGTERM ? "--replace" : nullptr);
        EXPECT_TRUE(Terminal(Path("ports/COM1")).ReadsOne());
        const std::string full = "vexa-sim: cannot write the trace";
        if (sig == SIGHUP) {
            EXPECT_TRUE(sim.WaitFor(full)) << sim.Output();
        }
        EXPECT_EQ(sim.Output().find(full), sim.Output().rfind(full));
        sim.Signal(sig);
        EXPECT_EQ(sim.ExitCode(5000), 0) << sim.Output();
        for (const std::string& gone : {Path("ports/COM1"), Path("usb/100234"), Path("control")})
            EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
        fs::remove(Path("trace.txt"));
    }
    // The help names the usb line; a configuration refused by --check names
    // its line; the demo passes.
    const auto run = [](const std::string& arguments) {
        return WEXITSTATUS(std::system((std::string(VEXA_SIM_PATH) + " " + arguments).c_str()));
    };
    EXPECT_EQ(run("--help | grep -q 'usb SERIAL'"), 0);
    PutFileBytes(Path("bad.conf"), "port COM1 bus 9600\nstation 300\n");
    EXPECT_EQ(run("--check --config " + Path("bad.conf") + " 2>" + Path("check.err")), 2);
    EXPECT_NE(FileBytes(Path("check.err")).find("bad.conf:2:"), std::string::npos);
    EXPECT_EQ(run("--check --config " VEXA_SIM_DEMO), 0);
}
