// Arbitrary streamed bytes through the stream buffer behind POLLSTREAM,
// arriving in arbitrary pieces between polls. Every line that arrived must
// come out, oldest first, exactly once, as the number its text starts with;
// nothing else may come out, and the buffer stays bounded.
//
// Input: a list of operations. A byte below 0x7F is a piece of that many
// following bytes arriving on the line; 0x7F, then a count byte c and a
// length byte n, is the n following bytes arriving c + 1 times; a byte of
// 0x80 and above is (byte - 0x7F) polls. After the list the test polls
// until every line has come out.
#include "AsciiLine.h"
#include "AsciiStream.h"
#include "FuzzCheck.h"
#include "support/FakeLine.h"

#include <cstring>
#include <string>

namespace {

// What a reader of the stream is owed: every byte that arrived and is not
// yet part of a line handed out (from `front` on).
std::string owed;
size_t front = 0;

// True when a line came out.
bool PollOnce(velda_ascii::StreamBuffer& buffer, FakeLine& line) {
    const float mark = 12345.678f;
    float value = mark;
    // One poll takes in at most a buffer's worth; more stays queued for the
    // next, so a line behind a longer backlog may come one poll later.
    const bool backlogged = line.Queued() > velda_ascii::kStreamCapacity;
    const int16_t code = buffer.Poll(&line, &value);
    FUZZ_CHECK(buffer.Size() <= velda_ascii::kStreamCapacity + 1,
               "the stream buffer holds %zu characters", buffer.Size());
    const size_t cr = owed.find(velda_ascii::kCR, front);
    if (cr == std::string::npos || (backlogged && (code == -600 || code == -700))) {
        const int16_t expected = owed.size() - front >= velda_ascii::kStreamFullSize ? -600 : -700;
        FUZZ_CHECK(value == mark && (code == expected || (cr != std::string::npos && code < 0)),
                   "%zu characters wait without CR: %d, not %d", owed.size() - front, code,
                   expected);
        return false;
    }
    const std::string_view text(owed.data() + front, cr - front);
    const auto number = velda_ascii::ParseReplyNumber(text);
    // A line beyond the buffer keeps only its start, which is all the
    // conversion reads; a longer one is not judged.
    if (text.size() < velda_ascii::kStreamCapacity)
        FUZZ_CHECK(number ? code == 0 && std::memcmp(&value, &*number, sizeof value) == 0
                          : code == -999 && value == mark,
                   "line of %zu characters gave %d / %g", text.size(), code,
                   static_cast<double>(value));
    front = cr + 1; // at most a few MB from the longest input: kept whole
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velda_ascii::StreamBuffer buffer;
    VirtualClock clock;
    FakeLine line{clock};
    owed.clear();
    front = 0;
    for (size_t pos = 0; pos < size;) {
        const uint8_t op = data[pos++];
        if (op >= 0x80) {
            for (int i = 0; i < op - 0x7F; ++i)
                PollOnce(buffer, line);
            continue;
        }
        if (op == 0x7F && pos + 2 > size) break;
        const size_t times = op == 0x7F ? size_t{data[pos++]} + 1 : 1;
        const size_t wanted = op == 0x7F ? data[pos++] : op;
        const size_t length = std::min(wanted, size - pos);
        const std::string piece(reinterpret_cast<const char*>(data + pos), length);
        pos += length;
        for (size_t i = 0; i < times; ++i) {
            line.Arrive(0, {piece.begin(), piece.end()});
            owed += piece;
        }
    }
    // Every line that arrived comes out; a backlog only delays it.
    for (int idle = 0; owed.find(velda_ascii::kCR, front) != std::string::npos;) {
        idle = PollOnce(buffer, line) ? 0 : idle + 1;
        FUZZ_CHECK(idle < 4, "lines that arrived never come out");
    }
    PollOnce(buffer, line);
    return 0;
}
