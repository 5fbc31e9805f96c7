// An in-memory serial line on a virtual clock: replies arrive at chosen
// virtual times, waits advance the clock exactly, nothing sleeps.
#pragma once

#include "SerialLine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class VirtualClock : public vexa_serial::MonotonicClock {
  public:
    int64_t NowMicros() override { return now; }
    void SleepMicros(int64_t micros) override {
        if (micros > 0) now += micros;
    }
    int64_t now = 1000000;
};

class FakeLine : public vexa_serial::SerialLine {
  public:
    explicit FakeLine(VirtualClock& clock) : m_clock(clock) {}

    // Called on every write with the bytes written; it may schedule input.
    std::function<void(const std::vector<uint8_t>&)> onWrite;
    // Input that never ends: every read finds this byte again.
    bool endless = false;
    uint8_t endlessByte = 'x';
    bool failWrites = false;
    bool hungUp = false;    // waits fail at once, as on an unplugged device
    bool failReads = false; // reads report a port failure

    void Arrive(int64_t afterMicros, std::vector<uint8_t> bytes) {
        m_scheduled.push_back({m_clock.now + afterMicros, std::move(bytes)});
    }
    // Bytes that arrived or will arrive and were not read yet.
    size_t Queued() const;
    std::vector<uint8_t> written;
    int writes = 0;

    long ReadQueued(uint8_t* dst, size_t max) override;
    bool Write(std::span<const uint8_t> bytes) override;
    vexa_serial::WaitResult WaitReadable(int64_t micros) override;
    bool Close() override { return true; }

  private:
    void Deliver();
    struct Pending {
        int64_t at;
        std::vector<uint8_t> bytes;
    };
    VirtualClock& m_clock;
    std::vector<Pending> m_scheduled;
    std::deque<uint8_t> m_queue;
};
