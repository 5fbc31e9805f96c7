#include "BusFrame.h"

#include "VexaDriver.h"

#include <bit>

namespace veldabus {

EncodedValue EncodeValue(float value) {
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    EncodedValue out{};
    for (size_t k = 0; k < 4; ++k) {
        const uint8_t byte = static_cast<uint8_t>(bits >> (24 - 8 * k));
        out[2 * k] = byte >> 4;
        out[2 * k + 1] = byte & 0x0F;
    }
    out[kEncodedValueSize - 1] |= kLastByteMark;
    return out;
}

float DecodeValue(std::span<const uint8_t, kEncodedValueSize> bytes) {
    uint32_t bits = 0;
    for (size_t k = 0; k < 4; ++k) {
        uint8_t low = bytes[2 * k + 1];
        if (k == 3) low &= 0x0F;
        const uint8_t byte = static_cast<uint8_t>(16u * bytes[2 * k] + low);
        bits = (bits << 8) | byte;
    }
    return std::bit_cast<float>(bits);
}

Checksum FrameChecksum(std::span<const uint8_t> covered) {
    uint8_t x = 0;
    for (uint8_t b : covered)
        x ^= b;
    return {static_cast<uint8_t>(x / 16), static_cast<uint8_t>(x & 15)};
}

namespace {

void AppendChecksum(std::vector<uint8_t>& frame) {
    const Checksum sum = FrameChecksum(frame);
    frame.insert(frame.end(), sum.begin(), sum.end());
}

bool ChecksumMatches(std::span<const uint8_t> frame) {
    const size_t n = frame.size();
    const Checksum sum = FrameChecksum(frame.first(n - 2));
    return frame[n - 2] == sum[0] && frame[n - 1] == sum[1];
}

} // namespace

std::optional<std::vector<uint8_t>> BuildRequest(RequestKind kind, int station, int command,
                                                 float value) {
    if (station < 0 || station > kMaxStation) return std::nullopt;
    if (command < kMinCommand || command > kMaxCommand) return std::nullopt;
    std::vector<uint8_t> frame{kStartByte, static_cast<uint8_t>(station)};
    frame.reserve(kWriteRequestSize);
    if (kind == RequestKind::Write) {
        // Bit 7 of the command is not reserved: 128..253 keep it set.
        frame.push_back(static_cast<uint8_t>(command));
        const EncodedValue enc = EncodeValue(value);
        frame.insert(frame.end(), enc.begin(), enc.end());
    } else {
        frame.push_back(static_cast<uint8_t>(command | kLastByteMark));
    }
    AppendChecksum(frame);
    return frame;
}

size_t ExpectedReplySize(RequestKind kind) {
    return kind == RequestKind::Read ? kDataReplySize : kAckReplySize;
}

ParseResult ParseRequest(std::span<const uint8_t> received) {
    ParseResult r;
    if (received.empty()) return r;
    if (received[0] != kStartByte) {
        r.status = ParseStatus::Invalid;
        r.consumed = 1;
        return r;
    }
    if (received.size() < 3) return r;
    const bool isShort = (received[2] & kLastByteMark) != 0;
    const size_t size = isShort ? kShortRequestSize : kWriteRequestSize;
    // A write frame's value nibbles never carry the mark before the last one.
    if (!isShort) {
        for (size_t i = 3; i < received.size() && i < 3 + kEncodedValueSize; ++i) {
            const bool last = i == 2 + kEncodedValueSize;
            const uint8_t limit = last ? 0x8F : 0x0F;
            if (received[i] > limit || (last && !(received[i] & kLastByteMark))) {
                r.status = ParseStatus::Invalid;
                r.consumed = 1;
                return r;
            }
        }
    }
    if (received.size() < size) return r;
    const auto frame = received.first(size);
    if (!ChecksumMatches(frame)) {
        r.status = ParseStatus::Invalid;
        r.consumed = 1;
        return r;
    }
    r.status = ParseStatus::Complete;
    r.consumed = size;
    r.request.station = frame[1];
    if (isShort) {
        r.request.command = frame[2] & 0x7F;
    } else {
        r.request.command = frame[2];
        r.request.hasValue = true;
        r.request.value = DecodeValue(frame.subspan<3, kEncodedValueSize>());
    }
    return r;
}

std::array<uint8_t, kDataReplySize> BuildDataReply(uint8_t station, float value) {
    std::array<uint8_t, kDataReplySize> out{};
    out[0] = station;
    const EncodedValue enc = EncodeValue(value);
    std::copy(enc.begin(), enc.end(), out.begin() + 1);
    const Checksum sum = FrameChecksum(std::span(out).first(kDataReplySize - 2));
    out[kDataReplySize - 2] = sum[0];
    out[kDataReplySize - 1] = sum[1];
    return out;
}

std::array<uint8_t, kAckReplySize> BuildAckReply(uint8_t station) {
    return {station, kAck};
}

std::array<uint8_t, kAckReplySize> BuildNakReply(uint8_t station) {
    return {station, kNak};
}

int16_t CheckReply(RequestKind kind, uint8_t station, std::span<const uint8_t> reply,
                   float* value) {
    const size_t expected = ExpectedReplySize(kind);
    if (reply.empty()) return VEXA_NO_RESPONSE;
    if (reply[0] != station) return VEXA_BAD_STATION;
    if (reply.size() == expected && expected == kDataReplySize) {
        if (!ChecksumMatches(reply)) return VEXA_BAD_CHECKSUM;
        const float v = DecodeValue(reply.subspan<1, kEncodedValueSize>());
        if (value) *value = v;
        return VEXA_OK;
    }
    if (reply.size() == kAckReplySize && reply[1] == kNak) return VEXA_NAK;
    if (reply.size() == kAckReplySize && reply[1] == kAck && kind != RequestKind::Read)
        return VEXA_OK;
    return VEXA_BAD_LENGTH;
}

} // namespace veldabus
