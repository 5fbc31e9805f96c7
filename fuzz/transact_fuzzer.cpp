// Arbitrary reply streams through the real bus and ASCII transactions, over
// a fake serial line that plays a script in virtual time. Every call must end
// within four time-outs, give the same result for the same stream, and a read
// must fill the caller's value only when it reports success.
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
#include "FuzzCheck.h"
#include "support/FakeLine.h"

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
    FakeLine lines[2] = {FakeLine(clocks[0]), FakeLine(clocks[1])};
    std::vector<Bytes> writes[2];
    int16_t codes[2];
    float values[2];
    for (int run = 0; run < 2; ++run) {
        FakeLine& line = lines[run];
        // Each request moves the rest of the script to start after it.
        size_t next = 0, scheduled = 0;
        const auto play = [&] {
            next += scheduled - line.DropScheduled();
            int64_t at = 0;
            for (scheduled = 0; next + scheduled < events.size(); ++scheduled) {
                const Event& e = events[next + scheduled];
                at += e.delay >= 0xFE ? 0 : e.delay * 1000;
                line.Arrive(at, e.bytes,
                            e.delay == 0xFF   ? FakeLine::Event::ReadFailure
                            : e.delay == 0xFE ? FakeLine::Event::HangUp
                                              : FakeLine::Event::Bytes);
            }
        };
        line.failWrites = writesFail;
        line.onWrite = [&](const Bytes& request) {
            writes[run].push_back(request);
            play();
        };
        play();
        std::memcpy(&values[run], &marks[run], sizeof(float));
        vexa_serial::SerialLine* port = noLine ? nullptr : &line;
        codes[run] = ascii ? velda_ascii::Transact(port, clocks[run], timeoutMs,
                                                   static_cast<velda_ascii::RequestKind>(kind),
                                                   station, command.c_str(), &values[run])
                           : veldabus::Transact(port, clocks[run], timeoutMs,
                                                static_cast<veldabus::RequestKind>(kind), station,
                                                busCommand, &values[run]);
    }
    const int16_t code = codes[0];
    FUZZ_CHECK(code == codes[1], "the same stream gave %d and %d", code, codes[1]);
    const bool broadcast = station == 0 || station == -1;
    if (code == 0 && kind == 0 && !broadcast)
        FUZZ_CHECK(Bits(values[0]) == Bits(values[1]), "a read reported success without a value");
    else
        FUZZ_CHECK(Bits(values[0]) == marks[0] && Bits(values[1]) == marks[1],
                   "result %d changed the caller's value", code);
    if (noLine) {
        FUZZ_CHECK(writes[0].empty() && code != 0, "no port: %zu requests, result %d",
                   writes[0].size(), code);
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
        FUZZ_CHECK(code == -1 && writes[0].empty(), "invalid arguments: %d, %zu requests", code,
                   writes[0].size());
        return 0;
    }
    FUZZ_CHECK(code != -1 && !writes[0].empty() && writes[0].size() <= 4, "%zu requests, result %d",
               writes[0].size(), code);
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
