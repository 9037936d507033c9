#include "sdk/aravis/AravisGevLink.h"

#include "sdk/aravis/AravisError.h"
#include "sdk/aravis/AravisObjects.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(__linux__)
#include <ifaddrs.h>
#include <linux/filter.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace sdk::aravis::gev {
namespace {

// An IPv4 address as it travels (network order), from Aravis's socket address; nothing for other families.
std::optional<std::array<uint8_t, 4>> ipv4Of(GSocketAddress* address) {
    if (address == nullptr || !G_IS_INET_SOCKET_ADDRESS(address)) {
        return std::nullopt;
    }
    GInetAddress* inet = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(address));
    if (inet == nullptr || g_inet_address_get_family(inet) != G_SOCKET_FAMILY_IPV4) {
        return std::nullopt;
    }
    std::array<uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), g_inet_address_to_bytes(inet), bytes.size());
    return bytes;
}

// How long a frame may wait for its resent packets before it is given up, and how many of its packets may be
// asked for again: bounded, so that a link that loses much does not turn into a link that only carries resends.
// A frame waiting holds a buffer: at 100 frames a second, 100 ms keeps ten frames' buffers at most, beyond
// which the camera's next frames find none.
constexpr guint kFrameRetentionUs = 100000;
constexpr double kPacketRequestRatio = 0.25;

// The stream socket's receive buffer: several frames' bursts while Aravis's receiving thread is held up. The
// kernel counts a datagram's bookkeeping too, so a buffer of one frame's payload (Aravis's "auto") drops packets
// of small frames. The kernel caps it at net.core.rmem_max (vxcam check).
constexpr gint64 kFramesInSocketBuffer = 4;
constexpr gint64 kSmallestSocketBuffer = gint64{8} * 1024 * 1024;
constexpr gint64 kLargestSocketBuffer = gint64{256} * 1024 * 1024;

#if defined(__linux__)
// The stream's UDP socket of this process: bound to `port`. Aravis does not show it.
int streamSocket(uint16_t port) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        char* end = nullptr;
        const std::string name = entry.path().filename().string();
        const long fd = std::strtol(name.c_str(), &end, 10);
        if (end == name.c_str() || *end != '\0') {
            continue;
        }
        int type = 0;
        socklen_t typeSize = sizeof type;
        sockaddr_in bound{};
        socklen_t boundSize = sizeof bound;
        // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
        if (getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 && type == SOCK_DGRAM &&
            getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0 &&
            bound.sin_family == AF_INET && ntohs(bound.sin_port) == port) {
            return static_cast<int>(fd);
        }
    }
    return -1;
}

// Offsets in a datagram as a UDP socket's filter sees it: from the UDP header on.
constexpr uint32_t kUdpHeader = 8;
constexpr uint32_t kGvspHeader = 8;          // status, 16-bit block ID, format and 24-bit packet ID
constexpr uint32_t kGvspExtendedHeader = 20; // with a 64-bit block ID and a 32-bit packet ID
constexpr uint32_t kImageLeader = 36;        // payload type, timestamp, pixel format, size, offsets, padding
constexpr uint32_t kTrailer = 8;             // payload type and the image's lines
constexpr uint32_t kFormatByte = kUdpHeader + 4;
constexpr uint32_t kIpSource = 12;                      // in the IP header, reached through SKF_NET_OFF
constexpr uint32_t kExtendedPacketId = kUdpHeader + 16; // after status, flags, format and the 64-bit block ID
// Packets of one frame: 2^21 packets of 576 bytes (the smallest IP packet every link carries) hold more than
// the largest frame the SDK layer takes (1 GiB), and Aravis's table for them stays below 64 MiB.
constexpr uint32_t kPacketIdLimit = 1U << 21U;

