#include "sdk/aravis/AravisGevLink.h"

#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/aravis/AravisLinkBudget.h"
#include "sdk/aravis/AravisObjects.h"
#include "sdk/aravis/AravisStreamFilter.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

#if defined(__linux__)
#include <ifaddrs.h>
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

// Where the host's choices are noted: on the camera's GenICam tree, which lives as long as the open camera and
// is used on its host side only.
constexpr const char* kHostPacketSize = "vxcam-host-packet-size";
constexpr const char* kHostInterPacketDelay = "vxcam-host-inter-packet-delay";

bool hostNoted(ArvDevice* device, const char* key) noexcept {
    ArvGc* genicam = arv_device_get_genicam(device);
    return genicam != nullptr && g_object_get_data(G_OBJECT(genicam), key) != nullptr;
}

} // namespace

void receiveThroughUdpSocket(ArvGvDevice* device) noexcept {
    const auto options = static_cast<unsigned>(arv_gv_device_get_stream_options(device));
    arv_gv_device_set_stream_options(
        device, static_cast<ArvGvStreamOption>(options | ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED));
}

namespace {

// Aravis receives through a packet socket unless it was told otherwise or this process may not open one.
bool receivesThroughPacketSocket(ArvGvDevice* device) noexcept {
#if defined(__linux__)
    const auto options = static_cast<unsigned>(arv_gv_device_get_stream_options(device));
    return (options & ARV_GV_STREAM_OPTION_PACKET_SOCKET_DISABLED) == 0 && mayOpenPacketSockets();
#else
    static_cast<void>(device);
    return false;
#endif
}

uint32_t hostOrder(const std::array<uint8_t, 4>& address) noexcept {
    return (static_cast<uint32_t>(address[0]) << 24) | (static_cast<uint32_t>(address[1]) << 16) |
           (static_cast<uint32_t>(address[2]) << 8) | address[3];
}

// Aravis opens its packet socket as its receiving thread starts, which is at once; a busy machine may hold
// the thread back for a while, but not for a whole second, which the opening of a stream may take at most.
constexpr std::chrono::milliseconds kPacketSocketPatience{1000};

} // namespace

