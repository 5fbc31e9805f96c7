#include "AsciiTransact.h"

#include <algorithm>
#include <string_view>

namespace velda_ascii {

namespace {

constexpr int64_t kSettleMicros = 200000;
constexpr int64_t kShortSettleMicros = 3000;

bool HasCR(std::span<const uint8_t> bytes) {
    return std::find(bytes.begin(), bytes.end(), static_cast<uint8_t>(kCR)) != bytes.end();
}

// One attempt's judgement of the received bytes. A port failure on the way
// is always replaced by what the bytes show (nothing at all is -100), so
// only a number that fits no single ends in -999.
int16_t JudgeReply(RequestKind kind, const std::vector<uint8_t>& got, float* value) {
    const std::string_view text(reinterpret_cast<const char*>(got.data()), got.size());
    if (text.empty()) return -100;
    if (text == "?\r") return -400;
    const size_t cr = text.find(kCR);
    if (cr == std::string_view::npos) return -200;
    const std::string_view reply = text.substr(0, cr);
    if (kind != RequestKind::Read) return reply.empty() ? 0 : -200;
    const auto number = ParseReplyNumber(reply);
    if (!number) return -999;
    *value = *number;
    return 0;
}

} // namespace

int16_t TransactStation(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                        int timeoutMs, RequestKind kind, int station, AfterSend after,
                        const char* command, float* value) {
    const float written = kind == RequestKind::Write && value ? *value : 0.0f;
    const auto request = BuildRequestLine(kind, station, command, written);
    if (!request) return -1;
    const auto bytes =
        std::span(reinterpret_cast<const uint8_t*>(request->data()), request->size());
    int16_t code = -100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        vexa_serial::FlushInput(line);
        // A broadcast that never left the port must not count as done.
        const bool sent = line.Write(bytes);
        const int64_t sentAt = clock.NowMicros();
        if (after == AfterSend::SettleShortly) {
            clock.SleepMicros(kShortSettleMicros);
            for (int i = 0; i < 4; ++i)
                vexa_serial::FlushInput(line);
            return sent ? 0 : -999;
        }
        if (after == AfterSend::Settle) {
            clock.SleepMicros(sentAt + kSettleMicros - clock.NowMicros());
            vexa_serial::FlushInput(line);
            return sent ? 0 : -999;
        }
        const auto got = vexa_serial::ReceiveUntil(line, clock, timeoutMs, kMaxReplyLine, HasCR);
        float number = 0.0f;
        code = JudgeReply(kind, got, &number);
        if (code == 0) {
            if (kind == RequestKind::Read && value) *value = number;
            return 0;
        }
    }
    return code;
}

int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, const char* command, float* value) {
    AfterSend after = AfterSend::AwaitReply;
    if (station == kBroadcastStation) {
        station = 0;
        after = AfterSend::SettleShortly;
    } else if (station == 0) {
        after = AfterSend::Settle;
    }
    // Reporting success without sending would pass a dead link off as a
    // good reading.
    if (!line) return -2;
    if (station < 0 || station > kMaxStation || !command) return -1;
    return TransactStation(*line, clock, timeoutMs, kind, station, after, command, value);
}

} // namespace velda_ascii
