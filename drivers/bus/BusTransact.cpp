#include "BusTransact.h"

namespace veldabus {

namespace {

// Far more than any reply; whatever lies beyond is an impossible length.
constexpr size_t kMaxReplyBytes = 64;
constexpr int64_t kBroadcastSettleMicros = 200000;
constexpr int64_t kShortBroadcastSettleMicros = 3000;

void SettleAfterBroadcast(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                          bool shortSettle, int64_t sentAt) {
    if (shortSettle) {
        clock.SleepMicros(kShortBroadcastSettleMicros);
        for (int i = 0; i < 4; ++i)
            vexa_serial::FlushInput(line);
        return;
    }
    clock.SleepMicros(sentAt + kBroadcastSettleMicros - clock.NowMicros());
    vexa_serial::FlushInput(line);
}

} // namespace

int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, int command, float* value) {
    const bool shortBroadcast = station == kBroadcastStation;
    if (shortBroadcast) station = 0;
    const float written = kind == RequestKind::Write && value ? *value : 0.0f;
    const auto frame = BuildRequest(kind, station, command, written);
    if (!frame) return -1;
    // Nothing can be sent or received: waiting out four time-outs would only
    // delay the same answer.
    if (!line) return -100;
    const size_t expected = ExpectedReplySize(kind);
    const uint8_t address = static_cast<uint8_t>(station);
    int16_t code = -100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        vexa_serial::FlushInput(*line);
        // A request that never left the port cannot have been answered.
        const bool sent = line->Write(*frame);
        const int64_t sentAt = clock.NowMicros();
        if (station == 0) {
            SettleAfterBroadcast(*line, clock, shortBroadcast, sentAt);
            return sent ? 0 : -999;
        }
        const auto reply = vexa_serial::ReceiveUntil(
            *line, clock, timeoutMs, kMaxReplyBytes,
            [expected](std::span<const uint8_t> got) { return got.size() >= expected; });
        float decoded = 0.0f;
        code = CheckReply(kind, address, reply, &decoded);
        if (code == 0 && !sent) code = -999;
        if (code == 0) {
            if (kind == RequestKind::Read && value) *value = decoded;
            return 0;
        }
    }
    return code;
}

} // namespace veldabus
