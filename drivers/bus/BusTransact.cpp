#include "BusTransact.h"

#include "Transaction.h"
#include "VexaDriver.h"

namespace veldabus {

namespace {

// Far more than any reply; whatever lies beyond is an impossible length.
constexpr size_t kMaxReplyBytes = 64;

} // namespace

int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, int command, float* value) {
    using vexa_serial::AfterSend;
    const auto after = vexa_serial::AfterSendFor(station);
    const float written = kind == RequestKind::Write && value ? *value : 0.0f;
    const auto frame = BuildRequest(kind, station, command, written);
    if (!frame) return VEXA_INVALID_ARGUMENT;
    // Nothing can be sent or received: waiting out four time-outs would only
    // delay the same answer.
    if (!line) return VEXA_NO_RESPONSE;
    const size_t expected = ExpectedReplySize(kind);
    const uint8_t address = static_cast<uint8_t>(station);
    float decoded = 0.0f;
    vexa_serial::AttemptFlush flush;
    const int16_t code = vexa_serial::RunExchange(
        *line, clock, timeoutMs,
        {*frame, after, kMaxReplyBytes,
         [expected](std::span<const uint8_t> got) { return got.size() >= expected; },
         [&](std::span<const uint8_t> got) { return CheckReply(kind, address, got, &decoded); }},
        flush);
    if (code == VEXA_OK && kind == RequestKind::Read && value && after == AfterSend::AwaitReply)
        *value = decoded;
    return code;
}

} // namespace veldabus
