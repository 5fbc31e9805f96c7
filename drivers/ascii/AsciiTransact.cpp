#include "AsciiTransact.h"

#include "VexaDriver.h"

#include <algorithm>
#include <string_view>

namespace velda_ascii {

namespace {

// However fast input pours in, one drain ends after this much.
constexpr size_t kMaxDrainBytes = 64 * 1024;

bool HasCR(std::span<const uint8_t> bytes) {
    return std::find(bytes.begin(), bytes.end(), static_cast<uint8_t>(kCR)) != bytes.end();
}

// One attempt's judgement of the received bytes. A port failure on the way
// is always replaced by what the bytes show (nothing at all is -100), so
// only a number that fits no single ends in -999.
int16_t JudgeReply(RequestKind kind, std::span<const uint8_t> got, float* value) {
    const std::string_view text(reinterpret_cast<const char*>(got.data()), got.size());
    if (text.empty()) return VEXA_NO_RESPONSE;
    if (text == "?\r") return VEXA_NAK;
    const size_t cr = text.find(kCR);
    if (cr == std::string_view::npos) return VEXA_BAD_STATION;
    const std::string_view reply = text.substr(0, cr);
    if (kind != RequestKind::Read) return reply.empty() ? VEXA_OK : VEXA_BAD_STATION;
    const auto number = ParseReplyNumber(reply);
    if (!number) return VEXA_PORT_ERROR;
    *value = *number;
    return VEXA_OK;
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
    if (!request) return VEXA_INVALID_ARGUMENT;
    float number = 0.0f;
    const int16_t code = vexa_serial::RunExchange(
        line, clock, timeoutMs,
        {std::span(reinterpret_cast<const uint8_t*>(request->data()), request->size()), after,
         kMaxReplyLine, HasCR,
         [&](std::span<const uint8_t> got) { return JudgeReply(kind, got, &number); }},
        lineGuard);
    if (code == VEXA_OK && kind == RequestKind::Read && value && after == AfterSend::AwaitReply)
        *value = number;
    return code;
}

int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, const char* command, float* value,
                 ReplyGuard* guard) {
    const auto after = vexa_serial::AfterSendFor(station);
    // Reporting success without sending would pass a dead link off as a
    // good reading.
    if (!line) return VEXA_PORT_FAILED;
    if (station < 0 || station > kMaxStation || !command) return VEXA_INVALID_ARGUMENT;
    return TransactStation(*line, clock, timeoutMs, kind, station, after, command, value, guard);
}

} // namespace velda_ascii
