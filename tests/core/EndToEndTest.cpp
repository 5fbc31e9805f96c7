// tarnvik-log against vexa-sim with the real driver libraries: the rows in
// the CSV against the simulated readings, the requests against the bytes the
// simulator received.
#include "DriverLibrary.h"

#include "../support/ScratchFolder.h"
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string BinFolder = DriverLibrary::ApplicationFolder();

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = text.find(separator, start)) != std::string::npos;
         start = end + separator.size())
        parts.push_back(text.substr(start, end - start));
    if (start < text.size()) parts.push_back(text.substr(start));
    return parts;
}

// A child process with its stdout on a pipe.
class Child {
  public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv) {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> envText(extraEnv);
        for (char** e = environ; *e; ++e)
            envText.emplace_back(*e);
        std::vector<char*> envp;
        for (auto& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        if (::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }
    bool Started() const { return m_pid > 0; }

    // Reads stdout until a line equals line or the time is up.
    bool WaitForLine(const std::string& line, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            if (m_text.find(line + "\n") != std::string::npos) return true;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, 50) > 0) {
                char buffer[512];
                const ssize_t n = ::read(m_out, buffer, sizeof buffer);
                if (n <= 0) return false;
                m_text.append(buffer, static_cast<size_t>(n));
            }
        }
        return false;
    }
    // Waits for the exit; -1 when it did not come in time.
    int Wait(int timeoutMs) {
        for (int waited = 0; waited < timeoutMs; waited += 10) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int signal) { ::kill(m_pid, signal); }
    const std::string& Output() const { return m_text; }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_text;
};

struct Request {
    std::string port;
    std::vector<unsigned> bytes;
};

// The "rx" lines of a simulator trace.
std::vector<Request> Received(const std::string& tracePath) {
    std::vector<Request> requests;
    for (const auto& line : Split(ReadFile(tracePath), "\n")) {
        std::istringstream in(line);
        std::string seconds, port, kind, hex;
        in >> seconds >> port >> kind;
        if (kind != "rx") continue;
        Request r{port, {}};
        while (in >> hex)
            r.bytes.push_back(static_cast<unsigned>(std::stoul(hex, nullptr, 16)));
        requests.push_back(r);
    }
    return requests;
}

std::string AsText(const std::vector<unsigned>& bytes) {
    std::string text;
    for (unsigned b : bytes)
        text += b == 0x0D ? std::string("<CR>") : std::string(1, char(b));
    return text;
}

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* file : {"tarnvik-log", "vexa-sim", "libVeldabus2Drv.so",
                                 "libVeldaASCII2Drv.so", "libVexaUSBDrv.so"}) {
            if (!Exists(BinFolder + "/" + file))
                GTEST_SKIP() << BinFolder << "/" << file << " is not built yet";
        }
        m_folder = MakeScratchFolder("tarnvik-e2e").string();
        ::mkdir((m_folder + "/ports").c_str(), 0700);
    }
    void TearDown() override {
        if (!m_folder.empty()) std::system(("rm -rf '" + m_folder + "'").c_str());
    }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    std::unique_ptr<Child> StartSimulator(const std::vector<std::string>& lines) {
        std::vector<std::string> args{
            BinFolder + "/vexa-sim", "--ports-dir", Path("ports"),  "--trace",
            Path("trace.txt"),       "--control",   Path("control")};
        for (const auto& l : lines) {
            args.push_back("-e");
            args.push_back(l);
        }
        auto sim = std::make_unique<Child>(args, std::vector<std::string>{});
        EXPECT_TRUE(sim->Started());
        EXPECT_TRUE(sim->WaitForLine("ready", 5000)) << sim->Output();
        return sim;
    }

    void WriteWorkspace(const std::string& text) {
        std::ofstream(Path("ws.lws"), std::ios::binary) << "[Workspace]\r\n" << text;
    }

    int RunLogger(const std::vector<std::string>& options, const std::string& locale = "C",
                  const std::string& logPath = "") {
        std::vector<std::string> args{BinFolder + "/tarnvik-log"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("--log");
        args.push_back(logPath.empty() ? Path("out.csv") : logPath);
        args.push_back(Path("ws.lws"));
        Child logger(args, {"VEXA_PORTS_DIR=" + Path("ports"), "LC_ALL=" + locale,
                            "QT_QPA_PLATFORM=offscreen"});
        return logger.Wait(30000);
    }

    std::vector<std::string> CsvLines() { return Split(ReadFile(Path("out.csv")), "\r\n"); }

    std::string m_folder;
};

