// Sends stray datagrams to a host's GigE Vision stream port, as a faulty device, a misdirected sender or an
// attacker on the camera's network would: run in the cameras' namespace by the GigE Vision tests.
//
//   vxcam_stray_datagrams ADDRESS PORT KIND [FIRST COUNT]
//
// KIND is one of the names in kinds() below. Every kind sends a burst of datagrams for COUNT block IDs from
// FIRST on (default: the whole range, 1 to 65535), so that the block the receiver expects next meets one.
#include "tests/gev/GvspPackets.h"

#include <arpa/inet.h>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace vxcam::test::gvsp;

// One kind of stray datagram: its name and what it sends for block `block` (1 to 65535).
struct Kind {
    const char* name;
    std::function<std::vector<Datagram>(uint16_t block, std::mt19937& random)> make;
};

std::vector<Kind> kinds() {
    return {
        {"empty", [](uint16_t, std::mt19937&) { return std::vector<Datagram>{Datagram{}}; }},
        {"short-header",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kLeader, 0);
             out.resize(5);
             return std::vector<Datagram>{out};
         }},
        {"leader-huge-image",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kLeader, 0);
             imageLeader(out, 1, kRgb8, 0xffffffffU, 0xffffffffU);
             return std::vector<Datagram>{out};
         }},
        {"leader-odd-image",
         [](uint16_t block, std::mt19937& random) {
             Datagram out = header(block, kLeader, 0);
             imageLeader(out, 1, static_cast<uint32_t>(random()), static_cast<uint32_t>(random()),
                         static_cast<uint32_t>(random()));
             return std::vector<Datagram>{out};
         }},
        {"leader-truncated",
         [](uint16_t block, std::mt19937&) { return std::vector<Datagram>{header(block, kLeader, 0)}; }},
        {"leader-unknown-payload",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kLeader, 0);
             imageLeader(out, 0x7fff, kMono8, 64, 64);
             return std::vector<Datagram>{out};
         }},
        {"leader-multipart",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kLeader, 0);
             put16(out, 0);
             put16(out, 0x000a); // multipart
             put64(out, 0);
             out.resize(out.size() + 200, 0xff); // part descriptions, all ones
             return std::vector<Datagram>{out};
         }},
        {"payload-far-packet",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kPayload, 0xffffffU);
             out.resize(out.size() + 1400, 0xab);
             return std::vector<Datagram>{out};
         }},
        {"payload-overlong",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kPayload, 1);
             out.resize(8900, 0xcd);
             return std::vector<Datagram>{out};
         }},
        {"trailer-only",
         [](uint16_t block, std::mt19937&) {
             Datagram out = header(block, kTrailer, 2);
             put16(out, 0);
             put16(out, 1);
             put32(out, 0xffffffffU);
             return std::vector<Datagram>{out};
         }},
        {"extended-id",
         [](uint16_t block, std::mt19937& random) {
             const uint64_t id = (static_cast<uint64_t>(random()) << 32) | block;
             Datagram leader = extendedHeader(id, kLeader, 0);
             imageLeader(leader, 1, kMono8, 0xffffU, 0xffffU);
             Datagram payload = extendedHeader(id, kPayload, 0xfffffff0U);
             payload.resize(payload.size() + 1000, 0x11);
             return std::vector<Datagram>{leader, payload};
         }},
        {"random",
         [](uint16_t block, std::mt19937& random) {
             Datagram out(random() % 1500);
             for (uint8_t& byte : out) {
                 byte = static_cast<uint8_t>(random());
             }
             if (out.size() >= 4) {
                 out[2] = static_cast<uint8_t>(block >> 8);
                 out[3] = static_cast<uint8_t>(block);
             }
             return std::vector<Datagram>{out};
         }},
    };
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4 && argc != 6) {
        std::fprintf(stderr, "usage: %s ADDRESS PORT KIND [FIRST COUNT]\n", argv[0]);
        return 2;
    }
    const uint32_t first = argc == 6 ? static_cast<uint32_t>(std::stoul(argv[4])) : 1U;
    const uint32_t count = argc == 6 ? static_cast<uint32_t>(std::stoul(argv[5])) : 65535U;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::stoi(argv[2])));
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
        std::fprintf(stderr, "not an IPv4 address: %s\n", argv[1]);
        return 2;
    }
    const std::string wanted = argv[3];
    for (const Kind& kind : kinds()) {
        if (wanted != kind.name) {
            continue;
        }
        const int sender = socket(AF_INET, SOCK_DGRAM, 0);
        if (sender < 0) {
            std::perror("socket");
            return 1;
        }
        std::mt19937 random(20261211U);
        long sent = 0;
        for (uint32_t step = 0; step < count; ++step) {
            const uint32_t block = (first - 1 + step) % 65535U + 1; // 1 to 65535, then 1 again
            for (const Datagram& datagram : kind.make(static_cast<uint16_t>(block), random)) {
                // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
                if (sendto(sender, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                           sizeof to) >= 0) {
                    ++sent;
                }
            }
            if (step % 256 == 255) {
                usleep(1000); // leaves the receiver's socket buffer room for the camera's own packets
            }
        }
        close(sender);
        std::printf("%ld %s datagrams sent\n", sent, kind.name);
        return sent > 0 ? 0 : 1;
    }
    std::fprintf(stderr, "unknown kind %s\n", argv[3]);
    return 2;
}
