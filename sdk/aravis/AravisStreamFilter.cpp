#include "sdk/aravis/AravisStreamFilter.h"

#if defined(__linux__)

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace sdk::aravis::gev {
namespace {

// The places a jump of the program may go to. Next: the instruction after the jump.
enum class Label { Next, Accept, Drop, Trailer, ExtendedIds, ExtendedTrailer };

// A classic BPF program written with named jump targets, resolved when it is finished: jump offsets count the
// instructions skipped after the jump, which no reader checks by eye.
class ProgramWriter {
public:
    void step(uint16_t code, uint32_t k) { m_steps.push_back({BPF_STMT(code, k), Label::Next, Label::Next}); }
    // Jumps to `onTrue` when the test holds, else to `onFalse`.
    void jump(uint16_t code, uint32_t k, Label onTrue, Label onFalse) {
        m_steps.push_back({BPF_JUMP(code, k, 0, 0), onTrue, onFalse});
    }
    void place(Label label) { m_places[static_cast<std::size_t>(label)] = m_steps.size(); }

    // Empty when a jump's target lies behind it or out of a jump's reach (a fault of this file, which the tests
    // see): no program is better than a wrong one.
    [[nodiscard]] std::vector<sock_filter> finish() const {
        std::vector<sock_filter> program;
        program.reserve(m_steps.size());
        for (std::size_t i = 0; i < m_steps.size(); ++i) {
            sock_filter instruction = m_steps[i].instruction;
            const std::optional<uint8_t> onTrue = offset(i, m_steps[i].onTrue);
            const std::optional<uint8_t> onFalse = offset(i, m_steps[i].onFalse);
            if (!onTrue || !onFalse) {
                return {};
            }
            instruction.jt = *onTrue;
            instruction.jf = *onFalse;
            program.push_back(instruction);
        }
        return program;
    }

private:
    struct Step {
        sock_filter instruction;
        Label onTrue;
        Label onFalse;
    };

    [[nodiscard]] std::optional<uint8_t> offset(std::size_t from, Label to) const {
        if (to == Label::Next) {
            return 0;
        }
        const std::size_t target = m_places[static_cast<std::size_t>(to)];
        if (target <= from || target - from - 1 > UINT8_MAX) {
            return std::nullopt;
        }
        return static_cast<uint8_t>(target - from - 1);
    }

    std::vector<Step> m_steps;
    std::array<std::size_t, 6> m_places{};
};

// Offsets from the start of the IP header, which SKF_NET_OFF reaches on every kind of socket.
constexpr uint32_t kNet = static_cast<uint32_t>(SKF_NET_OFF);
constexpr uint32_t kIpVersion = 0; // version and header length
constexpr uint32_t kIpTotalLength = 2;
constexpr uint32_t kIpFragment = 6; // flags and fragment offset
constexpr uint32_t kIpProtocol = 9;
constexpr uint32_t kIpSource = 12;
constexpr uint32_t kIpDestination = 16;
constexpr uint32_t kSmallestIpHeader = 20;
// Offsets from the start of the UDP header, which follows the IP header's options (loaded with the header's
// length in X).
constexpr uint32_t kUdpPort = 2; // the destination port
constexpr uint32_t kUdpLength = 4;
constexpr uint32_t kUdpHeader = 8;
constexpr uint32_t kGvspHeader = 8;          // status, 16-bit block ID, format and 24-bit packet ID
constexpr uint32_t kGvspExtendedHeader = 20; // with a 64-bit block ID and a 32-bit packet ID
constexpr uint32_t kImageLeader = 36;        // payload type, timestamp, pixel format, size, offsets, padding
constexpr uint32_t kTrailer = 8;             // payload type and the image's lines
constexpr uint32_t kFormatByte = kUdpHeader + 4;
constexpr uint32_t kShortPacketId = kUdpHeader + 4;     // the low 24 bits of the word that starts with the format
constexpr uint32_t kExtendedPacketId = kUdpHeader + 16; // after status, flags, format and the 64-bit block ID
constexpr uint32_t kPayloadType = 2;                    // in a leader, after its reserved field
// Scratch memory of the program.
constexpr uint32_t kTotalLengthSlot = 0;
constexpr uint32_t kUdpLengthSlot = 1; // the UDP datagram's length, header included

// A load of `size` from the UDP header's `offset` on (X holds the IP header's length).
void loadUdp(ProgramWriter& program, uint16_t size, uint32_t offset) {
    program.step(BPF_LD | size | BPF_IND, kNet + offset);
}

// The IP header of an unfragmented IPv4 UDP datagram from the camera to the host, and its lengths: the IP header's
// length in X, the UDP datagram's in slot kUdpLengthSlot, each checked against the others and against the bytes
// that arrived.
void writeIpChecks(ProgramWriter& program, const StreamEndpoints& endpoints) {
    constexpr uint32_t kIpv4 = 0x0800;
    constexpr uint32_t kVersionMask = 0xf0;
    constexpr uint32_t kVersion4 = 0x40;
    constexpr uint32_t kUdp = 17;
    constexpr uint32_t kMoreFragmentsOrOffset = 0x3fff;
    program.step(BPF_LD | BPF_W | BPF_ABS, static_cast<uint32_t>(SKF_AD_OFF + SKF_AD_PROTOCOL));
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kIpv4, Label::Next, Label::Drop);
    program.step(BPF_LD | BPF_B | BPF_ABS, kNet + kIpVersion);
    program.step(BPF_ALU | BPF_AND | BPF_K, kVersionMask);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kVersion4, Label::Next, Label::Drop);
    program.step(BPF_LD | BPF_B | BPF_ABS, kNet + kIpProtocol);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kUdp, Label::Next, Label::Drop);
    program.step(BPF_LD | BPF_H | BPF_ABS, kNet + kIpFragment);
    program.jump(BPF_JMP | BPF_JSET | BPF_K, kMoreFragmentsOrOffset, Label::Drop, Label::Next);
    program.step(BPF_LD | BPF_W | BPF_ABS, kNet + kIpSource);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, endpoints.camera, Label::Next, Label::Drop);
    program.step(BPF_LD | BPF_W | BPF_ABS, kNet + kIpDestination);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, endpoints.host, Label::Next, Label::Drop);
    // X: the IP header's length, at least the header without options.
    program.step(BPF_LDX | BPF_B | BPF_MSH, kNet + kIpVersion);
    program.step(BPF_MISC | BPF_TXA, 0);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kSmallestIpHeader, Label::Next, Label::Drop);
    // The UDP length is the IP length less the IP header.
    program.step(BPF_LD | BPF_H | BPF_ABS, kNet + kIpTotalLength);
    program.step(BPF_ST, kTotalLengthSlot);
    program.step(BPF_ALU | BPF_SUB | BPF_X, 0);
    program.step(BPF_ST, kUdpLengthSlot);
    loadUdp(program, BPF_H, kUdpLength);
    program.step(BPF_LDX | BPF_W | BPF_MEM, kUdpLengthSlot);
    program.jump(BPF_JMP | BPF_JEQ | BPF_X, 0, Label::Next, Label::Drop);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspHeader, Label::Next, Label::Drop);
    // The datagram's last byte arrived: a load past the end of the packet ends the program with a drop.
    program.step(BPF_LD | BPF_W | BPF_MEM, kTotalLengthSlot);
    program.step(BPF_ALU | BPF_SUB | BPF_K, 1);
    program.step(BPF_MISC | BPF_TAX, 0);
    program.step(BPF_LD | BPF_B | BPF_IND, kNet);
    // Back to the IP header's length for the loads from the UDP header on.
    program.step(BPF_LDX | BPF_B | BPF_MSH, kNet + kIpVersion);
    loadUdp(program, BPF_H, kUdpPort);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, endpoints.port, Label::Next, Label::Drop);
}

