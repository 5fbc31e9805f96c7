// An in-memory serial line on a virtual clock: replies arrive at chosen
// virtual times, waits advance the clock exactly, nothing sleeps.
#pragma once

#include "SerialLine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <utility>
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

    // Called on every write, also one that fails, with its bytes; it may
    // schedule input.
    std::function<void(const std::vector<uint8_t>&)> onWrite;
    // Input that never ends: every read finds this byte again.
    bool endless = false;
    uint8_t endlessByte = 'x';
    bool failWrites = false;
    // As on an unplugged device: waits fail once nothing is left to read,
    // reads of nothing fail, writes go nowhere.
    bool hungUp = false;
    bool failReads = false; // reads report a port failure

    // What can arrive at a chosen time: bytes, one failed read, or the
    // hang-up.
    enum class Event { Bytes, ReadFailure, HangUp };
    void Arrive(int64_t afterMicros, std::vector<uint8_t> bytes, Event event = Event::Bytes) {
        m_scheduled.push_back({m_clock.now + afterMicros, std::move(bytes), event});
    }
    // Drops what has not arrived yet; returns how many arrivals that were.
    size_t DropScheduled() { return std::exchange(m_scheduled, {}).size(); }
    // Bytes that arrived or will arrive and were not read yet.
    size_t Queued() const;
    std::vector<uint8_t> written; // by the writes that succeeded
    int writes = 0;
    uint64_t calls = 0; // on the line, to tell a wait that spins

    long ReadQueued(uint8_t* dst, size_t max) override;
    bool Write(std::span<const uint8_t> bytes) override;
    vexa_serial::WaitResult WaitReadable(int64_t micros) override;
    bool Close() override { return true; }

  private:
    void Deliver();
    struct Pending {
        int64_t at;
        std::vector<uint8_t> bytes;
        Event event;
    };
    VirtualClock& m_clock;
    std::vector<Pending> m_scheduled;
    std::deque<uint8_t> m_queue;
    int m_failures = 0; // failed reads that arrived
};
