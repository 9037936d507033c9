// `vxcam check`: this host's network settings that GigE Vision cameras need, and what to change. The facts are
// read from the system's files (a root folder that tests replace), the judgement is a pure function of them.
#pragma once

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace vxcam::host {

struct InterfaceFacts {
    QString name;
    std::optional<int64_t> mtu;
    std::optional<int> rpFilter; // the interface's own net.ipv4.conf.IF.rp_filter
};

struct NetworkFacts {
    std::optional<int64_t> receiveBufferMax; // net.core.rmem_max, bytes
    std::optional<int> allRpFilter;          // net.ipv4.conf.all.rp_filter
    std::vector<InterfaceFacts> interfaces;  // every interface but the loopback, by name
    std::optional<bool> packetSocketsAllowed;
};

enum class CheckStatus { Ok, Change, Unknown };

struct CheckItem {
    QString name;      // "receive buffers", "reverse-path filter", "MTU", "packet sockets"
    QString interface; // empty for settings of the whole host
    CheckStatus status = CheckStatus::Ok;
    QString value;  // what was found
    QString advice; // why and how to change it; empty when nothing is to be done
};

// The socket receive buffer limit a camera stream needs: a few frames of a fast camera while the receiving
// thread is held up.
inline constexpr int64_t kWantedReceiveBufferMax = int64_t{16} * 1024 * 1024;
// The stream packet size GigE Vision cameras use unless told otherwise; jumbo frames need 9000.
inline constexpr int64_t kStandardMtu = 1500;
inline constexpr int64_t kJumboMtu = 9000;

// Reads the facts below `root` ("/" for this host): proc/sys/net/..., sys/class/net/... Interfaces: all of
// sys/class/net but "lo", or only `onlyInterface` when given. Packet sockets are tried by the calling process.
[[nodiscard]] NetworkFacts readNetworkFacts(const QString& root, const QString& onlyInterface);
[[nodiscard]] bool mayOpenPacketSockets();

[[nodiscard]] std::vector<CheckItem> checkNetwork(const NetworkFacts& facts);

[[nodiscard]] QString checkText(const std::vector<CheckItem>& items);
[[nodiscard]] QJsonObject checkJson(const std::vector<CheckItem>& items);

} // namespace vxcam::host