// A leader's length and payload type, for a header of `header` bytes: image payloads only.
void writeLeaderChecks(ProgramWriter& program, uint32_t header) {
    constexpr uint32_t kImagePayload = 0x0001;
    constexpr uint32_t kImageWithChunks = 0x4001;
    program.step(BPF_LD | BPF_W | BPF_MEM, kUdpLengthSlot);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + header + kImageLeader, Label::Next, Label::Drop);
    loadUdp(program, BPF_H, kUdpHeader + header + kPayloadType);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kImagePayload, Label::Accept, Label::Next);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kImageWithChunks, Label::Accept, Label::Drop);
}

// The packet format (without the extended-ID flag; the reserved bits stay: a packet that sets them is not ours):
// payloads pass, trailers go to `trailer`, leaders fall through, anything else is dropped.
void writeFormatDispatch(ProgramWriter& program, Label trailer) {
    constexpr uint32_t kFormatMask = 0x7f;
    constexpr uint32_t kLeaderFormat = 1;
    constexpr uint32_t kTrailerFormat = 2;
    constexpr uint32_t kPayloadFormat = 3;
    loadUdp(program, BPF_B, kFormatByte);
    program.step(BPF_ALU | BPF_AND | BPF_K, kFormatMask);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kPayloadFormat, Label::Accept, Label::Next);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kTrailerFormat, trailer, Label::Next);
    program.jump(BPF_JMP | BPF_JEQ | BPF_K, kLeaderFormat, Label::Next, Label::Drop);
}

void writeTrailerCheck(ProgramWriter& program, uint32_t header) {
    program.step(BPF_LD | BPF_W | BPF_MEM, kUdpLengthSlot);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + header + kTrailer, Label::Accept, Label::Drop);
}

