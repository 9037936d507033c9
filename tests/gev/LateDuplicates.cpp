// Sends every stream packet a camera sends once more, late, as a network with a redundant path or a switch that
// floods would: run in a camera's namespace by the GigE Vision tests, while the camera streams.
//
//   vxcam_late_duplicates INTERFACE DELAY_MS DURATION_MS
//
// Watches the UDP packets leaving INTERFACE that do not come from the control port (3956): the camera's stream.
// Each one is sent again, unchanged, DELAY_MS after it left, for DURATION_MS; then prints how many it sent
// again. Exit code 0 when at least one packet was sent again, 1 when none was seen, 2 on a usage or system error.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kControlPort = 3956;

struct HeldPacket {
    Clock::time_point due;
    std::vector<uint8_t> frame; // the whole Ethernet frame, as it left
};

// A UDP packet of IPv4 whose source port is not the control port.
bool isStreamPacket(const uint8_t* frame, std::size_t size) {
    if (size < sizeof(ether_header) + sizeof(iphdr) + sizeof(udphdr)) {
        return false;
    }
    ether_header ethernet{};
    std::memcpy(&ethernet, frame, sizeof ethernet);
    iphdr ip{};
    std::memcpy(&ip, frame + sizeof ethernet, sizeof ip);
    if (ntohs(ethernet.ether_type) != ETHERTYPE_IP || ip.protocol != IPPROTO_UDP) {
        return false;
    }
    const std::size_t udpAt = sizeof ethernet + static_cast<std::size_t>(ip.ihl) * 4;
    if (size < udpAt + sizeof(udphdr)) {
        return false;
    }
    udphdr udp{};
    std::memcpy(&udp, frame + udpAt, sizeof udp);
    return ntohs(udp.source) != kControlPort;
}

int usage() {
    std::fprintf(stderr, "usage: vxcam_late_duplicates INTERFACE DELAY_MS DURATION_MS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        return usage();
    }
    const unsigned index = if_nametoindex(argv[1]);
    const long delayMs = std::strtol(argv[2], nullptr, 10);
    const long durationMs = std::strtol(argv[3], nullptr, 10);
    if (index == 0 || delayMs < 0 || durationMs <= 0) {
        return usage();
    }
    const int watcher = socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ALL));
    if (watcher < 0) {
        std::perror("socket");
        return 2;
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = static_cast<int>(index);
    if (bind(watcher, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        std::perror("bind");
        close(watcher);
        return 2;
    }
    // The kernel never shows a packet socket what it sent itself, so the copies are not copied again.
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(durationMs);
    const std::chrono::milliseconds delay(delayMs);
    std::deque<HeldPacket> held;
    std::vector<uint8_t> buffer(65536);
    long resent = 0;
    while (Clock::now() < end || !held.empty()) {
        while (!held.empty() && held.front().due <= Clock::now()) {
            const std::vector<uint8_t>& frame = held.front().frame;
            if (send(watcher, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size())) {
                ++resent;
            }
            held.pop_front();
        }
        const auto untilDue =
            held.empty() ? std::chrono::milliseconds(10)
                         : std::chrono::duration_cast<std::chrono::milliseconds>(held.front().due - Clock::now());
        pollfd ready{watcher, POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::max<long>(0, untilDue.count()))) <= 0) {
            continue;
        }
        sockaddr_ll from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size =
            recvfrom(watcher, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size <= 0 || from.sll_pkttype != PACKET_OUTGOING || Clock::now() >= end ||
            !isStreamPacket(buffer.data(), static_cast<std::size_t>(size))) {
            continue;
        }
        held.push_back(HeldPacket{Clock::now() + delay, std::vector<uint8_t>(buffer.begin(), buffer.begin() + size)});
    }
    close(watcher);
    std::printf("%ld packets sent again\n", resent);
    return resent > 0 ? 0 : 1;
}
