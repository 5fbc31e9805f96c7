#include "AsciiStream.h"

#include "AsciiLine.h"
#include "VexaDriver.h"

#include <algorithm>

namespace velda_ascii {

void StreamBuffer::Append(std::string_view received) {
    if (m_text.size() >= kStreamCapacity && m_text.find(kCR) == std::string::npos) {
        const size_t cr = received.find(kCR);
        if (cr == std::string_view::npos) return;
        // The dropped middle of the endless line ends here.
        received.remove_prefix(cr);
    }
    m_text.append(received);
}

int16_t StreamBuffer::Poll(vexa_serial::SerialLine* line, float* value) {
    if (line) {
        char chunk[1024];
        // At most one receive queue's worth per poll plus what completes a
        // line, so a torrent of input cannot hold the caller.
        for (size_t taken = 0; taken < kStreamCapacity;) {
            const size_t room = kStreamCapacity - std::min(kStreamCapacity, m_text.size());
            // Complete lines waiting in a full buffer: leave the rest queued
            // rather than read and lose it.
            if (room == 0 && m_text.find(kCR) != std::string::npos) break;
            const size_t want = room == 0 ? sizeof chunk : std::min(room, sizeof chunk);
            const long n = line->ReadQueued(reinterpret_cast<uint8_t*>(chunk), want);
            if (n <= 0) break;
            Append(std::string_view(chunk, static_cast<size_t>(n)));
            taken += static_cast<size_t>(n);
        }
    }
    if (m_text.empty()) return VEXA_NO_STREAM_DATA;
    const int16_t pending =
        m_text.size() >= kStreamFullSize ? VEXA_STREAM_FULL : VEXA_NO_STREAM_DATA;
    const size_t cr = m_text.find(kCR);
    if (cr == std::string::npos) return pending;
    const auto number = ParseReplyNumber(std::string_view(m_text).substr(0, cr));
    m_text.erase(0, cr + 1);
    if (!number) return VEXA_PORT_ERROR;
    if (value) *value = *number;
    return VEXA_OK;
}

void SendFlowControl(vexa_serial::SerialLine* line, char byte) {
    if (!line) return;
    const uint8_t b = static_cast<uint8_t>(byte);
    line->Write(std::span(&b, 1));
}

} // namespace velda_ascii
