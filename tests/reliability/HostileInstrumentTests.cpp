// The driver libraries, loaded as the program loads them, against hostile
// instruments: the simulator's line noise, cut-off replies, wrong stations,
// bad checksums, late replies and streams on every station, a terminal that
// floods random bytes, and a line that hangs up. Every call must end within
// four time-outs with a code of the result table, and memory must stay flat.
//
// Each case runs for TARNVIK_HOSTILE_SECONDS seconds (default 8, so the
// suite stays short; set 60 for the full minute).
#include "Harness.h"
#include "VexaResultText.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace reliability;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr int kTimeoutMs = 100;
// Four attempts of one time-out each and the broadcast's 0.2 s settling, with
// room for a loaded machine: this catches a wait that does not end. The exact
// bound is checked in virtual time by the transaction fuzz target.
constexpr double kCallBoundMs = 4 * kTimeoutMs + 200 + 1500;

double HostileSeconds() {
    const char* text = std::getenv("TARNVIK_HOSTILE_SECONDS");
    const double seconds = text ? std::atof(text) : 0;
    return seconds > 0 ? seconds : 8;
}

template <typename F> F Entry(void* library, const char* name) {
    void* symbol = dlsym(library, name);
    if (!symbol) throw std::runtime_error(std::string("no entry ") + name);
    return reinterpret_cast<F>(symbol);
}

