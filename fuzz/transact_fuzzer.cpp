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
#include <cstring>
#include <string>

namespace {

using Bytes = std::vector<uint8_t>;
struct Event {
    int delay;
    Bytes bytes;
};

class ReplayLine final : public vexa_serial::SerialLine {
  public:
    ReplayLine(const std::vector<Event>& events, VirtualClock& clock, bool writesFail)
        : m_events(events), m_clock(clock), m_writesFail(writesFail) {
        Schedule(clock.now);
    }
    long ReadQueued(uint8_t* dst, size_t max) override {
        ++calls;
        Deliver();
        if (m_failures > 0) return --m_failures, -1;
        const size_t n = std::min(m_queue.size(), max);
        std::copy_n(m_queue.begin(), n, dst);
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<long>(n));
        return n == 0 && m_hungUp ? -1 : static_cast<long>(n);
    }
    bool Write(std::span<const uint8_t> bytes) override {
        ++calls;
        writes.emplace_back(bytes.begin(), bytes.end());
        Schedule(m_clock.now); // the next scripted reply answers this request
        failedWrites += m_writesFail || m_hungUp;
        return !m_writesFail && !m_hungUp;
    }
    vexa_serial::WaitResult WaitReadable(int64_t micros) override {
        ++calls;
        Deliver();
        if (m_queue.empty() && m_failures == 0 && !m_hungUp && micros > 0) {
            const bool arrives = m_next < m_events.size() && m_nextAt - m_clock.now <= micros;
            m_clock.now = arrives ? std::max(m_nextAt, m_clock.now) : m_clock.now + micros;
            Deliver();
        }
        if (!m_queue.empty() || m_failures > 0) return vexa_serial::WaitResult::Readable;
        return m_hungUp ? vexa_serial::WaitResult::Failed : vexa_serial::WaitResult::TimedOut;
    }
    bool Close() override { return true; }

    std::vector<Bytes> writes;
    uint64_t calls = 0; // a code that calls without end spins
    int failedWrites = 0;

