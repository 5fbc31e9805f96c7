#include "TransactCall.h"

#include "AsciiTransact.h"
#include "BusTransact.h"
#include "VexaDriver.h"

#include <cmath>
#include <cstring>

namespace fuzzing {

bool TransactCall::argumentsValid() const {
    if (protocol == Protocol::Bus)
        return station >= -1 && station <= veldabus::kMaxStation &&
               busCommand >= veldabus::kMinCommand && busCommand <= veldabus::kMaxCommand;
    if (station < -1 || station > velda_ascii::kMaxStation) return false;
    return kind != Kind::Write || std::isfinite(writeValue);
}

bool ParseTransactCall(std::span<const uint8_t> data, TransactCall& call, size_t& used) {
    constexpr size_t kFixed = 10;
    if (data.size() < kFixed) return false;
    const uint8_t flags = data[0];
    const int kinds[4] = {0, 1, 2, 0};
    call.kind = static_cast<Kind>(kinds[flags & 3]);
    call.protocol = (flags & 4) ? Protocol::Ascii : Protocol::Bus;
    call.writesFail = (flags & 8) != 0;
    call.noLine = (flags & 16) != 0;
    call.station = static_cast<int16_t>(data[1] | (data[2] << 8));
    call.busCommand = data[3];
    call.timeoutMs = (data[4] | (data[5] << 8)) % 5000 + 1;
    uint32_t bits = 0;
    std::memcpy(&bits, data.data() + 6, sizeof bits);
    std::memcpy(&call.writeValue, &bits, sizeof bits);
    used = kFixed;
    if (call.protocol == Protocol::Ascii) {
        if (used >= data.size()) return false;
        const size_t wanted = data[used++];
        const size_t length = std::min(wanted, data.size() - used);
        call.command.assign(reinterpret_cast<const char*>(data.data() + used), length);
        // The driver takes a zero-terminated text.
        call.command = call.command.c_str();
        used += length;
    }
    return true;
}

int16_t RunTransact(const TransactCall& call, vexa_serial::SerialLine* line, ReplayClock& clock,
                    float* value) {
    if (call.protocol == Protocol::Bus) {
        const veldabus::RequestKind kinds[] = {veldabus::RequestKind::Read,
                                               veldabus::RequestKind::Write,
                                               veldabus::RequestKind::Execute};
        return veldabus::Transact(line, clock, call.timeoutMs, kinds[static_cast<int>(call.kind)],
                                  call.station, call.busCommand, value);
    }
    const velda_ascii::RequestKind kinds[] = {velda_ascii::RequestKind::Read,
                                              velda_ascii::RequestKind::Write,
                                              velda_ascii::RequestKind::Execute};
    return velda_ascii::Transact(line, clock, call.timeoutMs, kinds[static_cast<int>(call.kind)],
                                 call.station, call.command.c_str(), value);
}

bool IsTableCode(Protocol protocol, int16_t code) {
    // A request the port could not send fails both alike.
    if (code == VEXA_OK || code == VEXA_INVALID_ARGUMENT || code == VEXA_NO_RESPONSE ||
        code == VEXA_BAD_STATION || code == VEXA_NAK || code == VEXA_PORT_ERROR)
        return true;
    if (protocol == Protocol::Bus) return code == VEXA_BAD_CHECKSUM || code == VEXA_BAD_LENGTH;
    return code == VEXA_PORT_FAILED;
}

} // namespace fuzzing
