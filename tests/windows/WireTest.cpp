// The driver DLLs as a Windows program uses them (LoadLibraryA and
// GetProcAddress by the plain entry names), under Wine against vexa-sim:
// COM1 carries VeldaBus, COM2 the ASCII protocol (tests/windows/wire.conf).
// scripts/windows.sh names the simulator's trace, control FIFO and output
// in VEXA_SIM_TRACE, VEXA_SIM_CONTROL and VEXA_SIM_LOG.
#include "DriverEntries.h"
#include "FileBytes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
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

// The simulator seen from here: what reached it, and run-time changes.
struct Sim {
    // The requests (hex) a port received since `mark` (a TraceSize()).
    static std::vector<std::string> Requests(size_t mark, const std::string& port) {
        std::istringstream lines(FileBytes(Env("VEXA_SIM_TRACE")).substr(mark));
        std::vector<std::string> found;
        const std::string tag = " " + port + " rx ";
        for (std::string line; std::getline(lines, line);)
            if (auto at = line.find(tag); at != std::string::npos)
                found.push_back(line.substr(at + tag.size()));
        return found;
    }
    static size_t TraceSize() { return FileBytes(Env("VEXA_SIM_TRACE")).size(); }

    // Sends a control line and waits until the simulator has applied it.
    static void Control(const std::string& line) {
        const size_t mark = FileBytes(Env("VEXA_SIM_LOG")).size();
        const HANDLE fifo = CreateFileA(Env("VEXA_SIM_CONTROL").c_str(), GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(fifo, INVALID_HANDLE_VALUE);
        const std::string text = line + "\n";
        DWORD wrote = 0;
        ASSERT_TRUE(WriteFile(fifo, text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr));
        CloseHandle(fifo);
        for (int i = 0; i < 300; ++i) {
            if (FileBytes(Env("VEXA_SIM_LOG")).find("control ok: " + line, mark) !=
                std::string::npos)
                return;
            Sleep(10);
        }
        FAIL() << "the simulator did not apply: " << line;
    }
};

class Dll {
  public:
    explicit Dll(const char* name) {
        char exe[MAX_PATH];
        const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
        std::string folder(exe, n);
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

double Seconds(LONGLONG ticks100ns) {
    return static_cast<double>(ticks100ns) / 1e7;
}

// Wall and CPU time of this process around a call, in seconds.
struct Stopwatch {
    Stopwatch() { Read(m_wall, m_cpu); }
    void Stop(double& wall, double& cpu) const {
        double w, c;
        Read(w, c);
        wall = w - m_wall;
        cpu = c - m_cpu;
    }

  private:
    static void Read(double& wall, double& cpu) {
        LARGE_INTEGER now, frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        wall = static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
        FILETIME created, ended, kernel, user;
        GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
        auto ticks = [](FILETIME t) {
            return static_cast<LONGLONG>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                         t.dwLowDateTime);
        };
        cpu = Seconds(ticks(kernel) + ticks(user));
    }
    double m_wall, m_cpu;
};

constexpr int32_t kBaud = 115200;
constexpr int16_t kBusPort = 1;
constexpr int16_t kAsciiPort = 2;

// A silent station costs four requests and four time-outs; the wait blocks
// in the system, so the process uses next to no CPU meanwhile.
template <typename Call>
void ExpectSilent(const char* label, const std::string& port, int16_t timeoutMs, Call call,
                  const std::string& request) {
    const size_t mark = Sim::TraceSize();
    double wall = 0, cpu = 0;
    Stopwatch watch;
    EXPECT_EQ(call(), -100);
    watch.Stop(wall, cpu);
    EXPECT_GE(wall, 4 * timeoutMs / 1000.0 - 0.01);
    EXPECT_LT(wall, 4 * timeoutMs / 1000.0 + 1.0);
    EXPECT_EQ(Sim::Requests(mark, port), std::vector<std::string>(4, request));
    const double share = 100.0 * cpu / wall;
    std::printf("%s silent station: -100 after %.3f s, CPU %.3f s = %.2f %% of wall time\n", label,
                wall, cpu, share);
    EXPECT_LT(share, 2.0);
}

} // namespace

TEST(WindowsDrivers, EntriesTimeoutsVersionsAndHeldPort) {
    Bus bus;
    Ascii ascii;
    ASSERT_TRUE(bus.Loaded() && ascii.Loaded());
    for (SerialEntries<Dll>* lib :
         {static_cast<SerialEntries<Dll>*>(&bus), static_cast<SerialEntries<Dll>*>(&ascii)}) {
        ASSERT_TRUE(lib->openPort && lib->closePort && lib->setTimeout && lib->getTimeout &&
                    lib->version);
        EXPECT_EQ(lib->getTimeout(), 300);
        // The range itself is the common code's (PortHandling); here: that
        // the arguments cross the DLL boundary intact.
        EXPECT_EQ(lib->setTimeout(5001), -1);
        EXPECT_EQ(lib->setTimeout(1), 0);
        EXPECT_EQ(lib->getTimeout(), 1);
        EXPECT_EQ(lib->openPort(0, kBaud), -2);
        EXPECT_EQ(lib->openPort(42, kBaud), -2); // no such port
        EXPECT_EQ(lib->closePort(), 0);
    }
    EXPECT_FLOAT_EQ(bus.version(), 1.5f);
    EXPECT_FLOAT_EQ(ascii.version(), 1.3f);
    // A COM port is exclusive: the other library cannot open a held port.
    ASSERT_EQ(bus.openPort(kBusPort, kBaud), 0);
    EXPECT_EQ(ascii.openPort(kBusPort, kBaud), -2);
    EXPECT_EQ(bus.openPort(kBusPort, kBaud), 0); // reopening closes its own first
    EXPECT_EQ(bus.closePort(), 0);
    EXPECT_EQ(ascii.openPort(kBusPort, kBaud), 0);
    EXPECT_EQ(ascii.closePort(), 0);
}

TEST(WindowsDrivers, VeldaBusOnTheWire) {
    Bus bus;
    ASSERT_TRUE(bus.read && bus.write && bus.execute);
    ASSERT_EQ(bus.openPort(kBusPort, kBaud), 0);
    ASSERT_EQ(bus.setTimeout(300), 0);

    size_t mark = Sim::TraceSize();
    float value = -1;
    EXPECT_EQ(bus.read(1, 10, &value), 0);
    EXPECT_FLOAT_EQ(value, 1.0f);
    EXPECT_EQ(bus.write(2, 5, 1.0f), 0);
    EXPECT_EQ(bus.read(2, 5, &value), 0);
    EXPECT_FLOAT_EQ(value, 1.0f);
    EXPECT_EQ(Sim::Requests(mark, "COM1"),
              (std::vector<std::string>{"FE 01 8A 07 05", "FE 02 05 03 0F 08 00 00 00 00 80 07 0D",
                                        "FE 02 85 07 09"}));

    mark = Sim::TraceSize();
    Stopwatch watch;
    EXPECT_EQ(bus.execute(0, 103), 0); // all stations, nobody answers
    double wall, cpu;
    watch.Stop(wall, cpu);
    EXPECT_GE(wall, 0.19);
    EXPECT_LT(wall, 1.0);
    EXPECT_EQ(Sim::Requests(mark, "COM1"), std::vector<std::string>{"FE 00 E7 01 09"});

    const struct {
        const char* fault;
        int16_t result;
    } refusals[] = {{"checksum", -300}, {"nak", -400}};
    ASSERT_EQ(bus.setTimeout(100), 0);
    for (const auto& r : refusals) {
        Sim::Control(std::string("set COM1 2 fault=") + r.fault);
        mark = Sim::TraceSize();
        value = -1;
        EXPECT_EQ(bus.read(2, 5, &value), r.result) << r.fault;
        EXPECT_FLOAT_EQ(value, -1.0f) << r.fault;
        EXPECT_EQ(Sim::Requests(mark, "COM1").size(), 4u) << r.fault;
    }
    Sim::Control("set COM1 2 fault=none");

    ASSERT_EQ(bus.setTimeout(250), 0);
    ExpectSilent(
        "VeldaBus", "COM1", 250, [&] { return bus.read(7, 10, &value); }, "FE 07 8A 07 03");
    EXPECT_EQ(bus.closePort(), 0);
}

TEST(WindowsDrivers, AsciiOnTheWire) {
    Ascii ascii;
    ASSERT_TRUE(ascii.read && ascii.write && ascii.execute);
    ASSERT_EQ(ascii.openPort(kAsciiPort, kBaud), 0);
    ASSERT_EQ(ascii.setTimeout(300), 0);

    size_t mark = Sim::TraceSize();
    float value = -1;
    EXPECT_EQ(ascii.read(5, "SYS", &value), 0);
    EXPECT_FLOAT_EQ(value, 1234.5f);
    EXPECT_EQ(ascii.write(5, "W", -3.25f), 0);
    EXPECT_EQ(ascii.read(5, "W", &value), 0);
    EXPECT_FLOAT_EQ(value, -3.25f);
    EXPECT_EQ(Sim::Requests(mark, "COM2"),
              (std::vector<std::string>{Hex("!005:SYS?\r"), Hex("!005:W=-0000003.2500000\r"),
                                        Hex("!005:W?\r")}));

    mark = Sim::TraceSize();
    Stopwatch watch;
    EXPECT_EQ(ascii.execute(0, "SNAP"), 0);
    double wall, cpu;
    watch.Stop(wall, cpu);
    EXPECT_GE(wall, 0.19);
    EXPECT_LT(wall, 1.0);
    EXPECT_EQ(Sim::Requests(mark, "COM2"), std::vector<std::string>{Hex("!000:SNAP\r")});

    const struct {
        const char* fault;
        int16_t result;
    } refusals[] = {{"cut", -200}, {"nak", -400}};
    ASSERT_EQ(ascii.setTimeout(100), 0);
    for (const auto& r : refusals) {
        Sim::Control(std::string("set COM2 5 fault=") + r.fault);
        mark = Sim::TraceSize();
        value = -1;
        EXPECT_EQ(ascii.read(5, "SYS", &value), r.result) << r.fault;
        EXPECT_FLOAT_EQ(value, -1.0f) << r.fault;
        EXPECT_EQ(Sim::Requests(mark, "COM2").size(), 4u) << r.fault;
    }
    Sim::Control("set COM2 5 fault=none");

    ASSERT_EQ(ascii.setTimeout(250), 0);
    ExpectSilent(
        "ASCII", "COM2", 250, [&] { return ascii.read(9, "SYS", &value); }, Hex("!009:SYS?\r"));
    EXPECT_EQ(ascii.closePort(), 0);
}
