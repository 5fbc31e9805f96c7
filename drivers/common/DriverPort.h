// The state each driver library holds once per process: the open port and
// the reply time-out, with the entry points every library shares.
#pragma once

#include "SerialLine.h"
#include "VexaDriver.h"

#include <cstdint>
#include <memory>
#include <string>

namespace vexa_serial {

inline constexpr int16_t kDefaultReplyTimeout = 300;
inline constexpr int16_t kMinReplyTimeout = 1;
inline constexpr int16_t kMaxReplyTimeout = 5000;

class DriverPort {
  public:
    // OPENPORT: closes an open port first (its result ignored), then opens
    // COM<port>. 0, -1 (a line setting failed) or -2 (cannot open).
    int16_t OpenPort(int port, int32_t baud);
    // Opens a device by path, as OpenPort does for a port number.
    int16_t OpenPath(const std::string& path, int32_t baud);
    // CLOSEPORT: 0 when closed (or nothing was open), -2 when closing failed
    // (the port then counts as open, and a later OpenPort still proceeds).
    int16_t ClosePort();
    // SETTIMEOUT: 1..5000 ms, else -1 and the old value kept.
    int16_t SetTimeout(int ms);
    int16_t Timeout() const { return m_timeout; }
    // The open line, or nullptr with no port open.
    SerialLine* Line() const { return m_line.get(); }
    MonotonicClock& Clock() const { return SystemClock(); }

  private:
    std::unique_ptr<SerialLine> m_line;
    int16_t m_timeout = kDefaultReplyTimeout;
};

// Runs an entry point's body; any exception ends in `fallback` instead of
// crossing the library boundary.
template <typename Result, typename Body> Result Guarded(Result fallback, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}

} // namespace vexa_serial

// Marks the definition of an entry point. Its declaration in VexaDriver.h
// makes the compiler reject a definition that differs from it; the library
// exports these entries and nothing else.
#define VEXA_DRIVER_ENTRY extern "C" VEXA_API
