#include "Wire.h"

#include <algorithm>

namespace vexasim {

namespace {
constexpr Nanos kBitsPerByte = 10; // start, eight data bits, stop
constexpr Nanos kNanosPerSecond = 1'000'000'000;
} // namespace

Nanos ByteTime(int baud) {
    return kBitsPerByte * kNanosPerSecond / std::max(baud, 1);
}

Nanos RxLine::Arrive(Nanos now) {
    m_last = std::max(now, m_last) + m_byteTime;
    return m_last;
}

bool TxLine::Schedule(Nanos readyAt, std::vector<uint8_t> bytes) {
    if (bytes.size() > kMaxBacklog - m_backlog) return false;
    if (bytes.empty()) return true;
    m_backlog += bytes.size();
    m_pending.emplace(readyAt, std::move(bytes));
    return true;
}

void TxLine::StartNextChunk() {
    auto first = m_pending.begin();
    m_chunk = std::move(first->second);
    m_queue.assign(m_chunk.begin(), m_chunk.end());
    m_nextDone = std::max(first->first, m_lineFree) + m_byteTime;
    m_pending.erase(first);
}

std::vector<uint8_t> TxLine::Take(Nanos now) {
    std::vector<uint8_t> out;
    while (!m_held) {
        if (m_queue.empty()) {
            // A chunk starts when it is ready and the line is free.
            if (m_pending.empty() || std::max(m_pending.begin()->first, m_lineFree) > now) break;
            StartNextChunk();
        }
        if (m_nextDone > now) break;
        out.push_back(m_queue.front());
        m_queue.pop_front();
        --m_backlog;
        m_lineFree = m_nextDone;
        m_nextDone += m_byteTime;
        if (m_queue.empty()) m_finished.emplace_back(m_lineFree, std::move(m_chunk));
    }
    return out;
}

std::vector<std::pair<Nanos, std::vector<uint8_t>>> TxLine::TakeFinished() {
    std::vector<std::pair<Nanos, std::vector<uint8_t>>> out;
    out.swap(m_finished);
    return out;
}

std::optional<Nanos> TxLine::NextEvent() const {
    if (m_held) return std::nullopt;
    if (!m_queue.empty()) return m_nextDone;
    if (m_pending.empty()) return std::nullopt;
    return std::max(m_pending.begin()->first, m_lineFree) + m_byteTime;
}

void TxLine::Hold(bool held, Nanos now) {
    if (m_held == held) return;
    m_held = held;
    // The byte that was under way when the line was held goes out whole
    // after the release.
    if (!held && !m_queue.empty()) m_nextDone = std::max(m_nextDone, now + m_byteTime);
}

} // namespace vexasim
