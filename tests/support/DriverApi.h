// The entry points of each driver library, bound by name as the
// application binds them, with the contract header's types.
#pragma once

#include "PtyInstrument.h"
#include "VexaDriver.h"

#include <cstdint>
#include <cstdlib>
#include <string>

struct SerialDriverApi {
    explicit SerialDriverApi(const DriverLibrary& lib)
        : openPort(lib.Entry<VexaOpenPortFn>("OPENPORT")),
          closePort(lib.Entry<VexaClosePortFn>("CLOSEPORT")),
          setTimeout(lib.Entry<VexaSetTimeoutFn>("SETTIMEOUT")),
          getTimeout(lib.Entry<VexaGetTimeoutFn>("GETTIMEOUT")),
          version(lib.Entry<VexaVersionFn>("VERSION")) {}
    VexaOpenPortFn openPort;
    VexaClosePortFn closePort;
    VexaSetTimeoutFn setTimeout;
    VexaGetTimeoutFn getTimeout;
    VexaVersionFn version;
};

struct BusApi : SerialDriverApi {
    explicit BusApi(const DriverLibrary& lib)
        : SerialDriverApi(lib), read(lib.Entry<VexaBusReadFn>("READCOMMAND")),
          write(lib.Entry<VexaBusWriteFn>("WRITECOMMAND")),
          execute(lib.Entry<VexaBusExecuteFn>("EXECUTECOMMAND")) {}
    VexaBusReadFn read;
    VexaBusWriteFn write;
    VexaBusExecuteFn execute;
};

struct AsciiApi : SerialDriverApi {
    explicit AsciiApi(const DriverLibrary& lib)
        : SerialDriverApi(lib), read(lib.Entry<VexaAsciiReadFn>("READCOMMAND")),
          write(lib.Entry<VexaAsciiWriteFn>("WRITECOMMAND")),
          execute(lib.Entry<VexaAsciiExecuteFn>("EXECUTECOMMAND")),
          pollStream(lib.Entry<VexaPollStreamFn>("POLLSTREAM")),
          sendXon(lib.Entry<VexaFlowControlFn>("SENDXON")),
          sendXoff(lib.Entry<VexaFlowControlFn>("SENDXOFF")) {}
    VexaAsciiReadFn read;
    VexaAsciiWriteFn write;
    VexaAsciiExecuteFn execute;
    VexaPollStreamFn pollStream;
    VexaFlowControlFn sendXon;
    VexaFlowControlFn sendXoff;
};

struct UsbApi {
    explicit UsbApi(const DriverLibrary& lib)
        : openPort(lib.Entry<VexaUsbOpenPortFn>("OPENPORT")),
          closePort(lib.Entry<VexaClosePortFn>("CLOSEPORT")),
          read(lib.Entry<VexaUsbReadFn>("READCOMMAND")),
          write(lib.Entry<VexaUsbWriteFn>("WRITECOMMAND")),
          execute(lib.Entry<VexaUsbExecuteFn>("EXECUTECOMMAND")),
          setTimeout(lib.Entry<VexaSetTimeoutFn>("SETTIMEOUT")) {}
    VexaUsbOpenPortFn openPort;
    VexaClosePortFn closePort;
    VexaUsbReadFn read;
    VexaUsbWriteFn write;
    VexaUsbExecuteFn execute;
    VexaSetTimeoutFn setTimeout;
};

// A ports folder with the instruments linked as COM<N>, pointed to by
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
