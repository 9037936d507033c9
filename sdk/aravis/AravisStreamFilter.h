// The socket filter in front of a GigE Vision camera's stream, and the sockets of this process that it guards:
// the stream's UDP socket and Aravis's packet socket. Plain sockets, no Aravis: built into its own test too.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#if defined(__linux__)
#include <linux/filter.h>
#endif

namespace sdk::aravis::gev {

// Who may send to whom: IPv4 addresses in host order, the host's stream port.
struct StreamEndpoints {
    uint32_t camera = 0;
    uint32_t host = 0;
    uint16_t port = 0;
};

#if defined(__linux__)

// The classic BPF program that admits only well-formed stream datagrams of the camera to the host's stream port:
// an IPv4 datagram that is whole (no fragment: a packet socket sees fragments before the kernel reassembles them,
// and a first fragment claims a length that is not there), whose IP and UDP lengths agree and are all present,
// from the camera's address to the host's address and stream port, long enough for the GigE Vision stream header
// its format byte announces (a leader its image description, a trailer its size), of an image payload, with a
// packet ID below kPacketIdLimit. Aravis sizes a frame's packet table by the largest packet ID it meets and other
// payloads by what their leader claims: a stray packet ID near 2^32 made it ask for tens of gigabytes and abort.
// Every load is relative to the IP header, so that the same program guards a UDP socket, whose filter sees the
// datagram from its UDP header on, and a packet socket, which sees the link's frame.
[[nodiscard]] std::vector<sock_filter> streamFilter(const StreamEndpoints& endpoints);

// Packets of one frame: 2^21 packets of 576 bytes (the smallest IP packet every link carries) hold more than
// the largest frame the SDK layer takes (1 GiB), and Aravis's table for them stays below 64 MiB.
inline constexpr uint32_t kPacketIdLimit = 1U << 21U;

// Attaches streamFilter() to socket `fd`, replacing the filter it had; false when the socket refused it.
[[nodiscard]] bool attachStreamFilter(int fd, const StreamEndpoints& endpoints) noexcept;

// The UDP socket of this process bound to `port`; -1 when there is none.
[[nodiscard]] int udpSocketOfPort(uint16_t port) noexcept;

// Whether this process may open packet sockets (CAP_NET_RAW): Aravis receives through one when it may.
[[nodiscard]] bool mayOpenPacketSockets() noexcept;

// The packet socket of this process that receives the stream of `endpoints` (Aravis opens it in its receiving
// thread and gives it a filter of its own, which names the camera's address and the stream port); waits for it
// at most `patience`. -1 when none showed.
[[nodiscard]] int packetSocketOfStream(const StreamEndpoints& endpoints, std::chrono::milliseconds patience) noexcept;

#endif

} // namespace sdk::aravis::gev
