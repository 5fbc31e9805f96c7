// The request/reply transaction both serial protocols share: flush, send,
// settle after a broadcast or wait for the reply, judge it, retry. A
// protocol brings only its request bytes and its judgement of a reply.
#pragma once

#include "SerialLine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace vexa_serial {

inline constexpr int kAttempts = 4;

// What follows the request.
enum class AfterSend {
    AwaitReply,    // an addressed request: wait for the reply
    Settle,        // broadcast: 0.2 s after sending, then drop the input
    SettleShortly, // short broadcast: 3 ms, then drop the input four times
};

// Station -1 addresses every instrument with the short settle, and is sent
// as station 0; station 0 is the broadcast with the full settle.
inline constexpr int kBroadcastStation = -1;
inline AfterSend AfterSendFor(int& station) {
    if (station == kBroadcastStation) {
        station = 0;
        return AfterSend::SettleShortly;
    }
    return station == 0 ? AfterSend::Settle : AfterSend::AwaitReply;
}

// The input flush around each attempt. This one drops whatever is queued
// before a request goes out; a protocol whose replies name no sender puts a
// guard against late replies in its place.
class AttemptFlush {
  public:
    virtual ~AttemptFlush() = default;
    // Before the request of an attempt; `newCall` for the first of a call.
    virtual void BeforeSend(SerialLine& line, MonotonicClock& clock, bool newCall);
    // After an attempt sent at `sentAt` waited for its reply and got `got`;
    // `sent` is false when the request could not be written.
    virtual void AfterWait(std::span<const uint8_t> got, int64_t sentAt, int timeoutMs, bool sent);
};

struct Exchange {
    std::span<const uint8_t> request;
    AfterSend after = AfterSend::AwaitReply;
    // The wait ends at this many bytes, or once `complete` holds.
    size_t maxReplyBytes = 0;
    std::function<bool(std::span<const uint8_t>)> complete;
    // An attempt's code for what it received; 0 ends the call.
    std::function<int16_t(std::span<const uint8_t>)> judge;
};

// Up to kAttempts tries with `timeoutMs` each; the last try's code. A
// broadcast is sent once and gives 0, or -999 when it could not be written;
// an attempt whose request could not be written never succeeds (-999 when a
// reply seems to answer it).
int16_t RunExchange(SerialLine& line, MonotonicClock& clock, int timeoutMs,
                    const Exchange& exchange, AttemptFlush& flush);

} // namespace vexa_serial