// The GigE Vision stream header, with 16-bit or extended IDs.
void writeStreamChecks(ProgramWriter& program) {
    constexpr uint32_t kExtendedIdFlag = 0x80;
    constexpr uint32_t kShortPacketIdMask = 0xffffff;
    loadUdp(program, BPF_B, kFormatByte);
    program.jump(BPF_JMP | BPF_JSET | BPF_K, kExtendedIdFlag, Label::ExtendedIds, Label::Next);
    loadUdp(program, BPF_W, kShortPacketId);
    program.step(BPF_ALU | BPF_AND | BPF_K, kShortPacketIdMask);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kPacketIdLimit, Label::Drop, Label::Next);
    writeFormatDispatch(program, Label::Trailer);
    writeLeaderChecks(program, kGvspHeader);
    program.place(Label::Trailer);
    writeTrailerCheck(program, kGvspHeader);

    program.place(Label::ExtendedIds);
    program.step(BPF_LD | BPF_W | BPF_MEM, kUdpLengthSlot);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kUdpHeader + kGvspExtendedHeader, Label::Next, Label::Drop);
    loadUdp(program, BPF_W, kExtendedPacketId);
    program.jump(BPF_JMP | BPF_JGE | BPF_K, kPacketIdLimit, Label::Drop, Label::Next);
    writeFormatDispatch(program, Label::ExtendedTrailer);
    writeLeaderChecks(program, kGvspExtendedHeader);
    program.place(Label::ExtendedTrailer);
    writeTrailerCheck(program, kGvspExtendedHeader);
}

bool isSocketOf(int fd, int domain) noexcept {
    int actual = 0;
    socklen_t size = sizeof actual;
    return getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &actual, &size) == 0 && actual == domain;
}

// The descriptors this process has open, in no order.
std::vector<int> openDescriptors() {
    std::vector<int> descriptors;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        const std::string name = entry.path().filename().string();
        char* end = nullptr;
        const long fd = std::strtol(name.c_str(), &end, 10);
        if (end != name.c_str() && *end == '\0') {
            descriptors.push_back(static_cast<int>(fd));
        }
    }
    return descriptors;
}

// Whether the filter on socket `fd` compares with both the camera's address and the stream port: Aravis's does.
bool filterNames(int fd, const StreamEndpoints& endpoints) noexcept {
    constexpr std::size_t kLongestProgram = 256;
    std::array<sock_filter, kLongestProgram> program{};
    socklen_t count = program.size(); // in instructions, for this option
    if (getsockopt(fd, SOL_SOCKET, SO_GET_FILTER, program.data(), &count) != 0 || count == 0 ||
        count > program.size()) {
        return false;
    }
    const auto* const begin = program.data();
    const auto* const end = begin + count;
    const auto compares = [&](uint32_t value) {
        return std::any_of(begin, end, [value](const sock_filter& instruction) {
            return BPF_CLASS(instruction.code) == BPF_JMP && BPF_SRC(instruction.code) == BPF_K &&
                   instruction.k == value;
        });
    };
    return compares(endpoints.camera) && compares(endpoints.port);
}

} // namespace

std::vector<sock_filter> streamFilter(const StreamEndpoints& endpoints) {
    constexpr uint32_t kWholePacket = 0xffffffffU;
    ProgramWriter program;
    writeIpChecks(program, endpoints);
    writeStreamChecks(program);
    program.place(Label::Accept);
    program.step(BPF_RET | BPF_K, kWholePacket);
    program.place(Label::Drop);
    program.step(BPF_RET | BPF_K, 0);
    return program.finish();
}

bool attachStreamFilter(int fd, const StreamEndpoints& endpoints) noexcept {
    try {
        std::vector<sock_filter> program = streamFilter(endpoints);
        if (program.empty()) {
            return false;
        }
        const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
        return setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

int udpSocketOfPort(uint16_t port) noexcept {
    try {
        for (const int fd : openDescriptors()) {
            int type = 0;
            socklen_t typeSize = sizeof type;
            sockaddr_in bound{};
            socklen_t boundSize = sizeof bound;
            // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the sockets interface
            if (isSocketOf(fd, AF_INET) && getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &typeSize) == 0 &&
                type == SOCK_DGRAM && getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundSize) == 0 &&
                ntohs(bound.sin_port) == port) {
                return fd;
            }
        }
    } catch (const std::bad_alloc&) {
    }
    return -1;
}

bool mayOpenPacketSockets() noexcept {
    const int probe = socket(AF_PACKET, SOCK_RAW, 0);
    if (probe < 0) {
        return false;
    }
    close(probe);
    return true;
}

int packetSocketOfStream(const StreamEndpoints& endpoints, std::chrono::milliseconds patience) noexcept {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    try {
        for (;;) {
            for (const int fd : openDescriptors()) {
                if (isSocketOf(fd, AF_PACKET) && filterNames(fd, endpoints)) {
                    return fd;
                }
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // namespace sdk::aravis::gev

#endif
