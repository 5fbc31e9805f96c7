// The driver DLLs as a Windows program uses them (LoadLibraryA and
// GetProcAddress by the plain entry names), under Wine against vexa-sim:
// COM1 carries VeldaBus, COM2 the ASCII protocol (tests/windows/wire.conf).
// scripts/windows.sh names the simulator's trace, control FIFO and output
// in VEXA_SIM_TRACE, VEXA_SIM_CONTROL and VEXA_SIM_LOG.
#include "support/DriverEntries.h"
#include "support/FileBytes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char digits[4];
    for (unsigned char b : bytes) {
        std::snprintf(digits, sizeof digits, out.empty() ? "%02X" : " %02X", b);
        out += digits;
    }
    return out;
}

// The requests (hex) a port received since `mark` (a trace size).
std::vector<std::string> Requests(size_t mark, const std::string& port) {
    std::istringstream lines(FileBytes(Env("VEXA_SIM_TRACE")).substr(mark));
    std::vector<std::string> found;
    const std::string tag = " " + port + " rx ";
    for (std::string line; std::getline(lines, line);)
        if (auto at = line.find(tag); at != std::string::npos)
            found.push_back(line.substr(at + tag.size()));
    return found;
}

size_t TraceSize() {
    return FileBytes(Env("VEXA_SIM_TRACE")).size();
}

class Dll {
  public:
    explicit Dll(const char* name) {
        char exe[MAX_PATH];
        std::string folder(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
        folder.erase(folder.find_last_of("\\/"));
        m_module = LoadLibraryA((folder + "\\" + name + ".dll").c_str());
    }
    ~Dll() {
        if (m_module) FreeLibrary(m_module);
    }
    template <typename Fn> Fn Entry(const char* entry) const {
        if (!m_module) return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, entry)));
    }
    bool Loaded() const { return m_module != nullptr; }

  private:
    HMODULE m_module;
};

struct Bus : Dll, BusEntries<Dll> {
    Bus() : Dll("Veldabus2Drv"), BusEntries<Dll>(static_cast<const Dll&>(*this)) {}
};
struct Ascii : Dll, AsciiEntries<Dll> {
    Ascii() : Dll("VeldaASCII2Drv"), AsciiEntries<Dll>(static_cast<const Dll&>(*this)) {}
};

// Wall and CPU time of this process in seconds.
std::pair<double, double> Now() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               1e7;
    };
    return {static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart),
            seconds(kernel) + seconds(user)};
}

constexpr int32_t kBaud = 115200;

} // namespace

// A COM port is exclusive: the other library cannot open a held port.
TEST(WindowsDrivers, AHeldPortIsTheHoldersOnly) {
    Bus bus;
    Ascii ascii;
    ASSERT_TRUE(bus.Loaded() && ascii.Loaded());
    ASSERT_EQ(bus.openPort(1, kBaud), 0);
    EXPECT_EQ(ascii.openPort(1, kBaud), -2);
    EXPECT_EQ(bus.openPort(1, kBaud), 0); // reopening closes its own first
    EXPECT_EQ(bus.closePort(), 0);
    EXPECT_EQ(ascii.openPort(1, kBaud), 0);
    EXPECT_EQ(ascii.closePort(), 0);
}

// What the Windows port code carries for each protocol: the time-out and
// the port number cross the DLL boundary intact (the ranges are the common
// code's, PortHandling); on its port a read and a write go out and their
// replies come back, a broadcast settles 0.2 s, and a silent station costs
// four requests and four time-outs while the wait blocks in the system
// (next to no CPU). How replies are judged and retried is the common code's
// too (tests/drivers).
TEST(WindowsDrivers, BothProtocolsOnTheWire) {
    Bus bus;
    Ascii ascii;
    // The names are checked by check_dll.sh.
    ASSERT_TRUE(bus.Loaded() && ascii.Loaded());
    float value = -1;
    // The requests of a read, a write, a broadcast and a silent station.
    const struct {
        const char* name;
        SerialEntries<Dll>& lib;
        float version;
        int16_t port;
        std::function<int16_t()> read, write, broadcast, silent;
        std::vector<std::string> requests;
    } protocols[] = {
        {"VeldaBus",
         bus,
         1.5f,
         1,
         [&] { return bus.read(1, 10, &value); },
         [&] { return bus.write(2, 5, 1.0f); },
         [&] { return bus.execute(0, 103); },
         [&] { return bus.read(7, 10, &value); },
         {"FE 01 8A 07 05", "FE 02 05 03 0F 08 00 00 00 00 80 07 0D", "FE 00 E7 01 09",
          "FE 07 8A 07 03"}},
        {"ASCII",
         ascii,
         1.3f,
         2,
         [&] { return ascii.read(5, "SYS", &value); },
         [&] { return ascii.write(5, "W", 1.0f); },
         [&] { return ascii.execute(0, "SNAP"); },
         [&] { return ascii.read(9, "SYS", &value); },
         {Hex("!005:SYS?\r"), Hex("!005:W=0000001.0000000\r"), Hex("!000:SNAP\r"),
          Hex("!009:SYS?\r")}},
    };
    for (const auto& p : protocols) {
        SCOPED_TRACE(p.name);
        const std::string port = "COM" + std::to_string(p.port);
        EXPECT_FLOAT_EQ(p.lib.version(), p.version);
        EXPECT_EQ(p.lib.getTimeout(), 300);
        EXPECT_EQ(p.lib.setTimeout(5001), -1);
        EXPECT_EQ(p.lib.setTimeout(1), 0);
        EXPECT_EQ(p.lib.getTimeout(), 1);
        EXPECT_EQ(p.lib.openPort(42, kBaud), -2); // no such port
        ASSERT_EQ(p.lib.openPort(p.port, kBaud), 0);
        ASSERT_EQ(p.lib.setTimeout(300), 0);
        size_t mark = TraceSize();
        value = -1;
        EXPECT_EQ(p.read(), 0);
        EXPECT_FLOAT_EQ(value, p.port == 1 ? 1.0f : 1234.5f);
        EXPECT_EQ(p.write(), 0);
        EXPECT_EQ(Requests(mark, port), std::vector(p.requests.begin(), p.requests.begin() + 2));

        mark = TraceSize();
        auto start = Now();
        EXPECT_EQ(p.broadcast(), 0); // all stations, nobody answers
        EXPECT_GE(Now().first - start.first, 0.19);
        EXPECT_EQ(Requests(mark, port), std::vector{p.requests[2]});

        ASSERT_EQ(p.lib.setTimeout(250), 0);
        mark = TraceSize();
        start = Now();
        EXPECT_EQ(p.silent(), -100);
        const double wall = Now().first - start.first, cpu = Now().second - start.second;
        EXPECT_GE(wall, 4 * 0.25 - 0.01);
        EXPECT_EQ(Requests(mark, port), std::vector(4, p.requests[3]));
        std::printf("%s silent station: -100 after %.3f s, CPU %.3f s = %.2f %% of wall time\n",
                    p.name, wall, cpu, 100.0 * cpu / wall);
        EXPECT_LT(100.0 * cpu / wall, 2.0);
        EXPECT_EQ(p.lib.closePort(), 0);
    }
}
