// How a GigE Vision camera's stream is received on this host: the socket Aravis reads, the size of the
// camera's packets, resends of lost packets and the camera's share of its link. Applied by the data stream
// when it is made and when it starts, on the host's side.
#pragma once

#include <arv.h>

#include <cstdint>
#include <optional>
#include <string>

namespace sdk::aravis::gev {

// Reception through the kernel's UDP socket instead of Aravis's packet socket. The packet socket reads raw
// frames and leaves the checks of IP and UDP to Aravis: an empty or short datagram at the stream port ends the
// process there (GLib's "failed to allocate ..." abort), and IP fragments of packets larger than the link's MTU
// arrive as frames with zeros where the other fragments' data belong, marked complete. The kernel's socket
// checks every datagram and reassembles fragments. Called before the stream is made.
void receiveThroughUdpSocket(ArvGvDevice* device) noexcept;

// Lets only the camera's well-formed stream datagrams reach Aravis: a socket filter on the stream's UDP socket
// drops datagrams from any other address and those too short for the GigE Vision stream header their format
// byte announces (a leader its image description, a trailer its size). Aravis reads every datagram into one
// reused packet buffer and takes the header it finds there: an empty datagram makes it treat the previous
// packet again with a size below zero, and it writes past the end of a frame buffer. Called once the stream is
// made and before the camera sends; false (and a warning) when the socket was not found or took no filter.
bool admitOnlyTheCamerasStreamPackets(ArvGvDevice* device, ArvGvStream* stream, const std::string& serial);

// The MTU of the host's interface that reaches the camera; nothing when it cannot be told.
[[nodiscard]] std::optional<uint32_t> interfaceMtu(ArvGvDevice* device);

// What the negotiation of the camera's stream packet size found.
struct PacketSizeChoice {
    uint32_t before = 0; // the camera's packet size when the stream was made
    uint32_t chosen = 0; // the packet size the camera sends with now
    std::optional<uint32_t> mtu;
    bool testPacketsPass = true; // false: Aravis's test of the packet size failed
};

// The largest packet size that passes the path to the camera (Aravis's test packets), never above the MTU of
// the host's interface. Called before the stream is made. Raises nothing; a change of size is logged.
PacketSizeChoice negotiatePacketSize(ArvGvDevice* device, const std::string& serial);

// Lost packets are asked for again: resends on, the number of requests bounded by a share of the frame's
// packets, and a frame given up (counted incomplete) once it waited the retention time. The socket's receive
// buffer holds several frames of the camera's current payload.
void configureReception(ArvDevice* device, ArvStream* stream) noexcept;

} // namespace sdk::aravis::gev
