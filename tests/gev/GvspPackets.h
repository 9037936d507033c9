// GigE Vision stream packets as a camera (or a stray sender) puts them in a UDP datagram: the headers with 16-bit
// and extended IDs and an image leader, in network order.
#pragma once

#include <cstdint>
#include <vector>

namespace vxcam::test::gvsp {

using Datagram = std::vector<uint8_t>;

// Packet formats (the low bits of the header's format byte) and the extended-ID flag.
constexpr uint8_t kLeader = 1;
constexpr uint8_t kTrailer = 2;
constexpr uint8_t kPayload = 3;
constexpr uint8_t kExtendedId = 0x80;

constexpr uint16_t kImagePayload = 0x0001;
constexpr uint32_t kMono8 = 0x01080001;
constexpr uint32_t kRgb8 = 0x02180014;

inline void put16(Datagram& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}
inline void put32(Datagram& out, uint32_t value) {
    put16(out, static_cast<uint16_t>(value >> 16));
    put16(out, static_cast<uint16_t>(value));
}
inline void put64(Datagram& out, uint64_t value) {
    put32(out, static_cast<uint32_t>(value >> 32));
    put32(out, static_cast<uint32_t>(value));
}

// The 8-byte header of a 16-bit block ID packet.
inline Datagram header(uint16_t blockId, uint8_t format, uint32_t packetId) {
    Datagram out;
    put16(out, 0); // status
    put16(out, blockId);
    put32(out, (static_cast<uint32_t>(format) << 24) | (packetId & 0xffffffU));
    return out;
}

// The 20-byte header of an extended-ID packet (64-bit block ID, 32-bit packet ID).
inline Datagram extendedHeader(uint64_t blockId, uint8_t format, uint32_t packetId) {
    Datagram out;
    put16(out, 0);
    put16(out, 0);
    put32(out, static_cast<uint32_t>(format | kExtendedId) << 24);
    put64(out, blockId);
    put32(out, packetId);
    return out;
}

// An image leader's payload: reserved, payload type, timestamp, pixel format, size, offsets, padding.
inline void imageLeader(Datagram& out, uint16_t payloadType, uint32_t pixelFormat, uint32_t width, uint32_t height) {
    put16(out, 0);
    put16(out, payloadType);
    put64(out, 0);
    put32(out, pixelFormat);
    put32(out, width);
    put32(out, height);
    put32(out, 0);
    put32(out, 0);
    put16(out, 0);
    put16(out, 0);
}

// An image trailer's payload: reserved, payload type, the image's lines.
inline void imageTrailer(Datagram& out, uint32_t lines) {
    put16(out, 0);
    put16(out, kImagePayload);
    put32(out, lines);
}

} // namespace vxcam::test::gvsp
