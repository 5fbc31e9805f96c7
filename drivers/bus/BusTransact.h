// The VeldaBus master transaction behind READCOMMAND, WRITECOMMAND and
// EXECUTECOMMAND: one request, the reply wait, checks and retries.
#pragma once

#include "BusFrame.h"
#include "SerialLine.h"

#include <cstdint>

namespace veldabus {

// Sent as station 0 like a plain broadcast, but with a shorter settling step.
inline constexpr int kBroadcastStation = -1;
inline constexpr int kAttempts = 4;

// Station -1..255 and command 1..253, else -1 with nothing sent. With no
// line (`line` null) -100 at once. Station 0 / -1: the frame is sent and no
// reply awaited; -999 when the frame could not be written. Otherwise up to kAttempts tries, each
// waiting at most `timeoutMs` for the reply; the last try's code is returned. `value` receives a
// read's value, only when 0 is returned. An attempt whose frame could not be written never
// succeeds: a reply that seems to answer it gives -999.
int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, int command, float* value);

} // namespace veldabus
