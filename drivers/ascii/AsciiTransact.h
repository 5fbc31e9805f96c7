// The ASCII line transaction behind READCOMMAND, WRITECOMMAND and
// EXECUTECOMMAND: one request line, the reply line, checks and retries.
#pragma once

#include "AsciiLine.h"
#include "SerialLine.h"
#include "Transaction.h"

#include <cstdint>
#include <span>

namespace velda_ascii {

using vexa_serial::kBroadcastStation;
// A reply line longer than this without CR is not terminated.
inline constexpr size_t kMaxReplyLine = 4096;

using vexa_serial::AfterSend;

// Replies name no station: whatever arrives after a request counts as its
// reply. So once an attempt has ended with part of a line or with nothing,
// the rest of that reply (or all of it, late) may still come; the guard
// throws it away before the next request goes out, so that a reply up to
// one time-out late is never taken as the answer to a later call. Within
// one call a late reply to an earlier attempt answers the same request and
// is taken; only the rest of a cut line is awaited there. A healthy line
// costs nothing; waiting is lazy, at the next send, so a failing call still
// ends after its attempts.
class ReplyGuard final : public vexa_serial::AttemptFlush {
  public:
    // In place of the plain input flush before a request is sent. Input is
    // discarded until no cut line remains and, at the start of a call, until
    // every reply still owed has ended, but never beyond one time-out after
    // the last attempt's wait.
    void BeforeSend(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                    bool newCall) override;
    void AfterWait(std::span<const uint8_t> got, int64_t sentAt, int timeoutMs, bool sent) override;

  private:
    void Count(std::span<const uint8_t> bytes);
    const vexa_serial::SerialLine* m_line = nullptr;
    int m_owed = 0;         // requests sent whose reply line has not ended
    bool m_cutLine = false; // the last byte seen was not a line's end
    int64_t m_quietBy = 0;  // no late reply is awaited beyond this time
};

// Station -1..999: 0 and -1 are broadcasts to station 000, no reply awaited.
// No line open: -2 with nothing sent. Station out of range, no command text
// or a value that has no text (NaN, infinity): -1 with nothing sent.
// Otherwise the line goes through the shared transaction (Transaction.h)
// with `timeoutMs` for each try; `value` is set only with 0 after a read.
// `guard` is the line's, kept from call to call; without one, only the
// call's own attempts are guarded.
int16_t Transact(vexa_serial::SerialLine* line, vexa_serial::MonotonicClock& clock, int timeoutMs,
                 RequestKind kind, int station, const char* command, float* value,
                 ReplyGuard* guard = nullptr);

// The attempts for an already checked station number 0..999.
int16_t TransactStation(vexa_serial::SerialLine& line, vexa_serial::MonotonicClock& clock,
                        int timeoutMs, RequestKind kind, int station, AfterSend after,
                        const char* command, float* value, ReplyGuard* guard = nullptr);

} // namespace velda_ascii