// The common entries of both libraries.
struct Driver {
    explicit Driver(const std::string& file) {
        handle = dlopen((BinDir() + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) throw std::runtime_error(dlerror());
        OPENPORT = Entry<VexaOpenPortFn>(handle, "OPENPORT");
        CLOSEPORT = Entry<VexaClosePortFn>(handle, "CLOSEPORT");
        SETTIMEOUT = Entry<VexaSetTimeoutFn>(handle, "SETTIMEOUT");
    }
    // Libraries stay loaded, as in the program; only the port is closed.
    ~Driver() { CLOSEPORT(); }
    void* handle = nullptr;
    VexaOpenPortFn OPENPORT = nullptr;
    VexaClosePortFn CLOSEPORT = nullptr;
    VexaSetTimeoutFn SETTIMEOUT = nullptr;
};

struct BusDriver : Driver {
    BusDriver() : Driver("libVeldabus2Drv.so") {
        READCOMMAND = Entry<VexaBusReadFn>(handle, "READCOMMAND");
        WRITECOMMAND = Entry<VexaBusWriteFn>(handle, "WRITECOMMAND");
        EXECUTECOMMAND = Entry<VexaBusExecuteFn>(handle, "EXECUTECOMMAND");
    }
    VexaBusReadFn READCOMMAND = nullptr;
    VexaBusWriteFn WRITECOMMAND = nullptr;
    VexaBusExecuteFn EXECUTECOMMAND = nullptr;
};

struct AsciiDriver : Driver {
    AsciiDriver() : Driver("libVeldaASCII2Drv.so") {
        READCOMMAND = Entry<VexaAsciiReadFn>(handle, "READCOMMAND");
        WRITECOMMAND = Entry<VexaAsciiWriteFn>(handle, "WRITECOMMAND");
        EXECUTECOMMAND = Entry<VexaAsciiExecuteFn>(handle, "EXECUTECOMMAND");
        POLLSTREAM = Entry<VexaPollStreamFn>(handle, "POLLSTREAM");
    }
    VexaAsciiReadFn READCOMMAND = nullptr;
    VexaAsciiWriteFn WRITECOMMAND = nullptr;
    VexaAsciiExecuteFn EXECUTECOMMAND = nullptr;
    VexaPollStreamFn POLLSTREAM = nullptr;
};

// Times every call, checks its code and bound, and watches memory.
class CallJudge {
  public:
    template <typename Call> int16_t operator()(const char* what, int station, Call&& call) {
        const auto start = std::chrono::steady_clock::now();
        const int16_t code = call();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        EXPECT_TRUE(VexaIsResultCode(code)) << what << " station " << station << ": " << code;
        EXPECT_LE(ms, kCallBoundMs) << what << " station " << station << " took " << ms << " ms";
        longest = std::max(longest, ms);
        ++calls;
        ++codes[code];
        if (calls == 50) residentAfterWarmUp = OwnResidentKb();
        return code;
    }
    void ExpectFlatMemory() const {
        if (kSanitized || residentAfterWarmUp == 0) return; // the sanitizer holds freed memory
        const long growth = OwnResidentKb() - residentAfterWarmUp;
        EXPECT_LT(growth, 2048) << "resident memory grew by " << growth << " kB over " << calls
                                << " calls";
    }
    std::string Summary() const {
        std::string s = std::to_string(calls) + " calls, longest " +
                        std::to_string(static_cast<int>(longest)) + " ms, codes:";
        for (const auto& [code, n] : codes)
            s += " " + std::to_string(code) + "x" + std::to_string(n);
        if (residentAfterWarmUp > 0)
            s += ", resident " + std::to_string(residentAfterWarmUp) + " -> " +
                 std::to_string(OwnResidentKb()) + " kB";
        return s;
    }
    long calls = 0;
    double longest = 0;
    long residentAfterWarmUp = 0;
    std::map<int, long> codes;
};

bool TimeLeft(std::chrono::steady_clock::time_point end) {
    return std::chrono::steady_clock::now() < end;
}

// The end of a run taking `share` of the configured time.
std::chrono::steady_clock::time_point RunEnd(double share = 1.0) {
    return std::chrono::steady_clock::now() +
           std::chrono::milliseconds(static_cast<long>(HostileSeconds() * share * 1000));
}

class HostileInstrument : public ::testing::Test {
  protected:
    void Serve(const std::vector<std::string>& config) {
        sim = std::make_unique<Simulator>(dir, config);
        ASSERT_TRUE(sim->Ready()) << ReadFile(dir.File("sim.err"));
        setenv("VEXA_PORTS_DIR", sim->PortsDir().c_str(), 1);
    }
    TempDir dir;
    std::unique_ptr<Simulator> sim;
};

// One protocol's calls, exercised on stations 1..stations in turn until the
// run's time (or `share` of it) is up, with a broadcast every ten rounds.
struct StationCalls {
    std::function<int16_t(int station, float* value)> read;
    std::function<int16_t(int station)> write;
    std::function<int16_t(int station)> execute;
    std::function<int16_t()> broadcast;
    std::function<void(CallJudge&)> afterStation; // optional
};

void Exercise(CallJudge& judge, int stations, const StationCalls& calls, double share = 1.0) {
    const auto end = RunEnd(share);
    for (int round = 0; TimeLeft(end); ++round) {
        for (int station = 1; station <= stations && TimeLeft(end); ++station) {
            const float mark = -12345.0f;
            float value = mark;
            const int16_t code =
                judge("READCOMMAND", station, [&] { return calls.read(station, &value); });
            if (code != 0) {
                EXPECT_EQ(value, mark) << "a failed read changed the value";
            }
            judge("WRITECOMMAND", station, [&] { return calls.write(station); });
            judge("EXECUTECOMMAND", station, [&] { return calls.execute(station); });
            if (calls.afterStation) calls.afterStation(judge);
        }
        if (round % 10 == 0) judge("broadcast", 0, calls.broadcast);
    }
    judge.ExpectFlatMemory();
}

TEST_F(HostileInstrument, BusStationsWithEveryFault) {
    Serve({"port COM1 bus 115200", "station 1 value=1 noise=100", "station 2 value=2 fault=cut",
           "station 3 value=3 fault=station,checksum noise=50", "station 4 value=4 late=150",
           "station 5 value=5 fault=nak noise=30", "station 6 value=6 late=60 noise=60"});
    BusDriver bus;
    ASSERT_EQ(bus.OPENPORT(1, 115200), 0);
    ASSERT_EQ(bus.SETTIMEOUT(kTimeoutMs), 0);
    CallJudge judge;
    Exercise(judge, 6,
             {[&](int s, float* v) { return bus.READCOMMAND(static_cast<int16_t>(s), 10, v); },
              [&](int s) { return bus.WRITECOMMAND(static_cast<int16_t>(s), 5, 2.5f); },
              [&](int s) { return bus.EXECUTECOMMAND(static_cast<int16_t>(s), 7); },
              [&] { return bus.EXECUTECOMMAND(0, 103); },
              {}});
    std::printf("bus: %s\n", judge.Summary().c_str());
}

TEST_F(HostileInstrument, AsciiStationsWithEveryFaultAndStreams) {
    // A streaming instrument answers every request on its line (ASCII replies
    // carry no address), so it gets a line of its own.
    Serve({"port COM2 ascii 115200", "station 1 value=1 noise=100", "station 2 value=2 fault=cut",
           "station 3 value=3 fault=nak noise=50", "station 4 value=4 late=150",
           "station 5 value=5 late=60 noise=60", "port COM3 ascii 115200",
           "station 1 value=1 stream=2 noise=30", "station 2 value=2 noise=100"});
    AsciiDriver ascii;
    ASSERT_EQ(ascii.SETTIMEOUT(kTimeoutMs), 0);
    CallJudge judge;
    const StationCalls calls{
        [&](int s, float* v) { return ascii.READCOMMAND(static_cast<int16_t>(s), "SYS", v); },
        [&](int s) { return ascii.WRITECOMMAND(static_cast<int16_t>(s), "W", -3.25f); },
        [&](int s) { return ascii.EXECUTECOMMAND(static_cast<int16_t>(s), "X"); },
        [&] { return ascii.EXECUTECOMMAND(-1, "SNAP"); },
        {}};
    ASSERT_EQ(ascii.OPENPORT(2, 115200), 0);
    Exercise(judge, 5, calls, 0.5);

    StationCalls streaming = calls;
    streaming.afterStation = [&](CallJudge& j) {
        const float mark = -12345.0f;
        float streamed = mark;
        const int16_t polled = j("POLLSTREAM", 0, [&] { return ascii.POLLSTREAM(&streamed); });
        EXPECT_TRUE(polled == 0 || polled == -600 || polled == -700 || polled == -999) << polled;
        if (polled != 0) {
            EXPECT_EQ(streamed, mark);
        }
    };
    ASSERT_EQ(ascii.OPENPORT(3, 115200), 0);
    Exercise(judge, 2, streaming, 0.5);
    std::printf("ascii: %s\n", judge.Summary().c_str());
}

// A pseudo terminal under the test's own control, linked as COM<port>.
class RawTerminal {
  public:
    RawTerminal(const std::string& portsDir, int port) {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo terminal");
        std::filesystem::create_directories(portsDir);
        std::filesystem::remove(portsDir + "/COM" + std::to_string(port));
        std::filesystem::create_symlink(ptsname(m_master),
                                        portsDir + "/COM" + std::to_string(port));
        // Raw on the far side, so no byte is taken as a line discipline.
        termios t{};
        tcgetattr(m_master, &t);
        cfmakeraw(&t);
        tcsetattr(m_master, TCSANOW, &t);
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~RawTerminal() {
        Stop();
        HangUp();
    }
    // Random bytes, without end, and the requests read away.
    void Flood(bool withCarriageReturns) {
        m_flooding = true;
        m_thread = std::thread([this, withCarriageReturns] {
            std::mt19937 random(7);
            uint8_t chunk[256];
            while (m_flooding) {
                for (auto& b : chunk) {
                    b = static_cast<uint8_t>(random());
                    if (!withCarriageReturns && b == '\r') b = 'x';
                }
                if (write(m_master, chunk, sizeof chunk) < 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                uint8_t drain[256];
                while (read(m_master, drain, sizeof drain) > 0) {
                }
            }
        });
    }
    void Stop() {
        m_flooding = false;
        if (m_thread.joinable()) m_thread.join();
    }
    void HangUp() {
        if (m_master >= 0) close(m_master);
        m_master = -1;
    }

  private:
    int m_master = -1;
    std::atomic<bool> m_flooding{false};
    std::thread m_thread;
};

TEST_F(HostileInstrument, EndlessRandomBytes) {
    const std::string ports = dir.File("ports");
    setenv("VEXA_PORTS_DIR", ports.c_str(), 1);
    const auto end = RunEnd();
    const auto half =
        std::chrono::steady_clock::now() + (end - std::chrono::steady_clock::now()) / 2;
    CallJudge judge;
    {
        RawTerminal terminal(ports, 9);
        terminal.Flood(true);
        BusDriver bus;
        ASSERT_EQ(bus.OPENPORT(9, 115200), 0);
        ASSERT_EQ(bus.SETTIMEOUT(kTimeoutMs), 0);
        for (int station = 1; TimeLeft(half); station = station % 255 + 1) {
            float value = 0;
            judge("READCOMMAND", station, [&] { return bus.READCOMMAND(station, 10, &value); });
            judge("WRITECOMMAND", station, [&] { return bus.WRITECOMMAND(station, 5, 1.0f); });
        }
    }
    {
        // No CR ever: a reply line that never ends.
        RawTerminal terminal(ports, 9);
        terminal.Flood(false);
        AsciiDriver ascii;
        ASSERT_EQ(ascii.OPENPORT(9, 115200), 0);
        ASSERT_EQ(ascii.SETTIMEOUT(kTimeoutMs), 0);
        for (int station = 1; TimeLeft(end); station = station % 999 + 1) {
            float value = 0;
            const int16_t code = judge("READCOMMAND", station,
                                       [&] { return ascii.READCOMMAND(station, "SYS", &value); });
            EXPECT_NE(code, 0) << "a line without CR was taken as a reply";
            judge("POLLSTREAM", 0, [&] { return ascii.POLLSTREAM(&value); });
        }
    }
    judge.ExpectFlatMemory();
    std::printf("random bytes: %s\n", judge.Summary().c_str());
}

// The instrument side goes away while the port is open: every call fails at
// once instead of waiting, or spinning, through its time-outs.
TEST_F(HostileInstrument, HungUpLineFailsWithoutWaiting) {
    const std::string ports = dir.File("ports");
    setenv("VEXA_PORTS_DIR", ports.c_str(), 1);
    RawTerminal busTerminal(ports, 7);
    RawTerminal asciiTerminal(ports, 8);
    BusDriver bus;
    AsciiDriver ascii;
    ASSERT_EQ(bus.OPENPORT(7, 115200), 0);
    ASSERT_EQ(ascii.OPENPORT(8, 115200), 0);
    ASSERT_EQ(bus.SETTIMEOUT(1000), 0);
    ASSERT_EQ(ascii.SETTIMEOUT(1000), 0);
    busTerminal.HangUp();
    asciiTerminal.HangUp();

    const auto before = ProcessUsage(getpid());
    const auto start = std::chrono::steady_clock::now();
    float value = 7.0f;
    EXPECT_EQ(bus.READCOMMAND(1, 10, &value), -100);
    EXPECT_EQ(ascii.READCOMMAND(1, "SYS", &value), -100);
    EXPECT_EQ(value, 7.0f);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto after = ProcessUsage(getpid());
    // Four attempts of 1000 ms each would be 8 s for the two reads.
    EXPECT_LT(seconds, 1.0) << "the reads waited on a line that hung up";
    EXPECT_LT(after->cpuSeconds - before->cpuSeconds, 0.5);
}

} // namespace
