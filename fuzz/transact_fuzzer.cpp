// Arbitrary reply streams through the real bus and ASCII transactions, over
// a fake serial line that plays a script in virtual time. Every call must end
// within four time-outs, and a read must fill the caller's value only when it
// reports success.
//
// Input: flags (bits 0-1 read/write/execute/read, 2 ASCII, 3 failing writes,
// 4 no port), station (16 bits, little end first), bus command, time-out (16
// bits, taken into 1..5000), the write value's four bytes; ASCII adds a length
// byte and the command text. Then the script: events, each a delay byte and,
// for data, a length byte and that many bytes. Delay 0xFF is one failed read,
// 0xFE a hang-up; any other delay is that many milliseconds after the
// previous event or the last request sent.
#include "AsciiTransact.h"
#include "BusTransact.h"
#include "FuzzCheck.h"
#include "support/FakeLine.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <optional>
#include <string>

// A script event: its delay byte and the bytes that arrive.
using Event = std::pair<int, std::vector<uint8_t>>;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool ascii = size > 0 && (data[0] & 4);
    if (size < (ascii ? 11u : 10u)) return 0;
    const int kind = (data[0] & 3) == 3 ? 0 : data[0] & 3; // read, write, execute
    const int station = static_cast<int16_t>(data[1] | (data[2] << 8)), busCommand = data[3];
    const int timeoutMs = (data[4] | (data[5] << 8)) % 5000 + 1;
    size_t pos = 10;
    std::string command;
    if (ascii) {
        const size_t n = std::min<size_t>(data[pos], size - pos - 1);
        command.assign(data + pos + 1, std::find(data + pos + 1, data + pos + 1 + n, 0));
        pos += n + 1;
    }
    std::vector<Event> events;
    while (pos < size) {
        Event e{data[pos++], {}};
        if (e.first < 0xFE) {
            if (pos >= size) break;
            const size_t n = std::min<size_t>(data[pos], size - pos - 1);
            e.second.assign(data + pos + 1, data + pos + 1 + n);
            pos += n + 1;
        }
        events.push_back(std::move(e));
    }

    // The same stream twice, the caller's variable holding two different
    // marks (for a write, the value written): a read that reports success
    // must have replaced them alike, anything else (and a run that reports
    // otherwise) left them.
    const auto run = [&](uint32_t mark) {
        if (kind == 1) std::memcpy(&mark, data + 6, sizeof mark);
        VirtualClock clock;
        FakeLine line(clock);
        // Each request moves the rest of the script to start after it.
        size_t next = 0, scheduled = 0;
        const auto play = [&] {
            next += scheduled - line.DropScheduled();
            int64_t at = 0;
            for (scheduled = 0; next + scheduled < events.size(); ++scheduled) {
                const Event& e = events[next + scheduled];
                at += e.first >= 0xFE ? 0 : e.first * 1000;
                line.Arrive(at, e.second,
                            e.first == 0xFF   ? FakeLine::Event::ReadFailure
                            : e.first == 0xFE ? FakeLine::Event::HangUp
                                              : FakeLine::Event::Bytes);
            }
        };
        line.failWrites = data[0] & 8;
        line.onWrite = [&](const std::vector<uint8_t>&) { play(); };
        play();
        float value = std::bit_cast<float>(mark);
        vexa_serial::SerialLine* port = (data[0] & 16) ? nullptr : &line;
        const int16_t code =
            ascii ? velda_ascii::Transact(port, clock, timeoutMs,
                                          static_cast<velda_ascii::RequestKind>(kind), station,
                                          command.c_str(), &value)
                  : veldabus::Transact(port, clock, timeoutMs,
                                       static_cast<veldabus::RequestKind>(kind), station,
                                       busCommand, &value);
        // Waiting is bounded by four time-outs (the broadcast settles 0.2 s).
        // An ASCII line cut off without its CR is drained before each retry,
        // so a reply that trickles in may cost twice that, never more.
        const int64_t took = clock.now - 1000000;
        FUZZ_CHECK(took <= (ascii ? 8 : 4) * timeoutMs * 1000 + 201000, "the call took %lld us",
                   static_cast<long long>(took));
        const uint32_t bits = std::bit_cast<uint32_t>(value);
        return std::make_pair(code, bits == mark ? std::nullopt : std::optional(bits));
    };
    const auto first = run(0x7FA00001u), second = run(0xFFA00002u);
    const bool read = first.first == 0 && kind == 0 && station != 0 && station != -1;
    FUZZ_CHECK(read ? first.second && first == second : !first.second && !second.second,
               "result %d, yet the caller's value %s", first.first, read ? "is unset" : "changed");
    return 0;
}
