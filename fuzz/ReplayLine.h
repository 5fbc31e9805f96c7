// A serial line and clock that replay a scripted reply stream in virtual
// time, so the real transaction code runs over arbitrary bytes without a tty
// and without waiting.
#pragma once

#include "SerialLine.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fuzzing {

// One scripted happening on the line.
struct LineEvent {
    enum class Kind { Bytes, ReadFailure, HangUp } kind = Kind::Bytes;
    int64_t delayMicros = 0; // after the previous event, or after the last request sent
    std::vector<uint8_t> bytes;
};

// Script bytes: a list of events, each a delay byte then, for data, a length
// byte and that many bytes. Delay 0xFF is a single failed read, 0xFE a hang-up
// (the line delivers nothing more); any other delay is that many
// milliseconds. A cut-off script ends the list.
std::vector<LineEvent> ParseScript(std::span<const uint8_t> script);

class ReplayClock final : public vexa_serial::MonotonicClock {
  public:
    int64_t NowMicros() override { return m_now; }
    void SleepMicros(int64_t micros) override {
        if (micros > 0) m_now += micros;
    }
    void Advance(int64_t micros) { m_now += micros; }

  private:
    int64_t m_now = 1000000;
};

class ReplayLine final : public vexa_serial::SerialLine {
  public:
    ReplayLine(std::vector<LineEvent> events, ReplayClock& clock, bool writesFail = false);

    long ReadQueued(uint8_t* dst, size_t max) override;
    bool Write(std::span<const uint8_t> bytes) override;
    vexa_serial::WaitResult WaitReadable(int64_t micros) override;
    bool Close() override;

    // Every write the code under test made, one entry per call.
    const std::vector<std::vector<uint8_t>>& Writes() const { return m_writes; }
    // Calls into the line; a code that calls without end spins.
    uint64_t Calls() const { return m_calls; }
    bool Closed() const { return m_closed; }
    // Writes that reported a port failure.
    int FailedWrites() const { return m_failedWrites; }

  private:
    // Moves events whose time has come into the receive queue.
    void Deliver();
    void Schedule();
    bool HasSomethingToReport() const;

    std::vector<LineEvent> m_events;
    size_t m_next = 0;         // first event not yet delivered
    int64_t m_nextAt = 0;      // when it arrives
    int64_t m_lastArrival = 0; // when the previous event arrived
    std::vector<uint8_t> m_queue;
    size_t m_queueFront = 0;
    int m_pendingFailures = 0;
    bool m_hungUp = false;
    bool m_writesFail = false;
    bool m_closed = false;
    uint64_t m_calls = 0;
    int m_failedWrites = 0;
    ReplayClock& m_clock;
    std::vector<std::vector<uint8_t>> m_writes;
};

} // namespace fuzzing
