// The share of a network link that each GigE Vision camera streaming over it may use, as the delay the camera
// puts between its stream packets. Plain arithmetic: the producer's link code feeds it what it found out about
// the interface and the cameras.
#pragma once

#include <cstdint>

namespace sdk::aravis::gev {

// What a stream packet occupies on an Ethernet wire beyond its IP packet (the camera's packet size counts the IP
// and UDP headers): the Ethernet header and checksum, the preamble and the gap between frames.
inline constexpr uint32_t kEthernetOverheadBytes = 14 + 4 + 8 + 12;

// The share of the link the cameras together may fill: the rest carries resent packets and control traffic, so
// that a link full of streams still answers.
inline constexpr double kStreamShareOfLink = 0.9;

// The link speed taken for an interface that does not report one (virtual interfaces such as veth, bridges,
// tunnels), in megabits a second: the speed GigE Vision cameras stream at.
inline constexpr uint64_t kDefaultLinkMbps = 1000;

// The delay between two stream packets, in ticks of the camera's timestamp clock (`tickHz`), that holds a camera
// sending packets of `packetSize` bytes to its share of a link of `linkBitsPerSecond` used by `cameras` streams.
// 0 when any input is 0 (nothing to spread, or unknown); at most the largest 32-bit value.
[[nodiscard]] uint32_t interPacketDelayTicks(uint32_t packetSize, uint64_t linkBitsPerSecond, uint32_t cameras,
                                             uint64_t tickHz) noexcept;

// The bits a second a camera sends at most with that delay between its packets on that link.
[[nodiscard]] double streamBitsPerSecond(uint32_t packetSize, uint64_t linkBitsPerSecond, uint32_t delayTicks,
                                         uint64_t tickHz) noexcept;

} // namespace sdk::aravis::gev