// The filter program for stream packets from `cameraAddress` (the number BPF loads: network order read as
// big-endian). It admits the three packet formats of an image stream (leader, payload, trailer), with 16-bit or
// extended IDs, each long enough for its header, with a packet ID below kPacketIdLimit, and leaders only of
// image payloads. Aravis sizes a frame's packet table by the largest packet ID it meets and other payloads by
// what their leader claims: a stray packet ID near 2^32 made it ask for tens of gigabytes and abort. Jump
// offsets count the instructions skipped after the jump; the targets are in the comments.
std::array<sock_filter, 37> streamFilter(uint32_t cameraAddress) {
    constexpr uint32_t kAccept = 0xffffffffU;
    constexpr uint32_t kDrop = 0;
    constexpr uint32_t kExtendedIdFlag = 0x80;
    // Without the flag; the reserved bits stay: a packet that sets them is not ours.
    constexpr uint32_t kFormatMask = 0x7f;
    constexpr uint32_t kShortPacketIdMask = 0xffffff;
    constexpr uint32_t kLeaderFormat = 1;
    constexpr uint32_t kTrailerFormat = 2;
    constexpr uint32_t kPayloadFormat = 3;
    constexpr uint32_t kImagePayload = 0x0001;
    constexpr uint32_t kImageWithChunks = 0x4001;
    constexpr uint32_t kPayloadType = 2; // in a leader, after its reserved field
    return {{
        /* 0 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_NET_OFF) + kIpSource),
        /* 1 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, cameraAddress, 0, 34), // another sender: 36
        /* 2 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 3 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspHeader, 0, 32), // no whole header: 36
        /* 4 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kFormatByte),
        /* 5 */ BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kExtendedIdFlag, 15, 0), // extended IDs: 21
        /* 6 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFormatByte),
        /* 7 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kShortPacketIdMask),
        /* 8 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kPacketIdLimit, 27, 0), // 36
        /* 9 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kFormatByte),
        /* 10 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kFormatMask),
        /* 11 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kPayloadFormat, 23, 0), // 35
        /* 12 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTrailerFormat, 6, 0),  // 19
        /* 13 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kLeaderFormat, 0, 22),  // 14, else 36
        /* 14 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 15 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspHeader + kImageLeader, 0, 20), // 36
        /* 16 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kUdpHeader + kGvspHeader + kPayloadType),
        /* 17 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kImagePayload, 17, 0),     // 35
        /* 18 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kImageWithChunks, 16, 17), // 35, 36
        /* 19 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 20 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspHeader + kTrailer, 14, 15), // 35, 36
        /* 21 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 22 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspExtendedHeader, 0, 13), // 36
        /* 23 */ BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kExtendedPacketId),
        /* 24 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kPacketIdLimit, 11, 0), // 36
        /* 25 */ BPF_STMT(BPF_LD | BPF_B | BPF_ABS, kFormatByte),
        /* 26 */ BPF_STMT(BPF_ALU | BPF_AND | BPF_K, kFormatMask),
        /* 27 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kPayloadFormat, 7, 0), // 35
        /* 28 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kTrailerFormat, 6, 0), // 35
        /* 29 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kLeaderFormat, 0, 6),  // 30, else 36
        /* 30 */ BPF_STMT(BPF_LD | BPF_W | BPF_LEN, 0),
        /* 31 */ BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspExtendedHeader + kImageLeader, 0, 4), // 36
        /* 32 */ BPF_STMT(BPF_LD | BPF_H | BPF_ABS, kUdpHeader + kGvspExtendedHeader + kPayloadType),
        /* 33 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kImagePayload, 1, 0),    // 35
        /* 34 */ BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kImageWithChunks, 0, 1), // 35, 36
        /* 35 */ BPF_STMT(BPF_RET | BPF_K, kAccept),
        /* 36 */ BPF_STMT(BPF_RET | BPF_K, kDrop),
    }};
}
#endif

} // namespace

void receiveThroughUdpSocket(ArvGvDevice* device) noexcept {
    const auto options = static_cast<unsigned>(arv_gv_device_get_stream_options(device));
    arv_gv_device_set_stream_options(
        device, static_cast<ArvGvStreamOption>(options | ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED));
}

bool admitOnlyTheCamerasStreamPackets(ArvGvDevice* device, ArvGvStream* stream, const std::string& serial) {
#if defined(__linux__)
    const std::optional<std::array<uint8_t, 4>> camera = ipv4Of(arv_gv_device_get_device_address(device));
    const int fd = streamSocket(arv_gv_stream_get_port(stream));
    if (camera && fd >= 0) {
        const uint32_t address = (static_cast<uint32_t>((*camera)[0]) << 24) |
                                 (static_cast<uint32_t>((*camera)[1]) << 16) |
                                 (static_cast<uint32_t>((*camera)[2]) << 8) | (*camera)[3];
        std::array<sock_filter, 37> program = streamFilter(address);
        sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
        if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0) {
            return true;
        }
    }
