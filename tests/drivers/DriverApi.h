// The entry points as the application binds them, per library.
#pragma once

#include "PtyInstrument.h"

#include <cstdint>
#include <cstdlib>
#include <string>

struct SerialDriverApi {
    explicit SerialDriverApi(const DriverLibrary& lib)
        : openPort(lib.Entry<int16_t(int16_t, int32_t)>("OPENPORT")),
          closePort(lib.Entry<int16_t()>("CLOSEPORT")),
          setTimeout(lib.Entry<int16_t(int16_t)>("SETTIMEOUT")),
          getTimeout(lib.Entry<int16_t()>("GETTIMEOUT")), version(lib.Entry<float()>("VERSION")) {}
    int16_t (*openPort)(int16_t, int32_t);
    int16_t (*closePort)();
    int16_t (*setTimeout)(int16_t);
    int16_t (*getTimeout)();
    float (*version)();
};

struct BusApi : SerialDriverApi {
    explicit BusApi(const DriverLibrary& lib)
        : SerialDriverApi(lib), read(lib.Entry<int16_t(int16_t, int16_t, float*)>("READCOMMAND")),
          write(lib.Entry<int16_t(int16_t, int16_t, float)>("WRITECOMMAND")),
          execute(lib.Entry<int16_t(int16_t, int16_t)>("EXECUTECOMMAND")) {}
    int16_t (*read)(int16_t, int16_t, float*);
    int16_t (*write)(int16_t, int16_t, float);
    int16_t (*execute)(int16_t, int16_t);
};

struct AsciiApi : SerialDriverApi {
    explicit AsciiApi(const DriverLibrary& lib)
        : SerialDriverApi(lib),
          read(lib.Entry<int16_t(int16_t, const char*, float*)>("READCOMMAND")),
          write(lib.Entry<int16_t(int16_t, const char*, float)>("WRITECOMMAND")),
          execute(lib.Entry<int16_t(int16_t, const char*)>("EXECUTECOMMAND")),
          pollStream(lib.Entry<int16_t(float*)>("POLLSTREAM")),
          sendXon(lib.Entry<void()>("SENDXON")), sendXoff(lib.Entry<void()>("SENDXOFF")) {}
    int16_t (*read)(int16_t, const char*, float*);
    int16_t (*write)(int16_t, const char*, float);
    int16_t (*execute)(int16_t, const char*);
    int16_t (*pollStream)(float*);
    void (*sendXon)();
    void (*sendXoff)();
};

// A ports folder with one instrument linked as COM3, pointed to by
// VEXA_PORTS_DIR for the test's duration.
struct PortsFixtureBase {
    PortsFixtureBase() { setenv("VEXA_PORTS_DIR", ports.Path().c_str(), 1); }
    TempFolder ports;
};

inline constexpr int16_t kPort = 3;
inline constexpr int32_t kBaud = 115200;
// Short enough for the retry cases to stay fast, long enough for a pseudo
// terminal to carry a reply on a busy machine.
inline constexpr int16_t kShortTimeout = 40;
