#include "support/FakeLine.h"

#include <algorithm>

void FakeLine::Deliver() {
    auto due = [&](const Pending& p) { return p.at <= m_clock.now; };
    for (auto& p : m_scheduled) {
        if (!due(p)) continue;
        m_queue.insert(m_queue.end(), p.bytes.begin(), p.bytes.end());
        m_failures += p.event == Event::ReadFailure;
        hungUp |= p.event == Event::HangUp;
    }
    std::erase_if(m_scheduled, due);
}

long FakeLine::ReadQueued(uint8_t* dst, size_t max) {
    ++calls;
    if (failReads) return -1;
    if (endless) {
        std::fill(dst, dst + max, endlessByte);
        return static_cast<long>(max);
    }
    Deliver();
    if (m_failures > 0) return --m_failures, -1;
    const size_t n = std::min(max, m_queue.size());
    std::copy_n(m_queue.begin(), n, dst);
    m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<long>(n));
    return n == 0 && hungUp ? -1 : static_cast<long>(n);
}

bool FakeLine::Write(std::span<const uint8_t> bytes) {
    ++calls;
    ++writes;
    const bool ok = !failWrites && !hungUp;
    std::vector<uint8_t> b(bytes.begin(), bytes.end());
    if (ok) written.insert(written.end(), b.begin(), b.end());
    if (onWrite) onWrite(b);
    return ok;
}

vexa_serial::WaitResult FakeLine::WaitReadable(int64_t micros) {
    ++calls;
    Deliver();
    if (!m_queue.empty() || m_failures > 0 || endless) return vexa_serial::WaitResult::Readable;
    if (hungUp) return vexa_serial::WaitResult::Failed;
    int64_t next = m_clock.now + micros;
    for (const auto& p : m_scheduled)
        next = std::min(next, p.at);
    m_clock.now = next;
    Deliver();
    if (!m_queue.empty() || m_failures > 0) return vexa_serial::WaitResult::Readable;
    return hungUp ? vexa_serial::WaitResult::Failed : vexa_serial::WaitResult::TimedOut;
}

size_t FakeLine::Queued() const {
    size_t n = m_queue.size();
    for (const auto& p : m_scheduled)
        n += p.bytes.size();
    return n;
}
