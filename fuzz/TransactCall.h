// One driver call described by the first bytes of a fuzz input, and the
// real transaction of its protocol behind it.
#pragma once

#include "ReplayLine.h"

#include <cstdint>
#include <span>
#include <string>

namespace fuzzing {

enum class Protocol { Bus, Ascii };
enum class Kind { Read, Write, Execute };

struct TransactCall {
    Protocol protocol = Protocol::Bus;
    Kind kind = Kind::Read;
    int station = 1;
    int busCommand = 10;
    std::string command = "SYS"; // ASCII command text
    int timeoutMs = 300;
    float writeValue = 0;
    bool writesFail = false; // every write reports a port failure
    bool noLine = false;     // no port open

    bool broadcast() const { return station == 0 || station == -1; }
    bool argumentsValid() const;
};

// Header: flags (bits 0-1 kind, 2 ASCII, 3 failing writes, 4 no port),
// station (16 bits, little end first), bus command, time-out (16 bits, taken
// into 1..5000), the write value's four bytes; ASCII adds a length byte and
// the command text. `used` is the header's size.
bool ParseTransactCall(std::span<const uint8_t> data, TransactCall& call, size_t& used);

// Runs READCOMMAND, WRITECOMMAND or EXECUTECOMMAND's transaction.
int16_t RunTransact(const TransactCall& call, vexa_serial::SerialLine* line, ReplayClock& clock,
                    float* value);

// The codes of the result table this protocol's driver can give.
bool IsTableCode(Protocol protocol, int16_t code);

} // namespace fuzzing
