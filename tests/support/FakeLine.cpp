#include "FakeLine.h"

#include <algorithm>

void FakeLine::Deliver() {
    auto due = [&](const Pending& p) { return p.at <= m_clock.now; };
    for (auto& p : m_scheduled)
        if (due(p)) m_queue.insert(m_queue.end(), p.bytes.begin(), p.bytes.end());
    std::erase_if(m_scheduled, due);
}

long FakeLine::ReadQueued(uint8_t* dst, size_t max) {
    if (failReads) return -1;
    if (endless) {
        std::fill(dst, dst + max, endlessByte);
        return static_cast<long>(max);
    }
    Deliver();
    const size_t n = std::min(max, m_queue.size());
    std::copy_n(m_queue.begin(), n, dst);
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<long>(n));
    return static_cast<long>(n);
}

bool FakeLine::Write(std::span<const uint8_t> bytes) {
    ++writes;
    if (failWrites) return false;
    std::vector<uint8_t> b(bytes.begin(), bytes.end());
    written.insert(written.end(), b.begin(), b.end());
    if (onWrite) onWrite(b);
    return true;
}

vexa_serial::WaitResult FakeLine::WaitReadable(int64_t micros) {
    if (hungUp) return vexa_serial::WaitResult::Failed;
    Deliver();
    if (!m_queue.empty() || endless) return vexa_serial::WaitResult::Readable;
    int64_t next = m_clock.now + micros;
    for (const auto& p : m_scheduled)
        next = std::min(next, p.at);
    m_clock.now = next;
    Deliver();
    return m_queue.empty() ? vexa_serial::WaitResult::TimedOut : vexa_serial::WaitResult::Readable;
}

size_t FakeLine::Queued() const {
    size_t n = m_queue.size();
    for (const auto& p : m_scheduled)
        n += p.bytes.size();
    return n;
}
