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
#include "FakeLine.h"
#include "FuzzCheck.h"

#include <cstring>
#include <deque>
#include <string>

namespace {

// What a reader of the stream is owed: every byte that arrived and is not
// yet part of a line handed out.
struct Owed {
    std::string text;
    size_t front = 0;

    size_t FindCR() const { return text.find(velda_ascii::kCR, front); }
    size_t Size() const { return text.size() - front; }
    void Consume(size_t n) {
        front += n;
        if (front > (1u << 16)) {
            text.erase(0, front);
            front = 0;
        }
    }
};

// True when a line came out.
bool PollOnce(velda_ascii::StreamBuffer& buffer, FakeLine& line, Owed& owed) {
    const float mark = 12345.678f;
    float value = mark;
    // One poll takes in at most a buffer's worth; more stays queued for the
    // next, so a line behind a longer backlog may come one poll later.
    const bool backlogged = line.Queued() > velda_ascii::kStreamCapacity;
    const int16_t code = buffer.Poll(&line, &value);
    FUZZ_CHECK(buffer.Size() <= velda_ascii::kStreamCapacity + 1,
               "the stream buffer holds %zu characters", buffer.Size());
    FUZZ_CHECK(code == 0 || code == -600 || code == -700 || code == -999, "POLLSTREAM gave %d",
               code);

    const size_t cr = owed.FindCR();
    if (cr == std::string::npos) {
        FUZZ_CHECK(code == -600 || code == -700, "a line came out (%d) that never arrived", code);
        FUZZ_CHECK(value == mark, "no line, yet the value changed");
        const int16_t expected = owed.Size() >= velda_ascii::kStreamFullSize ? -600 : -700;
        FUZZ_CHECK(code == expected, "%zu characters wait without CR: %d, not %d", owed.Size(),
                   code, expected);
        return false;
    }
    if (backlogged && (code == -600 || code == -700)) {
        FUZZ_CHECK(value == mark, "no line, yet the value changed");
        return false;
    }
    FUZZ_CHECK(code == 0 || code == -999, "a complete line waits (%zu characters), yet %d",
               cr - owed.front, code);
    const std::string_view text(owed.text.data() + owed.front, cr - owed.front);
    if (text.size() < velda_ascii::kStreamCapacity) {
        const auto number = velda_ascii::ParseReplyNumber(text);
        if (number) {
            FUZZ_CHECK(code == 0 && std::memcmp(&value, &*number, sizeof value) == 0,
                       "line of %zu characters gave %d / %g, expected %g", text.size(), code,
                       static_cast<double>(value), static_cast<double>(*number));
        } else {
            FUZZ_CHECK(code == -999 && value == mark, "an unconvertible line gave %d", code);
        }
    }
    owed.Consume(cr + 1 - owed.front);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    velda_ascii::StreamBuffer buffer;
    VirtualClock clock;
    FakeLine line{clock};
    Owed owed;
    size_t pos = 0;
    while (pos < size) {
        const uint8_t op = data[pos++];
        if (op >= 0x80) {
            for (int i = 0; i < op - 0x7F; ++i)
                PollOnce(buffer, line, owed);
            continue;
        }
        size_t times = 1;
        if (op == 0x7F) {
            if (pos + 2 > size) break;
            times = size_t{data[pos]} + 1;
            pos += 1;
        }
        const size_t wanted = op == 0x7F ? data[pos++] : op;
        const size_t length = std::min(wanted, size - pos);
        const std::string_view piece(reinterpret_cast<const char*>(data + pos), length);
        pos += length;
        for (size_t i = 0; i < times; ++i) {
            line.Arrive(0, {piece.begin(), piece.end()});
            owed.text.append(piece);
        }
    }
    // Every line that arrived comes out; a backlog only delays it.
    for (int idle = 0; owed.FindCR() != std::string::npos;) {
        if (PollOnce(buffer, line, owed))
            idle = 0;
        else
            FUZZ_CHECK(++idle < 4, "lines that arrived never come out");
    }
    PollOnce(buffer, line, owed);
    return 0;
}