bool admitOnlyTheCamerasStreamPackets(ArvGvDevice* device, ArvGvStream* stream, const std::string& serial) {
#if defined(__linux__)
    const std::optional<std::array<uint8_t, 4>> camera = ipv4Of(arv_gv_device_get_device_address(device));
    const std::optional<std::array<uint8_t, 4>> host = ipv4Of(arv_gv_device_get_interface_address(device));
    if (camera && host) {
        const StreamEndpoints endpoints{hostOrder(*camera), hostOrder(*host), arv_gv_stream_get_port(stream)};
        // The UDP socket is guarded whichever socket Aravis reads: it reads the UDP socket when its packet
        // socket fails.
        const int udp = udpSocketOfPort(endpoints.port);
        const bool udpGuarded = udp >= 0 && attachStreamFilter(udp, endpoints);
        if (!receivesThroughPacketSocket(device)) {
            if (udpGuarded) {
                return true;
            }
        } else if (const int packet = packetSocketOfStream(endpoints, kPacketSocketPatience);
                   packet >= 0 && attachStreamFilter(packet, endpoints)) {
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

std::string interfaceName(ArvGvDevice* device) {
#if defined(__linux__)
    const std::optional<std::array<uint8_t, 4>> local = ipv4Of(arv_gv_device_get_interface_address(device));
    if (!local) {
        return {};
    }
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return {};
    }
    std::string name;
    for (const ifaddrs* entry = interfaces; entry != nullptr && name.empty(); entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        if (std::memcmp(&address.sin_addr, local->data(), local->size()) == 0) {
            name = entry->ifa_name;
        }
    }
    freeifaddrs(interfaces);
    return name;
#else
    static_cast<void>(device);
    return {};
#endif
}

std::optional<uint32_t> interfaceMtu(ArvGvDevice* device) {
#if defined(__linux__)
    const std::string name = interfaceName(device);
    if (name.empty()) {
        return std::nullopt;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    std::optional<uint32_t> mtu;
    const int probe = socket(AF_INET, SOCK_DGRAM, 0);
    if (probe >= 0) {
        if (ioctl(probe, SIOCGIFMTU, &request) == 0 && request.ifr_mtu > 0) {
            mtu = static_cast<uint32_t>(request.ifr_mtu);
        }
        close(probe);
    }
    return mtu;
#else
    static_cast<void>(device);
    return std::nullopt;
#endif
}

void noteHostSetting(ArvGcFeatureNode* node, const std::string& feature) noexcept {
    const char* key = nullptr;
    if (feature == "GevSCPSPacketSize") {
        key = kHostPacketSize;
    } else if (feature == "GevSCPD") {
        key = kHostInterPacketDelay;
    }
    ArvGc* genicam = key != nullptr ? arv_gc_node_get_genicam(ARV_GC_NODE(node)) : nullptr;
    if (genicam != nullptr) {
        g_object_set_data(G_OBJECT(genicam), key, GINT_TO_POINTER(1));
    }
}

bool hostChosePacketSize(ArvDevice* device) noexcept {
    return hostNoted(device, kHostPacketSize);
}

bool hostChoseInterPacketDelay(ArvDevice* device) noexcept {
    return hostNoted(device, kHostInterPacketDelay);
}

namespace {

// The host wrote the packet size: Aravis does not adjust it when the stream is made, whatever its test packets
// say, and the host hears when packets of that size cannot cross the interface whole.
PacketSizeChoice keepHostsPacketSize(ArvGvDevice* device, const std::string& serial, PacketSizeChoice choice) {
    arv_gv_device_set_packet_size_adjustment(device, ARV_GV_PACKET_SIZE_ADJUSTMENT_NEVER);
    choice.chosenByHost = true;
    choice.chosen = choice.before;
    if (choice.mtu && choice.chosen > *choice.mtu) {
        qCWarning(lcAravis()).nospace() << "camera " << serial.c_str() << " sends packets of " << choice.chosen
                                        << " bytes, as the host configured, above the MTU " << *choice.mtu
                                        << " of interface " << interfaceName(device).c_str()
                                        << ": they travel as IP fragments, and a frame is lost with any one "
                                        << "fragment";
    } else {
        qCInfo(lcAravis()) << "camera" << serial.c_str() << "sends packets of" << choice.chosen
                           << "bytes, as the host configured";
    }
    return choice;
}

} // namespace

PacketSizeChoice negotiatePacketSize(ArvGvDevice* device, const std::string& serial) {
    PacketSizeChoice choice;
    {
        ErrorSlot error;
        choice.before = arv_gv_device_get_packet_size(device, error.out());
    }
    choice.mtu = interfaceMtu(device);
    if (hostChosePacketSize(ARV_DEVICE(device))) {
        return keepHostsPacketSize(device, serial, choice);
    }
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

namespace {

// The stream channel's inter-packet delay register of the GigE Vision bootstrap registers (channel 0), in ticks
// of the camera's timestamp clock.
constexpr guint64 kInterPacketDelayRegister = 0x0D08;

struct LinkSpeed {
    uint64_t bitsPerSecond = 0;
    const char* source = "";
};

// The setting first (for a link whose bottleneck is not the host's interface, or an interface that does not
// say), then what a physical interface reports; virtual interfaces (veth, bridges) report a speed that says
// nothing about the wire, and have no device behind them.
LinkSpeed linkSpeedOf(const std::string& interface) {
    constexpr uint64_t kMega = 1000000;
    // Qt's reading of the environment takes its lock against a concurrent change.
    if (const QByteArray setting = qgetenv("VXCAM_GEV_LINK_MBPS"); !setting.isEmpty()) {
        bool number = false;
        const qulonglong mbps = setting.toULongLong(&number);
        if (number && mbps > 0 && mbps <= 1000000) {
            return {mbps * kMega, "VXCAM_GEV_LINK_MBPS"};
        }
        qCWarning(lcAravis()) << "VXCAM_GEV_LINK_MBPS" << setting.constData()
                              << "is no link speed in megabits a second (1 to 1000000); it is ignored";
    }
    std::error_code error;
    const std::filesystem::path entry = std::filesystem::path("/sys/class/net") / interface;
    if (!interface.empty() && std::filesystem::exists(entry / "device", error)) {
        std::ifstream speedFile(entry / "speed");
        long long mbps = 0;
        if (speedFile >> mbps && mbps > 0) {
            return {static_cast<uint64_t>(mbps) * kMega, "reported by the interface"};
        }
    }
    return {kDefaultLinkMbps * kMega, "taken for an interface that reports no speed"};
}

// The cameras of this process that stream, by the host's interface they stream through. Never destroyed: a
// stream may stop while the process exits, after function statics are gone.
class LinkShares {
public:
    static LinkShares& instance() {
        static auto* shares = new LinkShares(); // NOLINT(cppcoreguidelines-owning-memory): lives for the process
        return *shares;
    }

    void join(const LinkShare::Member& member) {
        const std::lock_guard lock(m_mutex);
        m_members.push_back(&member);
        spread(member.interface);
    }

    // The camera stops sending: it gets its own delay back, so that its next start finds it, and the others
    // spread over the link.
    void leave(const LinkShare::Member& member) {
        const std::lock_guard lock(m_mutex);
        m_members.erase(std::remove(m_members.begin(), m_members.end(), &member), m_members.end());
        writeDelay(member, member.ownDelay);
        spread(member.interface);
    }

private:
    // Called with m_mutex held, so that the delays written last are those of the last count. A camera alone on
    // its interface streams with its own delay, as it did before it shared: the link is all its own.
    void spread(const std::string& interface) {
        std::vector<const LinkShare::Member*> sharing;
        std::copy_if(m_members.begin(), m_members.end(), std::back_inserter(sharing),
                     [&](const LinkShare::Member* member) { return member->interface == interface; });
        if (sharing.size() == 1) {
            writeDelay(*sharing.front(), sharing.front()->ownDelay);
        }
        if (sharing.size() < 2) {
            return;
        }
        const LinkSpeed speed = linkSpeedOf(interface);
        const auto cameras = static_cast<uint32_t>(sharing.size());
        for (const LinkShare::Member* member : sharing) {
            if (member->packetSize == 0 || member->tickHz == 0) {
                continue; // no share can be told for it (warned when it joined); it still counts
            }
            const std::optional<uint32_t> delay = writeDelay(
                *member, interPacketDelayTicks(member->packetSize, speed.bitsPerSecond, cameras, member->tickHz));
            if (!delay) {
                continue;
            }
            const double megabits =
                streamBitsPerSecond(member->packetSize, speed.bitsPerSecond, *delay, member->tickHz) / 1e6;
            qCInfo(lcAravis()).nospace() << "camera " << member->link->serial.c_str() << " streams through "
                                         << interface.c_str() << " (" << speed.bitsPerSecond / 1000000 << " Mb/s, "
                                         << speed.source << ") with " << cameras - 1
                                         << " other camera(s): inter-packet delay " << *delay << " ticks, at most "
                                         << qUtf8Printable(QString::number(megabits, 'f', 1)) << " Mb/s";
        }
    }

    // The delay written; nothing when the camera is gone, the host chose its delay, or the camera refused. A
    // delay beyond the camera's range is held at its largest, with a warning: the camera then may send faster
    // than its share.
    static std::optional<uint32_t> writeDelay(const LinkShare::Member& member, uint32_t delay) {
        // A camera that does not answer now is not waited for: the share is made again at the next start or stop.
        if (member.link->silent() || member.delayChosenByHost) {
            return std::nullopt;
        }
        if (delay > member.largestDelay) {
            qCWarning(lcAravis()) << "camera" << member.link->serial.c_str()
                                  << "cannot be held to its share of the link: it takes an inter-packet delay of at "
                                     "most"
                                  << member.largestDelay << "ticks, its share needs" << delay
                                  << "; lower its frame rate or size (or its DeviceLinkThroughputLimit, where it has "
                                     "one) to keep the link from overflowing";
            delay = member.largestDelay;
        }
        bool written = false;
        try {
            written = member.link->control->run("LinkShare::WriteDelay", [device = member.device.get(), delay] {
                ErrorSlot error;
                arv_device_write_register(device, kInterPacketDelayRegister, delay, error.out());
                return !error.failed();
            });
        } catch (const Exceptions::IException&) {
            // Did not answer in time, or the camera is closing: said below.
        }
        if (!written) {
            qCWarning(lcAravis()) << "camera" << member.link->serial.c_str() << "did not take an inter-packet delay of"
                                  << delay << "ticks";
            return std::nullopt;
        }
        return delay;
    }

    std::mutex m_mutex; // guards m_members and orders the writes of delays; taken by starts and stops of any camera
    std::vector<const LinkShare::Member*> m_members;
};

std::string addressText(GSocketAddress* address) {
    const std::optional<std::array<uint8_t, 4>> bytes = ipv4Of(address);
    if (!bytes) {
        return "the camera";
    }
    return std::to_string((*bytes)[0]) + "." + std::to_string((*bytes)[1]) + "." + std::to_string((*bytes)[2]) + "." +
           std::to_string((*bytes)[3]);
}

} // namespace

std::unique_ptr<LinkShare> LinkShare::join(ArvGvDevice* device, std::shared_ptr<const DeviceLink> link) {
    Member member;
    member.interface = interfaceName(device);
    if (member.interface.empty() || link->silent()) {
        return nullptr;
    }
    member.delayChosenByHost = hostChoseInterPacketDelay(ARV_DEVICE(device));
    try {
        // Talks to the camera: on its control channel, so that a camera that does not answer holds no start.
        const Member read = link->control->run("LinkShare::Join", [device] {
            Member pacing;
            {
                ErrorSlot error;
                // The size is the register's low 16 bits; the bits above are flags.
                pacing.packetSize = arv_gv_device_get_packet_size(device, error.out()) & 0xffffU;
            }
            {
                ErrorSlot error;
                pacing.tickHz = arv_gv_device_get_timestamp_tick_frequency(device, error.out());
            }
            {
                ErrorSlot error;
                arv_device_read_register(ARV_DEVICE(device), kInterPacketDelayRegister, &pacing.ownDelay, error.out());
            }
            if (arv_device_get_feature(ARV_DEVICE(device), "GevSCPD") != nullptr) {
                gint64 smallest = 0;
                gint64 largest = 0;
                ErrorSlot error;
                arv_device_get_integer_feature_bounds(ARV_DEVICE(device), "GevSCPD", &smallest, &largest, error.out());
                if (!error.failed() && largest >= 0 && largest < std::numeric_limits<uint32_t>::max()) {
                    pacing.largestDelay = static_cast<uint32_t>(largest);
                }
            }
            return pacing;
        });
        member.packetSize = read.packetSize;
        member.tickHz = read.tickHz;
        member.ownDelay = read.ownDelay;
        member.largestDelay = read.largestDelay;
    } catch (const Exceptions::IException& error) {
        qCWarning(lcAravis()) << "camera" << link->serial.c_str()
                              << "did not tell its packet size and clock: its share of the link is not set ("
                              << error.GetErrorDescription() << ")";
        return nullptr;
    }
    if (!member.delayChosenByHost && (member.packetSize == 0 || member.tickHz == 0)) {
        qCWarning(lcAravis()) << "camera" << link->serial.c_str()
                              << "tells no packet size or timestamp clock: its share of the link is not set";
    }
    member.device.reset(ARV_DEVICE(g_object_ref(device)));
    member.link = std::move(link);
    std::unique_ptr<LinkShare> share(new LinkShare(std::move(member)));
    LinkShares::instance().join(share->m_member);
    return share;
}

LinkShare::~LinkShare() {
    LinkShares::instance().leave(m_member);
}

SilentLinkWatch::SilentLinkWatch(ArvGvDevice* device, ArvStream* stream, std::shared_ptr<const DeviceLink> link,
                                 std::chrono::milliseconds patience)
    : m_pDevice(ARV_DEVICE(g_object_ref(device))), m_pStream(static_cast<ArvStream*>(g_object_ref(stream))),
      m_pLink(std::move(link)), m_nPacketsBefore(arv_stream_get_info_uint64_by_name(stream, "n_received_packets")),
      m_thread(&SilentLinkWatch::watch, this, patience) {}

SilentLinkWatch::~SilentLinkWatch() {
    {
        const std::lock_guard lock(m_mutex);
        m_bDropped = true;
    }
    m_dropped.notify_all();
    m_thread.join();
}

void SilentLinkWatch::watch(std::chrono::milliseconds patience) {
    {
        std::unique_lock lock(m_mutex);
        if (m_dropped.wait_for(lock, patience, [this] { return m_bDropped; })) {
            return;
        }
    }
    if (m_pLink->lost.load() ||
        arv_stream_get_info_uint64_by_name(m_pStream.get(), "n_received_packets") != m_nPacketsBefore) {
        return;
    }
    ArvGvDevice* device = ARV_GV_DEVICE(m_pDevice.get());
    const std::string interface = interfaceName(device);
    const std::string camera = addressText(arv_gv_device_get_device_address(device));
    qCWarning(lcAravis()).nospace()
        << "camera " << m_pLink->serial.c_str() << " streams, but none of its stream packets reached this host in "
        << patience.count() << " ms. Likely causes: a firewall dropping UDP from " << camera.c_str()
        << " to this host (control answers pass, stream packets do not); reverse-path filtering (rp_filter) on "
        << interface.c_str() << " dropping packets from an address not routed back through it; a route that "
        << "takes the camera's traffic elsewhere; a path whose MTU is below the camera's packets. "
        << "'vxcam check --interface " << interface.c_str() << "' inspects this host's settings.";
}

} // namespace sdk::aravis::gev
