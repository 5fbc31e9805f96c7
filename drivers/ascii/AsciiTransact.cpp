#include "AsciiTransact.h"

#include <algorithm>
#include <string_view>

namespace velda_ascii {

namespace {

constexpr int64_t kSettleMicros = 200000;
constexpr int64_t kShortSettleMicros = 3000;
// However fast input pours in, one drain ends after this much.
constexpr size_t kMaxDrainBytes = 64 * 1024;

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

void ReplyGuard::Count(std::span<const uint8_t> bytes) {
    for (const uint8_t b : bytes) {
        m_cutLine = b != static_cast<uint8_t>(kCR);
        if (!m_cutLine && m_owed > 0) --m_owed;
    }
}

void ReplyGuard::BeforeSend(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                            bool newCall) {
    if (&line != m_line) {
        *this = ReplyGuard{};
        m_line = &line;
    }
    uint8_t chunk[512];
    size_t discarded = 0;
    for (;;) {
        long n = 0;
        while (discarded < kMaxDrainBytes && (n = line.ReadQueued(chunk, sizeof chunk)) > 0) {
            Count(std::span(chunk, static_cast<size_t>(n)));
            discarded += static_cast<size_t>(n);
        }
        if (n < 0 || discarded >= kMaxDrainBytes) break;
        if (!m_cutLine && (!newCall || m_owed == 0)) break;
        const int64_t remaining = m_quietBy - clock.NowMicros();
        if (remaining <= 0) break;
        if (line.WaitReadable(remaining) == vexa_serial::WaitResult::Failed) break;
    }
    // Whatever may still come now is later than any reply is waited for.
    if (newCall) {
        m_owed = 0;
        m_cutLine = false;
    }
}

void ReplyGuard::AfterWait(std::span<const uint8_t> got, int64_t sentAt, int timeoutMs, bool sent) {
    if (sent) ++m_owed;
    Count(got);
    // A reply up to one time-out later than its own wait allowed.
    m_quietBy = sentAt + 2 * static_cast<int64_t>(timeoutMs) * 1000;
}

int16_t TransactStation(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                        int timeoutMs, RequestKind kind, int station, AfterSend after,
                        const char* command, float* value, ReplyGuard* guard) {
    ReplyGuard callGuard;
    ReplyGuard& lineGuard = guard ? *guard : callGuard;
    const float written = kind == RequestKind::Write && value ? *value : 0.0f;
    const auto request = BuildRequestLine(kind, station, command, written);
    if (!request) return -1;
    const auto bytes =
        std::span(reinterpret_cast<const uint8_t*>(request->data()), request->size());
    int16_t code = -100;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        lineGuard.BeforeSend(line, clock, attempt == 0);
        // A request that never left the port cannot have been answered.
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
        lineGuard.AfterWait(got, sentAt, timeoutMs, sent);
        float number = 0.0f;
        code = JudgeReply(kind, got, &number);
        if (code == 0 && !sent) code = -999;
        if (code == 0) {
            if (kind == RequestKind::Read && value) *value = number;
            return 0;
        }
    }
    return code;
}

int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, const char* command, float* value,
                 ReplyGuard* guard) {
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
    return TransactStation(*line, clock, timeoutMs, kind, station, after, command, value, guard);
}

} // namespace velda_ascii
