// VeldaBus frames: the byte rules both ends of the line share, so the
// master (driver) and the instrument side (simulator) cannot disagree.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace veldabus {

inline constexpr uint8_t kStartByte = 0xFE;
inline constexpr uint8_t kLastByteMark = 0x80; // marks the last content byte
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;
inline constexpr int kMaxStation = 255;
inline constexpr int kMinCommand = 1;
inline constexpr int kMaxCommand = 253;
inline constexpr size_t kShortRequestSize = 5;  // read / execute
inline constexpr size_t kWriteRequestSize = 13; // write with value
inline constexpr size_t kDataReplySize = 11;
inline constexpr size_t kAckReplySize = 2;
inline constexpr size_t kEncodedValueSize = 8;

enum class RequestKind { Read, Write, Execute };

using EncodedValue = std::array<uint8_t, kEncodedValueSize>;
using Checksum = std::array<uint8_t, 2>;

// The single's four bytes, most significant first, each as two nibble bytes
// (high then low); the last byte carries kLastByteMark.
EncodedValue EncodeValue(float value);
// Inverse of EncodeValue; the end mark of the last byte is dropped.
float DecodeValue(std::span<const uint8_t, kEncodedValueSize> bytes);
// XOR of every covered byte as two bytes: result / 16, result & 15.
Checksum FrameChecksum(std::span<const uint8_t> covered);

// Master side. The request frame for station 0..255 and command 1..253, or
// nullopt when either is out of range (nothing must then be sent).
std::optional<std::vector<uint8_t>> BuildRequest(RequestKind kind, int station, int command,
                                                 float value = 0.0f);
// Reply length the master waits for after a request of this kind.
size_t ExpectedReplySize(RequestKind kind);

// Instrument side: one request taken from the front of received bytes.
struct Request {
    uint8_t station = 0;
    // Low seven bits of the command byte for a short frame (the wire cannot
    // tell command n from n + 128 there), the byte as is for a write frame.
    uint8_t command = 0;
    bool hasValue = false; // a 13-byte write frame
    float value = 0.0f;
};
enum class ParseStatus {
    NeedMore, // a frame has begun but is not complete yet
    Complete, // `request` is filled, `consumed` bytes form the frame
    Invalid   // the front is no valid frame; drop `consumed` bytes and retry
};
struct ParseResult {
    ParseStatus status = ParseStatus::NeedMore;
    size_t consumed = 0;
    Request request;
};
ParseResult ParseRequest(std::span<const uint8_t> received);

// Instrument side replies.
std::array<uint8_t, kDataReplySize> BuildDataReply(uint8_t station, float value);
std::array<uint8_t, kAckReplySize> BuildAckReply(uint8_t station);
std::array<uint8_t, kAckReplySize> BuildNakReply(uint8_t station);

// Master side judgement of one received reply, checks in a fixed order:
// empty -100; another station -200; a data reply of full length with a bad
// checksum -300 (else the value is decoded into *value, 0); 2-byte NAK -400;
// 2-byte ACK to a write or execute 0; anything else -500 (so a read is never
// reported as done without a value). *value is written only on success of a
// read.
int16_t CheckReply(RequestKind kind, uint8_t station, std::span<const uint8_t> reply, float* value);

} // namespace veldabus
