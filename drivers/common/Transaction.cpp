#include "Transaction.h"

#include "VexaDriver.h"

namespace vexa_serial {

namespace {

constexpr int64_t kSettleMicros = 200000;
constexpr int64_t kShortSettleMicros = 3000;

} // namespace

void AttemptFlush::BeforeSend(SerialLine& line, MonotonicClock&, bool) {
    FlushInput(line);
}

void AttemptFlush::AfterWait(std::span<const uint8_t>, int64_t, int, bool) {}

int16_t RunExchange(SerialLine& line, MonotonicClock& clock, int timeoutMs,
                    const Exchange& exchange, AttemptFlush& flush) {
    int16_t code = VEXA_NO_RESPONSE;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        flush.BeforeSend(line, clock, attempt == 0);
        // A request that never left the port cannot have been answered.
        const bool sent = line.Write(exchange.request);
        const int64_t sentAt = clock.NowMicros();
        if (exchange.after == AfterSend::SettleShortly) {
            clock.SleepMicros(kShortSettleMicros);
            for (int i = 0; i < 4; ++i)
                FlushInput(line);
            return sent ? VEXA_OK : VEXA_PORT_ERROR;
        }
        if (exchange.after == AfterSend::Settle) {
            clock.SleepMicros(sentAt + kSettleMicros - clock.NowMicros());
            FlushInput(line);
            return sent ? VEXA_OK : VEXA_PORT_ERROR;
        }
        const auto got =
            ReceiveUntil(line, clock, timeoutMs, exchange.maxReplyBytes, exchange.complete);
        flush.AfterWait(got, sentAt, timeoutMs, sent);
        code = exchange.judge(got);
        if (code == VEXA_OK && !sent) code = VEXA_PORT_ERROR;
        if (code == VEXA_OK) return VEXA_OK;
    }
    return code;
}

} // namespace vexa_serial