#else
    static_cast<void>(device);
    static_cast<void>(stream);
#endif
    qCWarning(lcAravis()) << "camera" << serial.c_str()
                          << "streams into a socket without a filter: a malformed datagram at its stream port may "
                             "harm the process";
    return false;
}

std::optional<uint32_t> interfaceMtu(ArvGvDevice* device) {
#if defined(__linux__)
    const std::optional<std::array<uint8_t, 4>> local = ipv4Of(arv_gv_device_get_interface_address(device));
    if (!local) {
        return std::nullopt;
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return std::nullopt;
    }
    std::optional<uint32_t> mtu;
    for (const ifaddrs* entry = interfaces; entry != nullptr && !mtu; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        if (std::memcmp(&address.sin_addr, local->data(), local->size()) != 0) {
            continue;
        }
        ifreq request{};
        std::strncpy(request.ifr_name, entry->ifa_name, IFNAMSIZ - 1);
        const int probe = socket(AF_INET, SOCK_DGRAM, 0);
        if (probe >= 0) {
            if (ioctl(probe, SIOCGIFMTU, &request) == 0 && request.ifr_mtu > 0) {
                mtu = static_cast<uint32_t>(request.ifr_mtu);
            }
            close(probe);
        }
    }
    freeifaddrs(interfaces);
    return mtu;
#else
    static_cast<void>(device);
    return std::nullopt;
#endif
}

PacketSizeChoice negotiatePacketSize(ArvGvDevice* device, const std::string& serial) {
    PacketSizeChoice choice;
    {
        ErrorSlot error;
        choice.before = arv_gv_device_get_packet_size(device, error.out());
    }
    choice.mtu = interfaceMtu(device);
    // Test packets can pass at sizes above the MTU (the test network's fake camera sends them as IP fragments,
    // which the kernel reassembles); the MTU caps the size, since a stream of fragments loses a whole packet
    // for each fragment lost.
    ErrorSlot error;
    choice.chosen = arv_gv_device_auto_packet_size(device, error.out());
    if (error.failed() || choice.chosen == 0) {
        choice.testPacketsPass = false;
        choice.chosen = choice.before;
    }
    if (choice.mtu && choice.chosen > *choice.mtu) {
        ErrorSlot capError;
        arv_gv_device_set_packet_size(device, static_cast<gint>(*choice.mtu), capError.out());
        ErrorSlot readError;
        choice.chosen = arv_gv_device_get_packet_size(device, readError.out());
    }
    if (!choice.testPacketsPass) {
        qCWarning(lcAravis()) << "camera" << serial.c_str()
                              << "could not have its packet size tested; it sends packets of" << choice.chosen
                              << "bytes";
    } else if (choice.chosen != choice.before) {
        qCInfo(lcAravis()) << "camera" << serial.c_str() << "sends packets of" << choice.chosen << "bytes instead of"
                           << choice.before << "(what passes the path to this host, interface MTU"
                           << (choice.mtu ? *choice.mtu : 0U) << ")";
    }
    return choice;
}

void configureReception(ArvDevice* device, ArvStream* stream) noexcept {
    ErrorSlot error;
    const gint64 payload = arv_device_get_integer_feature_value(device, "PayloadSize", error.out());
    const gint64 wanted = payload > 0 ? payload * kFramesInSocketBuffer : 0;
    const gint bufferSize = static_cast<gint>(std::clamp<gint64>(wanted, kSmallestSocketBuffer, kLargestSocketBuffer));
    g_object_set(stream, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_ALWAYS, "packet-request-ratio",
                 kPacketRequestRatio, "frame-retention", kFrameRetentionUs, "socket-buffer",
                 ARV_GV_STREAM_SOCKET_BUFFER_FIXED, "socket-buffer-size", bufferSize, nullptr);
}

} // namespace sdk::aravis::gev
