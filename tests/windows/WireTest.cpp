// The driver DLLs as a Windows program uses them (LoadLibraryA and
// GetProcAddress by the plain entry names), under Wine against vexa-sim:
// COM1 carries VeldaBus, COM2 the ASCII protocol (tests/windows/wire.conf).
// scripts/windows.sh names the simulator's trace, control FIFO and output
// in VEXA_SIM_TRACE, VEXA_SIM_CONTROL and VEXA_SIM_LOG.
#include "support/DriverEntries.h"
#include "support/FileBytes.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string Trace() {
    return FileBytes(std::getenv("VEXA_SIM_TRACE") ? std::getenv("VEXA_SIM_TRACE") : "");
}

// The requests (hex) a port received since `mark` (a trace size).
std::vector<std::string> Requests(size_t mark, const std::string& port) {
    std::istringstream lines(Trace().substr(mark));
    std::vector<std::string> found;
    const std::string tag = " " + port + " rx ";
    for (std::string line; std::getline(lines, line);)
        if (auto at = line.find(tag); at != std::string::npos)
            found.push_back(line.substr(at + tag.size()));
    return found;
}

// A driver DLL, looked for first in the program's own folder.
struct Dll {
    explicit Dll(const char* name) : module(LoadLibraryA((std::string(name) + ".dll").c_str())) {}
    ~Dll() {
        if (module) FreeLibrary(module);
    }
    template <typename Fn> Fn Entry(const char* entry) const {
        return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, entry)))
                      : nullptr;
    }
    HMODULE module;
};
struct Bus : Dll, BusEntries<Dll> {
    Bus() : Dll("Veldabus2Drv"), BusEntries<Dll>(static_cast<const Dll&>(*this)) {}
};
struct Ascii : Dll, AsciiEntries<Dll> {
    Ascii() : Dll("VeldaASCII2Drv"), AsciiEntries<Dll>(static_cast<const Dll&>(*this)) {}
};

// CPU time of this process in seconds.
double CpuSeconds() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    const ULARGE_INTEGER k{{kernel.dwLowDateTime, kernel.dwHighDateTime}},
        u{{user.dwLowDateTime, user.dwHighDateTime}};
    return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7; // in 100 ns units
}

} // namespace

// What the Windows port code carries for each protocol: a port number names
// COM<N> (a missing one cannot be opened); on its port a read goes out and
// its reply comes back; a silent station costs four requests and four
// time-outs while the wait blocks in the system (next to no CPU). Judging
// and retrying replies and the argument ranges are the common code's
// (tests/drivers), the DLLs' names and exports check_dll.sh's.
TEST(WindowsDrivers, BothProtocolsOnTheWire) {
    Bus bus;
    Ascii ascii;
    ASSERT_TRUE(bus.module && ascii.module);
    float value = -1;
    const auto read = [&](int16_t port, int16_t station) {
        return port == 1 ? bus.read(station, 10, &value) : ascii.read(station, "SYS", &value);
    };
    // Port, the stations that answer and that stays silent, and their requests.
    const struct {
        SerialEntries<Dll>& lib;
        int16_t port, station, silent;
        float reading;
        const char *request, *silentRequest;
    } protocols[] = {
        {bus, 1, 1, 7, 1.0f, "FE 01 8A 07 05", "FE 07 8A 07 03"},
        {ascii, 2, 5, 9, 1234.5f, "21 30 30 35 3A 53 59 53 3F 0D", "21 30 30 39 3A 53 59 53 3F 0D"},
    };
    for (const auto& p : protocols) {
        const std::string port = "COM" + std::to_string(p.port);
        SCOPED_TRACE(port);
        EXPECT_EQ(p.lib.openPort(42, 115200), -2); // no such port
        ASSERT_EQ(p.lib.openPort(p.port, 115200), 0);
        size_t mark = Trace().size();
        EXPECT_EQ(read(p.port, p.station), 0);
        EXPECT_FLOAT_EQ(value, p.reading);
        EXPECT_EQ(Requests(mark, port), std::vector<std::string>{p.request});

        ASSERT_EQ(p.lib.setTimeout(250), 0);
        mark = Trace().size();
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuSeconds();
        EXPECT_EQ(read(p.port, p.silent), -100);
        const double cpu = CpuSeconds() - cpuStart,
                     wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                                .count();
        EXPECT_GE(wall, 4 * 0.25 - 0.01);
        EXPECT_EQ(Requests(mark, port), std::vector<std::string>(4, p.silentRequest));
        std::printf("%s silent station: -100 after %.3f s, CPU %.3f s = %.2f %% of wall time\n",
                    port.c_str(), wall, cpu, 100.0 * cpu / wall);
        EXPECT_LT(100.0 * cpu / wall, 2.0);
        EXPECT_EQ(p.lib.closePort(), 0);
    }
}
