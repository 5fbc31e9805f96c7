// The ASCII line transaction behind READCOMMAND, WRITECOMMAND and
// EXECUTECOMMAND: one request line, the reply line, checks and retries.
#pragma once

#include "AsciiLine.h"
#include "SerialLine.h"

#include <cstdint>

namespace velda_ascii {

inline constexpr int kBroadcastStation = -1;
inline constexpr int kAttempts = 4;
// A reply line longer than this without CR is not terminated.
inline constexpr size_t kMaxReplyLine = 4096;

// What follows the request line.
enum class AfterSend {
    AwaitReply,    // an addressed request: wait for the reply line
    Settle,        // broadcast: 0.2 s after sending, then drop the input
    SettleShortly, // short broadcast: 3 ms, then drop the input four times
};

// Station -1..999: 0 and -1 are broadcasts to station 000, no reply awaited.
// No line open: -2 with nothing sent. Station out of range, no command text
// or a value that has no text (NaN, infinity): -1 with nothing sent.
// Otherwise up to kAttempts tries with `timeoutMs` each; the last try's
// code is returned, `value` set only with 0 after a read.
int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, const char* command, float* value);

// The attempts for an already checked station number 0..999.
int16_t TransactStation(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                        int timeoutMs, RequestKind kind, int station, AfterSend after,
                        const char* command, float* value);

} // namespace velda_ascii
