// The seams of the driver libraries: one open serial line and a monotonic
// clock. Transactions see only these, so they run against a tty, a pseudo
// terminal or a fake fed with arbitrary bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace vexa_serial {

enum class WaitResult {
    Readable, // input is queued
    TimedOut, // nothing arrived in the time given
    Failed    // the line can deliver nothing more (hang-up, error)
};

class SerialLine {
  public:
    virtual ~SerialLine() = default;
    // Copies up to `max` already queued bytes into `dst` without waiting.
    // Returns the count (0 when nothing is queued) or -1 when the port
    // reports a failure.
    virtual long ReadQueued(uint8_t* dst, size_t max) = 0;
    // Sends every byte; false when the port reports a failure.
    virtual bool Write(std::span<const uint8_t> bytes) = 0;
    // Blocks until input is queued or `micros` have passed.
    virtual WaitResult WaitReadable(int64_t micros) = 0;
    // Closes the line; false when the port reports a failure.
    virtual bool Close() = 0;
};

class MonotonicClock {
  public:
    virtual ~MonotonicClock() = default;
    virtual int64_t NowMicros() = 0;
    virtual void SleepMicros(int64_t micros) = 0;
};

// The system's monotonic clock (CLOCK_MONOTONIC; on Windows the performance
// counter).
MonotonicClock& SystemClock();

// Reads and drops everything queued. False when the port reports a failure.
bool FlushInput(SerialLine& line);

// Collects queued input until `complete(bytes)` holds, `maxBytes` are held,
// or more than `timeoutMs` have passed since the call. Waits block on the
// line for the remaining time instead of spinning, and the reply is taken
// as soon as it is complete. A failed read or wait ends it with what came.
std::vector<uint8_t> ReceiveUntil(SerialLine& line, MonotonicClock& clock, int timeoutMs,
                                  size_t maxBytes,
                                  const std::function<bool(std::span<const uint8_t>)>& complete);

} // namespace vexa_serial