  private:
    void Schedule(int64_t from) {
        if (m_next < m_events.size())
            m_nextAt = from + (m_events[m_next].delay >= 0xFE ? 0 : m_events[m_next].delay * 1000);
    }
    void Deliver() {
        while (m_next < m_events.size() && m_nextAt <= m_clock.now) {
            const Event& e = m_events[m_next++];
            m_failures += e.delay == 0xFF;
            m_hungUp |= e.delay == 0xFE;
            m_queue.insert(m_queue.end(), e.bytes.begin(), e.bytes.end());
            Schedule(m_nextAt);
        }
    }
    const std::vector<Event>& m_events;
    VirtualClock& m_clock;
    bool m_writesFail;
    size_t m_next = 0;
    int64_t m_nextAt = 0;
    Bytes m_queue;
    int m_failures = 0;
    bool m_hungUp = false;
};

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 10) return 0;
    const int kind = (data[0] & 3) == 3 ? 0 : data[0] & 3; // read, write, execute
    const bool ascii = data[0] & 4, writesFail = data[0] & 8, noLine = data[0] & 16;
    const int station = static_cast<int16_t>(data[1] | (data[2] << 8)), busCommand = data[3];
    const int timeoutMs = (data[4] | (data[5] << 8)) % 5000 + 1;
    float writeValue;
    std::memcpy(&writeValue, data + 6, sizeof writeValue);
    size_t pos = 10;
    std::string command;
    if (ascii) {
        if (pos >= size) return 0;
        const size_t n = std::min<size_t>(data[pos], size - pos - 1);
        command.assign(data + pos + 1, std::find(data + pos + 1, data + pos + 1 + n, 0));
        pos += n + 1;
    }
    std::vector<Event> events;
    while (pos < size) {
        Event e{data[pos++], {}};
        if (e.delay < 0xFE) {
            if (pos >= size) break;
            const size_t n = std::min<size_t>(data[pos], size - pos - 1);
            e.bytes.assign(data + pos + 1, data + pos + 1 + n);
            pos += n + 1;
        }
        events.push_back(std::move(e));
    }

    // The same stream twice, the caller's variable holding two different
    // marks: whatever a read reports, the two runs must agree.
    const uint32_t marks[2] = {kind == 1 ? Bits(writeValue) : 0x7FA00001u,
                               kind == 1 ? Bits(writeValue) : 0xFFA00002u};
    VirtualClock clocks[2];
    ReplayLine lines[2] = {{events, clocks[0], writesFail}, {events, clocks[1], writesFail}};
    int16_t codes[2];
    float values[2];
    for (int run = 0; run < 2; ++run) {
        std::memcpy(&values[run], &marks[run], sizeof(float));
        vexa_serial::SerialLine* line = noLine ? nullptr : &lines[run];
        codes[run] = ascii ? velda_ascii::Transact(line, clocks[run], timeoutMs,
                                                   static_cast<velda_ascii::RequestKind>(kind),
                                                   station, command.c_str(), &values[run])
                           : veldabus::Transact(line, clocks[run], timeoutMs,
                                                static_cast<veldabus::RequestKind>(kind), station,
                                                busCommand, &values[run]);
    }
    const auto& writes = lines[0].writes;
    const int16_t code = codes[0];
    const bool known =
        code == VEXA_OK || code == VEXA_INVALID_ARGUMENT || code == VEXA_NO_RESPONSE ||
        code == VEXA_BAD_STATION || code == VEXA_NAK || code == VEXA_PORT_ERROR ||
        (ascii ? code == VEXA_PORT_FAILED : code == VEXA_BAD_CHECKSUM || code == VEXA_BAD_LENGTH);
    FUZZ_CHECK(known, "result %d is not a code this driver gives", code);
    FUZZ_CHECK(code == codes[1], "the same stream gave %d and %d", code, codes[1]);
    const bool broadcast = station == 0 || station == -1;
    if (code == 0 && kind == 0 && !broadcast)
        FUZZ_CHECK(Bits(values[0]) == Bits(values[1]), "a read reported success without a value");
    else
        FUZZ_CHECK(Bits(values[0]) == marks[0] && Bits(values[1]) == marks[1],
                   "result %d changed the caller's value", code);
    if (noLine) {
        FUZZ_CHECK(writes.empty() && code != 0, "no port: %zu requests, result %d", writes.size(),
                   code);
        return 0;
    }
    // Argument errors send nothing; anything else sends the same request on
    // every attempt, at most four times.
    const bool valid = ascii ? station >= -1 && station <= velda_ascii::kMaxStation &&
                                   (kind != 1 || std::isfinite(writeValue))
                             : station >= -1 && station <= veldabus::kMaxStation &&
                                   busCommand >= veldabus::kMinCommand &&
                                   busCommand <= veldabus::kMaxCommand;
    if (!valid) {
        FUZZ_CHECK(code == -1 && writes.empty(), "invalid arguments: %d, %zu requests", code,
                   writes.size());
        return 0;
    }
    FUZZ_CHECK(code != -1 && !writes.empty() && writes.size() <= 4, "%zu requests, result %d",
               writes.size(), code);
    for (const auto& again : writes)
        FUZZ_CHECK(again == writes.front(), "the request changed between attempts");
    if (broadcast)
        FUZZ_CHECK(writes.size() == 1 && (code == 0 || (lines[0].failedWrites > 0 && code == -999)),
                   "broadcast: %zu requests, result %d", writes.size(), code);
    // Waiting is bounded by four time-outs (the broadcast settles 0.2 s). An
    // ASCII line cut off without its CR is drained before each retry, so a
    // reply that trickles in may cost twice that, never more.
    const int64_t bound = (ascii ? 8 : 4) * timeoutMs * 1000 + 201000;
    FUZZ_CHECK(clocks[0].now - 1000000 <= bound, "the call took %lld us",
               static_cast<long long>(clocks[0].now - 1000000));
    FUZZ_CHECK(lines[0].calls < 200000, "%llu calls on the line: the wait spins",
               static_cast<unsigned long long>(lines[0].calls));
    return 0;
}
