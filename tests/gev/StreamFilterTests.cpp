// The filter in front of a GigE Vision stream, on loopback: which datagrams reach the socket it guards. On the
// stream's UDP socket the kernel has checked IP and UDP already; on a packet socket (root only) the filter alone
// stands between the link and Aravis, so it also gets frames whose IP and UDP headers lie.
//
// The "camera" sends from 127.0.0.2 to the "host" at 127.0.0.1. Each case sends its datagram, then a marker
// datagram that always passes; the case passed the filter when anything arrived before the marker (loopback
// keeps the order).
#include "sdk/aravis/AravisStreamFilter.h"
#include "tests/gev/GvspPackets.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <array>
#include <cstring>
#include <functional>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace vxcam::test {
namespace {

using namespace gvsp;
using sdk::aravis::gev::StreamEndpoints;

constexpr uint32_t kCamera = 0x7f000002; // 127.0.0.2
constexpr uint32_t kHost = 0x7f000001;   // 127.0.0.1
constexpr uint32_t kStranger = 0x7f000003;
constexpr uint16_t kBlock = 7;
constexpr uint32_t kMarkerPacketId = 4242;

// A socket descriptor that closes itself.
class Socket {
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket() {
        if (m_fd >= 0) {
            close(m_fd);
        }
    }
    Socket(Socket&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    Socket& operator=(Socket&&) = delete;
    [[nodiscard]] int fd() const { return m_fd; }

private:
    int m_fd;
};

// The text of the last system call's error (std::strerror shares its buffer between threads).
std::string lastError() {
    return std::error_code(errno, std::generic_category()).message();
}

sockaddr_in addressOf(uint32_t host, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(host);
    address.sin_port = htons(port);
    return address;
}

// A UDP socket bound to `host` and a port of the system's choice.
Socket boundUdpSocket(uint32_t host) {
    Socket udp(socket(AF_INET, SOCK_DGRAM, 0));
    const sockaddr_in address = addressOf(host, 0);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
    EXPECT_EQ(bind(udp.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << lastError();
    return udp;
}

uint16_t portOf(const Socket& udp) {
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
    getsockname(udp.fd(), reinterpret_cast<sockaddr*>(&bound), &size);
    return ntohs(bound.sin_port);
}

Datagram imageLeaderPacket(uint16_t payloadType) {
    Datagram out = header(kBlock, kLeader, 0);
    imageLeader(out, payloadType, kMono8, 64, 64);
    return out;
}

Datagram payloadPacket(uint32_t packetId, std::size_t bytes) {
    Datagram out = header(kBlock, kPayload, packetId);
    out.resize(out.size() + bytes, 0x5a);
    return out;
}

Datagram trailerPacket() {
    Datagram out = header(kBlock, kTrailer, 2);
    imageTrailer(out, 64);
    return out;
}

Datagram marker() {
    return payloadPacket(kMarkerPacketId, 16);
}

bool isMarker(const uint8_t* gvsp, std::size_t size) {
    const Datagram expected = marker();
    return size == expected.size() && std::memcmp(gvsp, expected.data(), size) == 0;
}

// Reads `receiver` until the marker arrives (its GigE Vision part `gvspOffset` bytes into what the socket reads):
// whether anything came before it. Loopback shows a packet socket each frame going out and coming in; only those
// coming in count.
bool somethingCameBeforeTheMarker(const Socket& receiver, std::size_t gvspOffset) {
    bool before = false;
    std::array<uint8_t, 2048> received{};
    for (;;) {
        pollfd ready{receiver.fd(), POLLIN, 0};
        if (poll(&ready, 1, 2000) != 1) {
            ADD_FAILURE() << "the marker never arrived";
            return before;
        }
        sockaddr_storage from{};
        socklen_t fromSize = sizeof from;
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
        const ssize_t size =
            recvfrom(receiver.fd(), received.data(), received.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) {
            continue;
        }
        if (from.ss_family == AF_PACKET) {
            sockaddr_ll link{};
            std::memcpy(&link, &from, sizeof link);
            if (link.sll_pkttype == PACKET_OUTGOING) {
                continue;
            }
        }
        const auto length = static_cast<std::size_t>(size);
        if (length >= gvspOffset && isMarker(&received[gvspOffset], length - gvspOffset)) {
            return before;
        }
        before = true;
    }
}

// The GigE Vision part of a stream datagram, and whether the filter lets it through.
struct StreamCase {
    const char* name;
    std::function<Datagram()> make;
    bool passes;
};

std::vector<StreamCase> streamCases() {
    return {
        {"ImageLeader", [] { return imageLeaderPacket(kImagePayload); }, true},
        {"ImageWithChunksLeader", [] { return imageLeaderPacket(0x4001); }, true},
        {"Payload", [] { return payloadPacket(1, 1400); }, true},
        {"PayloadOfTheLastPacketIdTaken", [] { return payloadPacket(sdk::aravis::gev::kPacketIdLimit - 1, 100); },
         true},
        {"Trailer", trailerPacket, true},
        {"ExtendedIdLeader",
         [] {
             Datagram out = extendedHeader(kBlock, kLeader, 0);
             imageLeader(out, kImagePayload, kMono8, 64, 64);
             return out;
         },
         true},
        {"ExtendedIdPayload",
         [] {
             Datagram out = extendedHeader(kBlock, kPayload, 1);
             out.resize(out.size() + 1000, 0x11);
             return out;
         },
         true},
        {"ExtendedIdTrailer",
         [] {
             Datagram out = extendedHeader(kBlock, kTrailer, 2);
             imageTrailer(out, 64);
             return out;
         },
         true},
        {"Empty", [] { return Datagram{}; }, false},
        {"ShortHeader",
         [] {
             Datagram out = header(kBlock, kLeader, 0);
             out.resize(5);
             return out;
         },
         false},
        {"LeaderWithoutImageDescription", [] { return header(kBlock, kLeader, 0); }, false},
        {"LeaderOneByteShort",
         [] {
             Datagram out = imageLeaderPacket(kImagePayload);
             out.pop_back();
             return out;
         },
         false},
        {"LeaderOfAnUnknownPayload", [] { return imageLeaderPacket(0x7fff); }, false},
        {"LeaderOfAMultipartPayload", [] { return imageLeaderPacket(0x000a); }, false},
        {"PayloadOfAFarPacketId", [] { return payloadPacket(sdk::aravis::gev::kPacketIdLimit, 100); }, false},
        {"TrailerWithoutLines",
         [] {
             Datagram out = trailerPacket();
             out.resize(out.size() - 4);
             return out;
         },
         false},
        {"ReservedFormat", [] { return header(kBlock, 5, 1); }, false},
        {"ExtendedIdHeaderCut",
         [] {
             Datagram out = extendedHeader(kBlock, kPayload, 1);
             out.resize(12);
             return out;
         },
         false},
        {"ExtendedIdFarPacketId",
         [] {
             Datagram out = extendedHeader(kBlock, kPayload, 0xfffffff0U);
             out.resize(out.size() + 1000, 0x11);
             return out;
         },
         false},
        {"ExtendedIdLeaderWithoutImageDescription", [] { return extendedHeader(kBlock, kLeader, 0); }, false},
    };
}

void PrintTo(const StreamCase& streamCase, std::ostream* out) {
    *out << streamCase.name;
}

std::string caseName(const ::testing::TestParamInfo<StreamCase>& info) {
    return info.param.name;
}

// ---- on the stream's UDP socket -------------------------------------------------------------------------------

class StreamFilterOnUdpSocket : public ::testing::TestWithParam<StreamCase> {
protected:
    void SetUp() override {
        m_endpoints = {kCamera, kHost, portOf(m_receiver)};
        ASSERT_TRUE(sdk::aravis::gev::attachStreamFilter(m_receiver.fd(), m_endpoints));
    }

    void send(const Socket& from, const Datagram& gvsp) const {
        const sockaddr_in to = addressOf(kHost, m_endpoints.port);
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
        ASSERT_GE(sendto(from.fd(), gvsp.data(), gvsp.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0)
            << lastError();
    }

    // Sends `gvsp` from `from`, then the marker from the camera: whether anything came before the marker.
    [[nodiscard]] bool passes(const Socket& from, const Datagram& gvsp) const {
        send(from, gvsp);
        send(m_camera, marker());
        return somethingCameBeforeTheMarker(m_receiver, 0);
    }

    Socket m_receiver = boundUdpSocket(kHost);
    Socket m_camera = boundUdpSocket(kCamera);
    StreamEndpoints m_endpoints;
};

TEST_P(StreamFilterOnUdpSocket, AdmitsOnlyTheCamerasWellFormedStreamPackets) {
    EXPECT_EQ(passes(m_camera, GetParam().make()), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(Packets, StreamFilterOnUdpSocket, ::testing::ValuesIn(streamCases()), caseName);

TEST_F(StreamFilterOnUdpSocket, DropsAWellFormedPacketFromAnotherAddress) {
    const Socket stranger = boundUdpSocket(kStranger);
    EXPECT_FALSE(passes(stranger, payloadPacket(1, 1400)));
    EXPECT_TRUE(passes(m_camera, payloadPacket(1, 1400)));
}

// ---- on a packet socket ---------------------------------------------------------------------------------------

// The fields of an IPv4 frame on loopback that the cases change.
struct Frame {
    uint16_t etherType = ETH_P_IP;
    uint8_t headerWords = 5; // the IP header's length in 32-bit words; options are zeros
    uint8_t protocol = IPPROTO_UDP;
    uint16_t fragment = 0; // flags and offset
    uint32_t source = kCamera;
    uint32_t destination = kHost;
    uint16_t port = 0; // 0: the stream's
    int ipLengthChange = 0;
    int udpLengthChange = 0;
    std::size_t bytesCut = 0; // from the end of the frame
    Datagram gvsp = payloadPacket(1, 200);
};

uint16_t ipChecksum(const uint8_t* header, std::size_t size) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        sum += static_cast<uint32_t>(header[i] << 8 | header[i + 1]);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

// An Ethernet frame (addresses zero, as loopback has them) carrying `frame`'s IPv4 datagram.
Datagram ethernetFrame(const Frame& frame, uint16_t streamPort) {
    Datagram out(12, 0);
    put16(out, frame.etherType);
    const std::size_t ip = out.size();
    const std::size_t ipHeader = std::size_t{frame.headerWords} * 4;
    const std::size_t udpLength = 8 + frame.gvsp.size();
    out.push_back(static_cast<uint8_t>(0x40 | frame.headerWords));
    out.push_back(0);
    put16(out, static_cast<uint16_t>(static_cast<int>(std::max<std::size_t>(ipHeader, 20) + udpLength) +
                                     frame.ipLengthChange));
    put16(out, 1); // identification
    put16(out, frame.fragment);
    out.push_back(64); // time to live
    out.push_back(frame.protocol);
    put16(out, 0); // checksum, below
    put32(out, frame.source);
    put32(out, frame.destination);
    out.resize(ip + std::max<std::size_t>(ipHeader, 20), 0);
    const uint16_t checksum = ipChecksum(&out[ip], out.size() - ip);
    out[ip + 10] = static_cast<uint8_t>(checksum >> 8);
    out[ip + 11] = static_cast<uint8_t>(checksum);
    put16(out, 40000); // source port
    put16(out, frame.port != 0 ? frame.port : streamPort);
    put16(out, static_cast<uint16_t>(static_cast<int>(udpLength) + frame.udpLengthChange));
    put16(out, 0); // no checksum
    out.insert(out.end(), frame.gvsp.begin(), frame.gvsp.end());
    out.resize(out.size() - frame.bytesCut);
    return out;
}

class StreamFilterOnPacketSocket : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sdk::aravis::gev::mayOpenPacketSockets()) {
            GTEST_SKIP() << "this process may not open packet sockets (CAP_NET_RAW): Aravis then reads the UDP "
                            "socket, whose filter the other tests check";
        }
        // The receiver was opened for no protocol, so that it takes nothing in before its filter is there: a
        // packet socket of every protocol would queue all of loopback's traffic until then.
        m_endpoints = {kCamera, kHost, portOf(m_port)};
        ASSERT_TRUE(sdk::aravis::gev::attachStreamFilter(m_receiver.fd(), m_endpoints));
        m_loopback.sll_family = AF_PACKET;
        m_loopback.sll_protocol = htons(ETH_P_ALL);
        m_loopback.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
        ASSERT_EQ(bind(m_receiver.fd(), reinterpret_cast<const sockaddr*>(&m_loopback), sizeof m_loopback), 0)
            << lastError();
    }

    void send(const Datagram& ethernet) const {
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
        ASSERT_GE(sendto(m_sender.fd(), ethernet.data(), ethernet.size(), 0,
                         reinterpret_cast<const sockaddr*>(&m_loopback), sizeof m_loopback),
                  0)
            << lastError();
    }

    // Sends the frame, then the marker: whether anything arrived before the marker.
    [[nodiscard]] bool passes(const Frame& frame) const {
        send(ethernetFrame(frame, m_endpoints.port));
        Frame markerFrame;
        markerFrame.gvsp = marker();
        send(ethernetFrame(markerFrame, m_endpoints.port));
        constexpr std::size_t kGvspOffset = 14 + 20 + 8; // Ethernet, IP and UDP headers
        return somethingCameBeforeTheMarker(m_receiver, kGvspOffset);
    }

    Socket m_receiver{socket(AF_PACKET, SOCK_RAW, 0)};
    Socket m_sender{socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL))};
    // Holds the stream port, so that the kernel's own delivery of the frames goes nowhere.
    Socket m_port = boundUdpSocket(kHost);
    sockaddr_ll m_loopback{};
    StreamEndpoints m_endpoints;
};

class StreamPacketsOnPacketSocket : public StreamFilterOnPacketSocket,
                                    public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamPacketsOnPacketSocket, AdmitsOnlyTheCamerasWellFormedStreamPackets) {
    Frame frame;
    frame.gvsp = GetParam().make();
    EXPECT_EQ(passes(frame), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(Packets, StreamPacketsOnPacketSocket, ::testing::ValuesIn(streamCases()), caseName);

// What the kernel's UDP socket would have checked, and a packet socket does not.
struct FrameCase {
    const char* name;
    std::function<void(Frame&)> change;
    bool passes;
};

void PrintTo(const FrameCase& frameCase, std::ostream* out) {
    *out << frameCase.name;
}

class FramesOnPacketSocket : public StreamFilterOnPacketSocket, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(FramesOnPacketSocket, AdmitOnlyWholeUnfragmentedDatagramsFromTheCameraToTheStreamPort) {
    Frame frame;
    GetParam().change(frame);
    EXPECT_EQ(passes(frame), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, FramesOnPacketSocket,
    ::testing::Values(FrameCase{"Whole", [](Frame&) {}, true},
                      FrameCase{"WithIpOptions", [](Frame& frame) { frame.headerWords = 6; }, true},
                      // The first fragment of a packet larger than the link's MTU: it claims the whole packet's length.
                      FrameCase{"FirstFragment", [](Frame& frame) { frame.fragment = 0x2000; }, false},
                      FrameCase{"LaterFragment", [](Frame& frame) { frame.fragment = 185; }, false},
                      FrameCase{"IpLengthBeyondTheFrame",
                                [](Frame& frame) {
                                    frame.ipLengthChange = 1000;
                                    frame.udpLengthChange = 1000;
                                },
                                false},
                      FrameCase{"FrameCutShort", [](Frame& frame) { frame.bytesCut = 50; }, false},
                      FrameCase{"UdpLengthAboveIpLength", [](Frame& frame) { frame.udpLengthChange = 8; }, false},
                      FrameCase{"UdpLengthBelowIpLength", [](Frame& frame) { frame.udpLengthChange = -8; }, false},
                      FrameCase{"IpHeaderBelowItsSmallestLength", [](Frame& frame) { frame.headerWords = 4; }, false},
                      FrameCase{"AnotherSource", [](Frame& frame) { frame.source = kStranger; }, false},
                      FrameCase{"AnotherDestination", [](Frame& frame) { frame.destination = kStranger; }, false},
                      FrameCase{"AnotherPort", [](Frame& frame) { frame.port = 9; }, false},
                      FrameCase{"NotUdp", [](Frame& frame) { frame.protocol = IPPROTO_TCP; }, false},
                      FrameCase{"NotIpv4", [](Frame& frame) { frame.etherType = ETH_P_IPV6; }, false}),
    [](const ::testing::TestParamInfo<FrameCase>& frameCase) { return std::string(frameCase.param.name); });

} // namespace
} // namespace vxcam::test