TEST_F(EndToEnd, BusRowsHoldTheSimulatedReadingsAndEveryReadIsOneFrame) {
    auto sim = StartSimulator({"port COM5 bus 115200", "station 1 value=1.25",
                               "station 2 value=-7.5", "station 3 value=100"});
    WriteWorkspace("Port=5\r\nBaudrate=115200\r\nProtocol=0\r\nChannels=3\r\n"
                   "logInterval=300\r\nStation1=1\r\nCaption1=First\r\nStation2=2\r\n"
                   "Caption2=Second, B\r\nFormat2=0.0\r\nStation3=3\r\nCommand3=SUM\r\n");
    ASSERT_EQ(RunLogger({"--rows", "4"}), 0);
    const auto lines = CsvLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "Date,Time,Elapsed mS,First,\"Second, B\",Channel 3");
    for (size_t row = 1; row < lines.size(); ++row) {
        const auto fields = Split(lines[row], ",");
        ASSERT_EQ(fields.size(), 6u) << lines[row];
        EXPECT_EQ(fields[0].size(), 10u);
        EXPECT_EQ(fields[1].size(), 8u);
        EXPECT_NEAR(std::stod(fields[2]), 300.0 * row, 30.0 * row);
        EXPECT_EQ(fields[3], "01.250");
        EXPECT_EQ(fields[4], "-7.5");
        EXPECT_EQ(fields[5], "-06.250"); // the sum channel adds 1 and 2, station 3 is not asked
    }
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(5000), 0);
    // Three channels, one of them a sum: two read frames for the first pass
    // and for each row, nothing else.
    const auto requests = Received(Path("trace.txt"));
    ASSERT_EQ(requests.size(), 10u);
    for (size_t i = 0; i < requests.size(); ++i) {
        ASSERT_EQ(requests[i].bytes.size(), 5u);
        EXPECT_EQ(requests[i].bytes[0], 0xFEu);
        EXPECT_EQ(requests[i].bytes[1], i % 2 == 0 ? 1u : 2u);
        EXPECT_EQ(requests[i].bytes[2], 10u | 0x80u);
    }
}

TEST_F(EndToEnd, AsciiWithSnapLatchesEveryRowAfterTheFirstInACommaLocale) {
    auto sim =
        StartSimulator({"port COM7 ascii 115200", "station 1 value=3.5", "station 12 value=-0.25"});
    WriteWorkspace("Port=7\r\nBaudrate=115200\r\nProtocol=1\r\nSnap=1\r\nChannels=2\r\n"
                   "logInterval=300\r\nStation1=1\r\nFormat1=0.00\r\nStation2=12\r\n"
                   "Format2=0.000\r\n");
    ASSERT_EQ(RunLogger({"--rows", "3"}, "de_DE.UTF-8"), 0);
    const auto lines = CsvLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Date;Time;Elapsed mS;Channel 1;Channel 2");
    for (size_t row = 1; row < lines.size(); ++row) {
        const auto fields = Split(lines[row], ";");
        ASSERT_EQ(fields.size(), 5u) << lines[row];
        EXPECT_EQ(fields[0][2], '.') << "the German date separator";
        EXPECT_EQ(fields[3], "3,50");
        EXPECT_EQ(fields[4], "-0,250");
    }
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(5000), 0);
    std::vector<std::string> sent;
    for (const auto& r : Received(Path("trace.txt")))
        sent.push_back(AsText(r.bytes));
    const std::string a = "!001:SYSN?<CR>", b = "!012:SYSN?<CR>", snap = "!000:SNAP<CR>";
    // The first pass, before logging, reads live values.
    EXPECT_EQ(sent, (std::vector<std::string>{"!001:SYS?<CR>", "!012:SYS?<CR>", a, b, snap, a, b,
                                              snap, a, b}));
}

TEST_F(EndToEnd, FailuresExitWithStatusOneAndAMessage) {
    // No simulator: the port does not open.
    WriteWorkspace("Port=9\r\nProtocol=0\r\nChannels=1\r\n");
    EXPECT_EQ(RunLogger({"--rows", "1"}), 1);
    EXPECT_FALSE(Exists(Path("out.csv")));
    // A rate check that fails.
    auto sim = StartSimulator({"port COM9 bus 115200", "station 1 value=1"});
    WriteWorkspace("Port=9\r\nProtocol=0\r\nChannels=4\r\nlogInterval=18\r\n");
    EXPECT_EQ(RunLogger({"--rows", "1"}), 1);
    EXPECT_FALSE(Exists(Path("out.csv")));
    // A protocol that names no driver.
    WriteWorkspace("Port=9\r\nProtocol=3\r\nChannels=1\r\n");
    EXPECT_EQ(RunLogger({"--rows", "1"}), 1);
    EXPECT_FALSE(Exists(Path("out.csv")));
    // A log file that cannot be created.
    WriteWorkspace("Port=9\r\nProtocol=0\r\nChannels=1\r\n");
    EXPECT_EQ(RunLogger({"--rows", "1"}, "C", Path("no-such-folder/out.csv")), 1);
    // A workspace that is not there.
    ::unlink(Path("ws.lws").c_str());
    EXPECT_EQ(RunLogger({"--rows", "1"}), 1);
}

