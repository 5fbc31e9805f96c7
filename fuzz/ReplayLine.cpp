#include "ReplayLine.h"

#include <algorithm>
#include <cstring>

namespace fuzzing {

std::vector<LineEvent> ParseScript(std::span<const uint8_t> script) {
    std::vector<LineEvent> events;
    size_t pos = 0;
    while (pos < script.size()) {
        const uint8_t delay = script[pos++];
        LineEvent event;
        if (delay == 0xFF) {
            event.kind = LineEvent::Kind::ReadFailure;
        } else if (delay == 0xFE) {
            event.kind = LineEvent::Kind::HangUp;
        } else {
            event.delayMicros = int64_t{delay} * 1000;
            if (pos >= script.size()) break;
            const size_t wanted = script[pos++];
            const size_t length = std::min(wanted, script.size() - pos);
            event.bytes.assign(script.begin() + pos, script.begin() + pos + length);
            pos += length;
        }
        events.push_back(std::move(event));
    }
    return events;
}

ReplayLine::ReplayLine(std::vector<LineEvent> events, ReplayClock& clock, bool writesFail)
    : m_events(std::move(events)), m_writesFail(writesFail), m_clock(clock) {
    m_lastArrival = m_clock.NowMicros();
    Schedule();
}

void ReplayLine::Schedule() {
    if (m_next < m_events.size()) m_nextAt = m_lastArrival + m_events[m_next].delayMicros;
}

void ReplayLine::Deliver() {
    while (m_next < m_events.size() && m_nextAt <= m_clock.NowMicros()) {
        const LineEvent& event = m_events[m_next];
        switch (event.kind) {
        case LineEvent::Kind::Bytes:
            m_queue.insert(m_queue.end(), event.bytes.begin(), event.bytes.end());
            break;
        case LineEvent::Kind::ReadFailure:
            ++m_pendingFailures;
            break;
        case LineEvent::Kind::HangUp:
            m_hungUp = true;
            break;
        }
        m_lastArrival = m_nextAt;
        ++m_next;
        Schedule();
    }
}

bool ReplayLine::HasSomethingToReport() const {
    return m_queueFront < m_queue.size() || m_pendingFailures > 0 || m_hungUp;
}

long ReplayLine::ReadQueued(uint8_t* dst, size_t max) {
    ++m_calls;
    Deliver();
    if (m_pendingFailures > 0) {
        --m_pendingFailures;
        return -1;
    }
    const size_t available = m_queue.size() - m_queueFront;
    if (available == 0) return m_hungUp ? -1 : 0;
    const size_t n = std::min(available, max);
    std::memcpy(dst, m_queue.data() + m_queueFront, n);
    m_queueFront += n;
    return static_cast<long>(n);
}

bool ReplayLine::Write(std::span<const uint8_t> bytes) {
    ++m_calls;
    m_writes.emplace_back(bytes.begin(), bytes.end());
    // The next scripted reply answers this request.
    if (m_next < m_events.size()) m_nextAt = m_clock.NowMicros() + m_events[m_next].delayMicros;
    const bool ok = !m_writesFail && !m_hungUp;
    if (!ok) ++m_failedWrites;
    return ok;
}

vexa_serial::WaitResult ReplayLine::WaitReadable(int64_t micros) {
    ++m_calls;
    Deliver();
    if (!HasSomethingToReport() && micros > 0) {
        const int64_t now = m_clock.NowMicros();
        if (m_next < m_events.size() && m_nextAt - now <= micros) {
            m_clock.Advance(std::max<int64_t>(m_nextAt - now, 0));
            Deliver();
        } else {
            m_clock.Advance(micros);
            return vexa_serial::WaitResult::TimedOut;
        }
    }
    if (m_queueFront < m_queue.size() || m_pendingFailures > 0)
        return vexa_serial::WaitResult::Readable;
    if (m_hungUp) return vexa_serial::WaitResult::Failed;
    return vexa_serial::WaitResult::TimedOut;
}

bool ReplayLine::Close() {
    ++m_calls;
    m_closed = true;
    return true;
}

} // namespace fuzzing
