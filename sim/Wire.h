// Timing of one serial line: every byte takes ten bit times, in each
// direction, so the simulator answers no faster than an instrument could.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace vexasim {

using Nanos = std::int64_t; // monotonic time

Nanos ByteTime(int baud);

// Arrival of received bytes: the host hands them over at once, the line
// delivers one per byte time.
class RxLine {
  public:
    explicit RxLine(int baud) : m_byteTime(ByteTime(baud)) {}
    // When the next byte, handed over at `now`, has fully arrived.
    Nanos Arrive(Nanos now);

  private:
    Nanos m_byteTime;
    Nanos m_last = 0;
};

// Transmission: chunks become ready at a time, then go out back to back,
// one byte per byte time. XOFF holds the line, XON lets it go on.
class TxLine {
  public:
    explicit TxLine(int baud) : m_byteTime(ByteTime(baud)) {}
    // At most this many bytes wait to go out; a host that holds the line
    // with XOFF and keeps asking gets no more replies, not endless memory.
    static constexpr size_t kMaxBacklog = 65536;
    // False, and nothing kept, when the chunk would exceed kMaxBacklog.
    bool Schedule(Nanos readyAt, std::vector<uint8_t> bytes);
    // The bytes whose last bit has gone out by `now`, in order.
    std::vector<uint8_t> Take(Nanos now);
    // When Take next yields bytes; nullopt when nothing is due or held.
    std::optional<Nanos> NextEvent() const;
    // Chunks whose last byte has gone out, with that time, since the last call.
    std::vector<std::pair<Nanos, std::vector<uint8_t>>> TakeFinished();
    void Hold(bool held, Nanos now);
    bool Held() const { return m_held; }
    bool Idle() const { return m_queue.empty() && m_pending.empty(); }

  private:
    void StartNextChunk();

    Nanos m_byteTime;
    std::multimap<Nanos, std::vector<uint8_t>> m_pending;
    std::vector<uint8_t> m_chunk; // the chunk on the line
    std::deque<uint8_t> m_queue;  // its bytes not yet through
    std::vector<std::pair<Nanos, std::vector<uint8_t>>> m_finished;
    Nanos m_nextDone = 0; // when the queue's front byte is through
    Nanos m_lineFree = 0; // when the last byte sent was through
    bool m_held = false;
    size_t m_backlog = 0; // bytes pending or queued
};

} // namespace vexasim
