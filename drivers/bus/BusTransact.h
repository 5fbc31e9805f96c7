// The VeldaBus master transaction behind READCOMMAND, WRITECOMMAND and
// EXECUTECOMMAND: one request, the reply wait, checks and retries.
#pragma once

#include "BusFrame.h"
#include "SerialLine.h"
#include "Transaction.h"

#include <cstdint>

namespace veldabus {

// Sent as station 0 like a plain broadcast, but with a shorter settling step.
using vexa_serial::kBroadcastStation;

// Station -1..255 and command 1..253, else -1 with nothing sent. With no
// line (`line` null) -100 at once. Otherwise the frame goes through the
// shared transaction (Transaction.h), each try waiting at most `timeoutMs`
// for the reply; `value` receives a read's value, only when 0 is returned
// after a data reply.
int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, int command, float* value);

} // namespace veldabus
