// How a GigE Vision camera's stream is received on this host: the socket Aravis reads, the size of the
// camera's packets, resends of lost packets and the camera's share of its link. Applied by the data stream
// when it is made and when it starts, on the host's side.
#pragma once

#include "sdk/aravis/AravisObjects.h"

#include <arv.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sdk::aravis::gev {

// Reception through the kernel's UDP socket instead of Aravis's packet socket, for a stream whose packets are
// larger than the link's MTU: they arrive as IP fragments, which the kernel's socket reassembles and a packet
// socket sees one by one (the stream filter drops them there). Called before the stream is made.
void receiveThroughUdpSocket(ArvGvDevice* device) noexcept;

// Lets only the camera's well-formed stream datagrams reach Aravis: the stream filter (AravisStreamFilter.h) on
// the socket Aravis reads, its packet socket or the stream's UDP socket. Aravis leaves the checks of IP and UDP
// and of the stream's headers to whatever is in front of it: an empty datagram made it write past a frame
// buffer, a leader's claimed size made it abort the process, and the first fragment of a packet larger than the
// MTU filled the rest of the packet with zeros in a frame delivered as complete. Called on the host's side once
// the stream is made and before the camera sends (it waits for Aravis's packet socket, at most a second); false
// (and a warning) when the socket was not found or took no filter.
bool admitOnlyTheCamerasStreamPackets(ArvGvDevice* device, ArvGvStream* stream, const std::string& serial);

// The name of the host's interface that reaches the camera (the one holding the address Aravis talks to it
// from); empty when it cannot be told.
[[nodiscard]] std::string interfaceName(ArvGvDevice* device);

// The MTU of the host's interface that reaches the camera; nothing when it cannot be told.
[[nodiscard]] std::optional<uint32_t> interfaceMtu(ArvGvDevice* device);

// Notes that the host wrote `feature` of the camera whose GenICam tree holds `node`, so that the stream keeps
// the host's choice instead of making its own: "GevSCPSPacketSize" (no negotiation) and "GevSCPD" (no share
// of the link). Other features are not noted. Called on the host's side after the write succeeded; the note
// lives as long as the open camera.
void noteHostSetting(ArvGcFeatureNode* node, const std::string& feature) noexcept;
[[nodiscard]] bool hostChosePacketSize(ArvDevice* device) noexcept;
[[nodiscard]] bool hostChoseInterPacketDelay(ArvDevice* device) noexcept;

// What the negotiation of the camera's stream packet size found.
struct PacketSizeChoice {
    uint32_t before = 0; // the camera's packet size when the stream was made
    uint32_t chosen = 0; // the packet size the camera sends with now
    std::optional<uint32_t> mtu;
    bool testPacketsPass = true; // false: Aravis's test of the packet size failed
    bool chosenByHost = false;   // the host wrote the size: kept as it is
};

// The largest packet size that passes the path to the camera (Aravis's test packets), never above the MTU of
// the host's interface; or, when the host wrote the camera's packet size, that size (with a warning when it is
// above the MTU). Called before the stream is made. Raises nothing; a change of size is logged.
PacketSizeChoice negotiatePacketSize(ArvGvDevice* device, const std::string& serial);

// Lost packets are asked for again: resends on, the number of requests bounded by a share of the frame's
// packets, and a frame given up (counted incomplete) once it waited the retention time. The socket's receive
// buffer holds several frames of the camera's current payload.
void configureReception(ArvDevice* device, ArvStream* stream) noexcept;

// A camera's share of the link it streams over, held while it streams. Joining counts the camera among the
// cameras of this process streaming through the same interface of the host and, when there are several, gives
// every one of them the inter-packet delay ("GevSCPD") that holds it to its share of the link's speed; leaving
// gives the camera its own delay back and spreads the link again over the others. A camera alone on its
// interface keeps its own delay. A camera whose delay the host wrote keeps it, and still counts. Joined and left on the
// host's side of the camera (the delays of the other cameras are written to their registers, which Aravis's
// control channel serialises; their GenICam trees are not touched).
class LinkShare {
public:
    // Nothing when the camera's interface cannot be told. Reads the camera's packet size and clock on the
    // camera's host side.
    [[nodiscard]] static std::unique_ptr<LinkShare> join(ArvGvDevice* device, std::shared_ptr<const DeviceLink> link);
    ~LinkShare();
    LinkShare(const LinkShare&) = delete;
    LinkShare& operator=(const LinkShare&) = delete;

    struct Member {
        GObjectPtr<ArvDevice> device; // a reference of the share's own
        std::shared_ptr<const DeviceLink> link;
        std::string interface;
        uint32_t packetSize = 0;
        uint64_t tickHz = 0;
        guint32 ownDelay = 0;               // the camera's delay when it joined, which it streams with alone
        uint32_t largestDelay = UINT32_MAX; // the largest the camera's "GevSCPD" takes
        bool delayChosenByHost = false;
    };

private:
    explicit LinkShare(Member member) : m_member(std::move(member)) {}
    Member m_member;
};

// Tells the host when a camera streams and not one of its packets arrives: started with the stream of a free
// running camera, it waits `patience` (or less, when dropped) and then warns, naming the likely causes (a
// firewall, reverse-path filtering, a route, the MTU), if Aravis counted no packet of the stream since the
// start. A thread of its own, joined when the watch is dropped; it holds the stream and the device meanwhile.
class SilentLinkWatch {
public:
    SilentLinkWatch(ArvGvDevice* device, ArvStream* stream, std::shared_ptr<const DeviceLink> link,
                    std::chrono::milliseconds patience);
    ~SilentLinkWatch();
    SilentLinkWatch(const SilentLinkWatch&) = delete;
    SilentLinkWatch& operator=(const SilentLinkWatch&) = delete;

private:
    void watch(std::chrono::milliseconds patience);

    GObjectPtr<ArvDevice> m_pDevice;
    GObjectPtr<ArvStream> m_pStream;
    std::shared_ptr<const DeviceLink> m_pLink;
    uint64_t m_nPacketsBefore = 0; // Aravis's count of the stream's packets at the start
    std::mutex m_mutex;            // guards m_bDropped, between the owner and the watching thread
    std::condition_variable m_dropped;
    bool m_bDropped = false;
    std::thread m_thread; // started last, joined by the destructor
};

} // namespace sdk::aravis::gev
