// Arbitrary reply streams through the real bus and ASCII transactions, over
// a serial line that replays a script in virtual time. Every call must end
// with a code of the driver's table, within four time-outs, with the request
// on the wire unchanged from attempt to attempt, and a read must fill the
// caller's value only when it reports success.
//
// Input: flags (bits 0-1 read/write/execute/read, 2 ASCII, 3 failing writes,
// 4 no port), station (16 bits, little end first), bus command, time-out (16
// bits, taken into 1..5000), the write value's four bytes; ASCII adds a
// length byte and the command text. Then the script: events, each a delay
// byte and, for data, a length byte and that many bytes. Delay 0xFF is one
// failed read, 0xFE a hang-up; any other delay is that many milliseconds
// after the previous event or the last request sent.
#include "AsciiTransact.h"
#include "BusTransact.h"
#include "FakeLine.h"
#include "FuzzCheck.h"
#include "VexaDriver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Event {
    int delay; // 0xFF failed read, 0xFE hang-up, else milliseconds
    std::vector<uint8_t> bytes;
};

class ReplayLine final : public vexa_serial::SerialLine {
  public:
    ReplayLine(const std::vector<Event>& events, VirtualClock& clock, bool writesFail)
        : m_events(events), m_clock(clock), m_writesFail(writesFail) {
        schedule(clock.now);
    }
    long ReadQueued(uint8_t* dst, size_t max) override {
        ++calls;
        deliver();
        if (m_failures > 0) return --m_failures, -1;
        const size_t n = std::min(m_queue.size(), max);
        if (n == 0) return m_hungUp ? -1 : 0;
        std::memcpy(dst, m_queue.data(), n);
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<long>(n));
        return static_cast<long>(n);
    }
    bool Write(std::span<const uint8_t> bytes) override {
        ++calls;
        writes.emplace_back(bytes.begin(), bytes.end());
        schedule(m_clock.now); // the next scripted reply answers this request
        const bool ok = !m_writesFail && !m_hungUp;
        failedWrites += !ok;
        return ok;
    }
    vexa_serial::WaitResult WaitReadable(int64_t micros) override {
        ++calls;
        deliver();
        if (!pending() && micros > 0) {
            const bool arrives = m_next < m_events.size() && m_nextAt - m_clock.now <= micros;
            m_clock.now = arrives ? std::max(m_nextAt, m_clock.now) : m_clock.now + micros;
            deliver();
        }
        if (!m_queue.empty() || m_failures > 0) return vexa_serial::WaitResult::Readable;
        return m_hungUp ? vexa_serial::WaitResult::Failed : vexa_serial::WaitResult::TimedOut;
    }
    bool Close() override { return ++calls, true; }

    std::vector<std::vector<uint8_t>> writes;
    uint64_t calls = 0; // a code that calls without end spins
    int failedWrites = 0;

  private:
    bool pending() const { return !m_queue.empty() || m_failures > 0 || m_hungUp; }
    void schedule(int64_t from) {
        if (m_next < m_events.size())
            m_nextAt = from + (m_events[m_next].delay >= 0xFE ? 0 : m_events[m_next].delay * 1000);
    }
    void deliver() {
        while (m_next < m_events.size() && m_nextAt <= m_clock.now) {
            const Event& e = m_events[m_next++];
            if (e.delay == 0xFF) ++m_failures;
            if (e.delay == 0xFE) m_hungUp = true;
            m_queue.insert(m_queue.end(), e.bytes.begin(), e.bytes.end());
            schedule(m_nextAt);
        }
    }
    const std::vector<Event>& m_events;
    VirtualClock& m_clock;
    bool m_writesFail;
    size_t m_next = 0;
    int64_t m_nextAt = 0;
    std::vector<uint8_t> m_queue;
    int m_failures = 0;
    bool m_hungUp = false;
};

struct Call {
    int kind = 0; // read, write, execute
    bool ascii = false, writesFail = false, noLine = false;
    int station = 1, busCommand = 10, timeoutMs = 300;
    float writeValue = 0;
    std::string command;
    bool broadcast() const { return station == 0 || station == -1; }
    bool valid() const {
        if (!ascii)
            return station >= -1 && station <= veldabus::kMaxStation &&
                   busCommand >= veldabus::kMinCommand && busCommand <= veldabus::kMaxCommand;
        return station >= -1 && station <= velda_ascii::kMaxStation &&
               (kind != 1 || std::isfinite(writeValue));
    }
};

// Takes n bytes (fewer at the end) from data at pos.
std::vector<uint8_t> Take(const uint8_t* data, size_t size, size_t& pos, size_t n) {
    n = std::min(n, size - pos);
    pos += n;
    return {data + pos - n, data + pos};
}

struct Outcome {
    int16_t code = 0;
    float value = 0;
    int64_t elapsed = 0;
    std::vector<std::vector<uint8_t>> writes;
    uint64_t calls = 0;
    int failedWrites = 0;
};

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

Outcome Run(const Call& call, const std::vector<Event>& events, uint32_t startBits) {
    VirtualClock clock;
    ReplayLine replay(events, clock, call.writesFail);
    Outcome out;
    std::memcpy(&out.value, &startBits, sizeof out.value);
    vexa_serial::SerialLine* line = call.noLine ? nullptr : &replay;
    if (call.ascii)
        out.code = velda_ascii::Transact(line, clock, call.timeoutMs,
                                         static_cast<velda_ascii::RequestKind>(call.kind),
                                         call.station, call.command.c_str(), &out.value);
    else
        out.code = veldabus::Transact(line, clock, call.timeoutMs,
                                      static_cast<veldabus::RequestKind>(call.kind), call.station,
                                      call.busCommand, &out.value);
    out.elapsed = clock.now - 1000000;
    out.writes = replay.writes;
    out.calls = replay.calls;
    out.failedWrites = replay.failedWrites;
    return out;
}

