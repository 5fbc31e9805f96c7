// Arbitrary reply streams through the real bus and ASCII transactions. Every
// call must end with a code of the driver's table, within four time-outs,
// with the request on the wire unchanged from attempt to attempt, and a read
// must fill the caller's value only when it reports success.
#include "FuzzCheck.h"
#include "ReplayLine.h"
#include "TransactCall.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float FromBits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

struct Outcome {
    int16_t code = 0;
    float value = 0;
    std::vector<std::vector<uint8_t>> writes;
    int64_t elapsedMicros = 0;
    uint64_t calls = 0;
    int failedWrites = 0;
};

Outcome Run(const fuzzing::TransactCall& call, const std::vector<fuzzing::LineEvent>& events,
            float start) {
    fuzzing::ReplayClock clock;
    fuzzing::ReplayLine line(events, clock, call.writesFail);
    Outcome out;
    out.value = start;
    const int64_t before = clock.NowMicros();
    out.code = fuzzing::RunTransact(call, call.noLine ? nullptr : &line, clock, &out.value);
    out.elapsedMicros = clock.NowMicros() - before;
    out.writes = line.Writes();
    out.calls = line.Calls();
    out.failedWrites = line.FailedWrites();
    return out;
}

void CheckBusFrame(const std::vector<uint8_t>& frame) {
    FUZZ_CHECK(frame.size() == 5 || frame.size() == 13, "bus frame of %zu bytes", frame.size());
    FUZZ_CHECK(frame[0] == 0xFE, "bus frame starts with %02X", frame[0]);
    uint8_t x = 0;
    for (size_t i = 0; i + 2 < frame.size(); ++i)
        x ^= frame[i];
    FUZZ_CHECK(frame[frame.size() - 2] == x / 16 && frame[frame.size() - 1] == (x & 15),
               "bus frame checksum %02X %02X, expected %02X", frame[frame.size() - 2], frame.back(),
               x);
}

void CheckAsciiLine(const std::vector<uint8_t>& frame, const fuzzing::TransactCall& call) {
    const std::string line(frame.begin(), frame.end());
    FUZZ_CHECK(line.size() >= 6 && line[0] == '!' && line[4] == ':' && line.back() == '\r',
               "request line \"%s\"", line.c_str());
    const int station = call.station < 0 ? 0 : call.station;
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "!%03d:", station);
    FUZZ_CHECK(line.compare(0, 5, prefix) == 0, "request line \"%s\" for station %d", line.c_str(),
               call.station);
    FUZZ_CHECK(line.compare(5, call.command.size(), call.command) == 0,
               "request line \"%s\" lost the command", line.c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::TransactCall call;
    size_t used = 0;
    if (!fuzzing::ParseTransactCall({data, size}, call, used)) return 0;
    const auto events = fuzzing::ParseScript({data + used, size - used});

    // The same stream twice, the caller's variable holding two different
    // marks: whatever a read reports, the two runs must agree.
    const float markA = FromBits(0x7FA00001u);
    const float markB = FromBits(0xFFA00002u);
    const float startA = call.kind == fuzzing::Kind::Write ? call.writeValue : markA;
    const float startB = call.kind == fuzzing::Kind::Write ? call.writeValue : markB;
    const Outcome a = Run(call, events, startA);
    const Outcome b = Run(call, events, startB);

    const bool known = fuzzing::IsTableCode(call.protocol, a.code);
    FUZZ_CHECK(known, "result %d is not a code this driver gives", a.code);
    FUZZ_CHECK(a.code == b.code, "the same stream gave %d and %d", a.code, b.code);

    if (a.code == 0 && call.kind == fuzzing::Kind::Read && !call.broadcast()) {
        FUZZ_CHECK(Bits(a.value) == Bits(b.value),
                   "a read reported success without storing a value (%08X / %08X)", Bits(a.value),
                   Bits(b.value));
    } else {
        FUZZ_CHECK(Bits(a.value) == Bits(startA) && Bits(b.value) == Bits(startB),
                   "result %d changed the caller's value to %08X", a.code, Bits(a.value));
    }

    if (call.noLine) {
        FUZZ_CHECK(a.writes.empty() && a.code != 0, "no port: %zu requests, result %d",
                   a.writes.size(), a.code);
        return 0;
    }
    // Argument errors send nothing; anything else sends the same request on
    // every attempt, at most four times.
    if (!call.argumentsValid()) {
        FUZZ_CHECK(a.code == -1, "invalid arguments gave %d", a.code);
        FUZZ_CHECK(a.writes.empty(), "invalid arguments sent %zu requests", a.writes.size());
        return 0;
    }
    FUZZ_CHECK(a.code != -1, "valid arguments gave -1");
    FUZZ_CHECK(a.writes.size() <= 4, "%zu requests sent", a.writes.size());
    FUZZ_CHECK(!a.writes.empty(), "nothing sent, result %d", a.code);
    for (const auto& w : a.writes) {
        FUZZ_CHECK(w == a.writes.front(), "the request changed between attempts");
        if (call.protocol == fuzzing::Protocol::Bus)
            CheckBusFrame(w);
        else
            CheckAsciiLine(w, call);
    }
    if (call.broadcast())
        FUZZ_CHECK(a.writes.size() == 1 && (a.code == 0 || (a.failedWrites > 0 && a.code == -999)),
                   "broadcast: %zu requests (%d failed), result %d", a.writes.size(),
                   a.failedWrites, a.code);

    // Waiting is bounded by four time-outs (the broadcast settles 0.2 s). An
    // ASCII line cut off without its CR is drained before each retry, so a
    // reply that trickles in may cost twice that, never more.
    const int64_t attempts = call.protocol == fuzzing::Protocol::Bus ? 4 : 8;
    const int64_t bound = attempts * call.timeoutMs * 1000 + 200000 + 1000;
    FUZZ_CHECK(a.elapsedMicros <= bound, "the call took %lld us, at most %lld allowed",
               static_cast<long long>(a.elapsedMicros), static_cast<long long>(bound));
    FUZZ_CHECK(a.calls < 200000, "%llu calls on the line: the wait spins",
               static_cast<unsigned long long>(a.calls));
    return 0;
}