TEST_F(EndToEnd, ASignalEndsTheRunWithTheFileClosedAndWhole) {
    auto sim =
        StartSimulator({"port COM4 bus 115200", "station 1 value=2", "station 2 fault=silent"});
    WriteWorkspace("Port=4\r\nProtocol=0\r\nChannels=2\r\nlogInterval=400\r\nlogDefault=9999\r\n");
    Child logger({BinFolder + "/tarnvik-log", "--log", Path("out.csv"), Path("ws.lws")},
                 {"VEXA_PORTS_DIR=" + Path("ports"), "LC_ALL=C"});
    // The first pass waits out the silent station's four time-outs; a signal
    // before the first row would end the run with none.
    for (int waited = 0; waited < 10000 && CsvLines().size() < 2; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    logger.Signal(SIGINT);
    EXPECT_EQ(logger.Wait(10000), 2); // completed, with failed readings
    const auto lines = CsvLines();
    ASSERT_GE(lines.size(), 2u);
    for (size_t row = 1; row < lines.size(); ++row) {
        const auto fields = Split(lines[row], ",");
        ASSERT_EQ(fields.size(), 5u) << lines[row];
        EXPECT_EQ(fields[3], "02.000");
        EXPECT_EQ(fields[4], "9999.000"); // the silent instrument logs the log default
    }
}

// One silent station on a line of four, the retry every 3 s: the others
// keep every row, and the station is logged again soon after it answers.
TEST_F(EndToEnd, ASilentStationCostsTheOthersNoRowsAndIsLoggedWhenItAnswers) {
    auto sim = StartSimulator({"port COM3 bus 115200", "station 1 value=1", "station 2 value=2",
                               "station 3 value=3", "station 4 value=4 fault=silent"});
    WriteWorkspace("Port=3\r\nProtocol=0\r\nChannels=4\r\nlogInterval=200\r\n"
                   "logDefault=9999\r\n");
    Child logger(
        {BinFolder + "/tarnvik-log", "--seconds", "16", "--log", Path("out.csv"), Path("ws.lws")},
        {"VEXA_PORTS_DIR=" + Path("ports"), "LC_ALL=C", "TARNVIK_RETRY_MS=3000"});
    const auto elapsed = [](const std::string& line) { return std::stod(Split(line, ",")[2]); };
    for (int waited = 0; waited < 20000 && CsvLines().size() < 36; waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double backAt = elapsed(CsvLines().back()); // two retries behind
    std::ofstream(Path("control")) << "set COM3 4 fault=none\n";
    EXPECT_EQ(logger.Wait(20000), 2);

    const auto lines = CsvLines();
    ASSERT_GE(lines.size(), 1u + 40); // about 12 s of logging at 200 ms
    double previous = 0, longestGap = 0, loggedAgainAt = -1;
    for (size_t row = 1; row < lines.size(); ++row) {
        const auto fields = Split(lines[row], ",");
        ASSERT_EQ(fields.size(), 7u) << lines[row];
        EXPECT_EQ(fields[3], "01.000");
        longestGap = std::max(longestGap, elapsed(lines[row]) - previous);
        previous = elapsed(lines[row]);
        if (loggedAgainAt < 0 && fields[6] == "04.000") loggedAgainAt = previous;
        EXPECT_EQ(fields[6], loggedAgainAt < 0 ? "9999.000" : "04.000") << lines[row];
    }
    // A full read of the dead station would leave a gap of 4 s; a probe
    // fits between two rows (one row's slack allowed for a loaded machine).
    EXPECT_LE(longestGap, 3 * 200);
    // Every row the logged time is due, two rows' jitter aside.
    EXPECT_GE(static_cast<double>(lines.size() - 1), previous / 200 - 2);
    EXPECT_GT(loggedAgainAt, backAt);
    EXPECT_LE(loggedAgainAt, backAt + 3000 + 2 * 200);
}

} // namespace