void CheckRequest(const std::vector<uint8_t>& frame, const Call& call) {
    if (!call.ascii) {
        FUZZ_CHECK((frame.size() == 5 || frame.size() == 13) && frame[0] == 0xFE,
                   "bus frame of %zu bytes", frame.size());
        uint8_t x = 0;
        for (size_t i = 0; i + 2 < frame.size(); ++i)
            x ^= frame[i];
        FUZZ_CHECK(frame[frame.size() - 2] == x / 16 && frame.back() == (x & 15),
                   "bus frame checksum, expected %02X", x);
        return;
    }
    const std::string line(frame.begin(), frame.end());
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "!%03d:", std::max(call.station, 0));
    FUZZ_CHECK(line.size() >= 6 && line.compare(0, 5, prefix) == 0 && line.back() == '\r' &&
                   line.compare(5, call.command.size(), call.command) == 0,
               "request line \"%s\" for station %d", line.c_str(), call.station);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    Call call;
    const int kinds[4] = {0, 1, 2, 0};
    call.kind = kinds[data[0] & 3];
    call.ascii = data[0] & 4;
    call.writesFail = data[0] & 8;
    call.noLine = data[0] & 16;
    call.station = static_cast<int16_t>(data[1] | (data[2] << 8));
    call.busCommand = data[3];
    call.timeoutMs = (data[4] | (data[5] << 8)) % 5000 + 1;
    std::memcpy(&call.writeValue, data + 6, sizeof call.writeValue);
    size_t pos = 10;
    if (call.ascii) {
        if (pos >= size) return 0;
        const auto text = Take(data, size, pos, data[pos++]);
        call.command.assign(text.begin(), std::find(text.begin(), text.end(), 0));
    }
    std::vector<Event> events;
    while (pos < size) {
        Event e{data[pos++], {}};
        if (e.delay < 0xFE) {
            if (pos >= size) break;
            e.bytes = Take(data, size, pos, data[pos++]);
        }
        events.push_back(std::move(e));
    }

    // The same stream twice, the caller's variable holding two different
    // marks: whatever a read reports, the two runs must agree.
    const uint32_t marks[2] = {call.kind == 1 ? Bits(call.writeValue) : 0x7FA00001u,
                               call.kind == 1 ? Bits(call.writeValue) : 0xFFA00002u};
    const Outcome a = Run(call, events, marks[0]);
    const Outcome b = Run(call, events, marks[1]);
    const int16_t code = a.code;
    // A request the port could not send fails both alike.
    const bool known = code == VEXA_OK || code == VEXA_INVALID_ARGUMENT ||
                       code == VEXA_NO_RESPONSE || code == VEXA_BAD_STATION || code == VEXA_NAK ||
                       code == VEXA_PORT_ERROR ||
                       (call.ascii ? code == VEXA_PORT_FAILED
                                   : code == VEXA_BAD_CHECKSUM || code == VEXA_BAD_LENGTH);
    FUZZ_CHECK(known, "result %d is not a code this driver gives", code);
    FUZZ_CHECK(code == b.code, "the same stream gave %d and %d", code, b.code);
    if (code == 0 && call.kind == 0 && !call.broadcast())
        FUZZ_CHECK(Bits(a.value) == Bits(b.value), "a read reported success without a value");
    else
        FUZZ_CHECK(Bits(a.value) == marks[0] && Bits(b.value) == marks[1],
                   "result %d changed the caller's value", code);

    const auto& writes = a.writes;
    if (call.noLine) {
        FUZZ_CHECK(writes.empty() && code != 0, "no port: %zu requests, result %d", writes.size(),
                   code);
        return 0;
    }
    // Argument errors send nothing; anything else sends the same request on
    // every attempt, at most four times.
    if (!call.valid()) {
        FUZZ_CHECK(code == -1 && writes.empty(), "invalid arguments: %d, %zu requests", code,
                   writes.size());
        return 0;
    }
    FUZZ_CHECK(code != -1 && !writes.empty() && writes.size() <= 4, "%zu requests, result %d",
               writes.size(), code);
    for (const auto& w : writes) {
        FUZZ_CHECK(w == writes.front(), "the request changed between attempts");
        CheckRequest(w, call);
    }
    if (call.broadcast())
        FUZZ_CHECK(writes.size() == 1 && (code == 0 || (a.failedWrites > 0 && code == -999)),
                   "broadcast: %zu requests, result %d", writes.size(), code);
    // Waiting is bounded by four time-outs (the broadcast settles 0.2 s). An
    // ASCII line cut off without its CR is drained before each retry, so a
    // reply that trickles in may cost twice that, never more.
    const int64_t attempts = call.ascii ? 8 : 4;
    const int64_t bound = attempts * call.timeoutMs * 1000 + 201000;
    FUZZ_CHECK(a.elapsed <= bound, "the call took %lld us", static_cast<long long>(a.elapsed));
    FUZZ_CHECK(a.calls < 200000, "%llu calls on the line: the wait spins",
               static_cast<unsigned long long>(a.calls));
    return 0;
}
