#include "SerialLine.h"

#include <algorithm>

namespace vexa_serial {

bool FlushInput(SerialLine& line) {
    uint8_t scratch[512];
    // Bounded, so a line that never falls silent cannot hold the caller.
    for (int round = 0; round < 64; ++round) {
        const long n = line.ReadQueued(scratch, sizeof scratch);
        if (n < 0) return false;
        if (n == 0) return true;
    }
    return true;
}

std::vector<uint8_t> ReceiveUntil(SerialLine& line, MonotonicClock& clock, int timeoutMs,
                                  size_t maxBytes,
                                  const std::function<bool(std::span<const uint8_t>)>& complete) {
    std::vector<uint8_t> got;
    const int64_t deadline = clock.NowMicros() + static_cast<int64_t>(timeoutMs) * 1000;
    uint8_t chunk[256];
    for (;;) {
        bool readFailed = false;
        while (got.size() < maxBytes) {
            const size_t room = std::min(sizeof chunk, maxBytes - got.size());
            const long n = line.ReadQueued(chunk, room);
            readFailed = n < 0;
            if (n <= 0) break;
            got.insert(got.end(), chunk, chunk + n);
        }
        // A port that fails its reads would otherwise be polled in a tight
        // loop until the deadline.
        if (readFailed || got.size() >= maxBytes || complete(got)) break;
        const int64_t remaining = deadline - clock.NowMicros();
        if (remaining <= 0) break;
        if (line.WaitReadable(remaining) == WaitResult::Failed) break;
    }
    return got;
}

} // namespace vexa_serial
