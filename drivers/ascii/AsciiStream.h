// Streamed readings: an instrument that sends one line per reading on its
// own, collected between polls and handed out oldest first.
#pragma once

#include "SerialLine.h"

#include <cstdint>
#include <string>

namespace velda_ascii {

// From this many characters without a CR the stream reports a full buffer.
inline constexpr size_t kStreamFullSize = 4096;
// A poll reads no further once the buffer holds this much. When it is full
// and holds no CR, characters are dropped until the next CR, which ends the
// line; the start of the line, which is all the conversion reads, is kept.
inline constexpr size_t kStreamCapacity = 65536;

class StreamBuffer {
  public:
    // POLLSTREAM: takes what `line` has queued (nothing when null), then
    // hands out the oldest complete line: 0 with `value` set; -700 when no
    // complete line is buffered (-600 instead once kStreamFullSize or more
    // characters wait without a CR); -999 when the line's number fits no
    // single (the line is consumed, `value` unchanged).
    int16_t Poll(vexa_serial::SerialLine* line, float* value);
    // Adds received characters under the dropping rule above.
    void Append(std::string_view received);
    size_t Size() const { return m_text.size(); }

  private:
    std::string m_text;
};

// SENDXON / SENDXOFF: the single flow-control byte, when a line is open.
void SendFlowControl(vexa_serial::SerialLine* line, char byte);

} // namespace velda_ascii
