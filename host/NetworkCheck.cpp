#include "host/NetworkCheck.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include <algorithm>

#if defined(__linux__)
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace vxcam::host {
namespace {

std::optional<int64_t> numberIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    bool ok = false;
    const int64_t value = QString::fromLatin1(file.readAll()).trimmed().toLongLong(&ok);
    return ok ? std::optional<int64_t>(value) : std::nullopt;
}

std::optional<int> smallNumberIn(const QString& path) {
    const std::optional<int64_t> value = numberIn(path);
    return value ? std::optional<int>(static_cast<int>(*value)) : std::nullopt;
}

CheckItem receiveBuffers(const NetworkFacts& facts) {
    CheckItem item{QStringLiteral("receive buffers"), {}, CheckStatus::Ok, {}, {}};
    if (!facts.receiveBufferMax) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("net.core.rmem_max unreadable");
        return item;
    }
    item.value = QStringLiteral("net.core.rmem_max %1").arg(*facts.receiveBufferMax);
    if (*facts.receiveBufferMax < kWantedReceiveBufferMax) {
        item.status = CheckStatus::Change;
        item.advice = QStringLiteral("a stream's socket cannot hold more than %1 bytes while the receiving thread is "
                                     "held up, so bursts of packets are dropped; raise it: sudo sysctl -w "
                                     "net.core.rmem_max=%2 (and put the line into /etc/sysctl.d/ to keep it)")
                          .arg(*facts.receiveBufferMax)
                          .arg(kWantedReceiveBufferMax);
    }
    return item;
}

// The kernel filters by the larger of "all" and the interface's own value; 1 is strict.
CheckItem reversePathFilter(const NetworkFacts& facts, const InterfaceFacts& link) {
    CheckItem item{QStringLiteral("reverse-path filter"), link.name, CheckStatus::Ok, {}, {}};
    if (!link.rpFilter || !facts.allRpFilter) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("rp_filter unreadable");
        return item;
    }
    const int effective = std::max(*link.rpFilter, *facts.allRpFilter);
    item.value = QStringLiteral("rp_filter %1 (all %2, %3 %4)")
                     .arg(effective)
                     .arg(*facts.allRpFilter)
                     .arg(link.name)
                     .arg(*link.rpFilter);
    if (effective == 1) {
        item.status = CheckStatus::Change;
        item.advice = QStringLiteral("strict filtering drops a camera's packets whenever its address is not routed "
                                     "back through %1 (a camera with a link-local or foreign address, or answers "
                                     "to discovery); set it loose: sudo sysctl -w net.ipv4.conf.all.rp_filter=2 "
                                     "net.ipv4.conf.%1.rp_filter=2")
                          .arg(link.name);
    }
    return item;
}

CheckItem mtu(const InterfaceFacts& link) {
    CheckItem item{QStringLiteral("MTU"), link.name, CheckStatus::Ok, {}, {}};
    if (!link.mtu) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("MTU unreadable");
        return item;
    }
    item.value = QStringLiteral("MTU %1").arg(*link.mtu);
    if (*link.mtu < kStandardMtu) {
        item.status = CheckStatus::Change;
        item.advice = QStringLiteral("below the %1 bytes GigE Vision cameras send by default: the module negotiates "
                                     "smaller packets, which cost more per frame; give the camera's interface at "
                                     "least %1: sudo ip link set %2 mtu %1")
                          .arg(kStandardMtu)
                          .arg(link.name);
    } else if (*link.mtu < kJumboMtu) {
        item.advice = QStringLiteral("fine; for fast cameras, jumbo frames lower the host's load where the camera "
                                     "and the switch take them: sudo ip link set %1 mtu %2")
                          .arg(link.name)
                          .arg(kJumboMtu);
    }
    return item;
}

CheckItem packetSockets(const NetworkFacts& facts) {
    CheckItem item{QStringLiteral("packet sockets"), {}, CheckStatus::Ok, {}, {}};
    if (!facts.packetSocketsAllowed) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("not tried");
        return item;
    }
    if (*facts.packetSocketsAllowed) {
        item.value = QStringLiteral("allowed");
        item.advice = QStringLiteral("the module receives streams through packet sockets, whose shared ring costs "
                                     "the least CPU per packet");
        return item;
    }
    // Streams still arrive, through the UDP socket: a system call per packet, several times the CPU at the packet
    // rates of fast cameras.
    item.status = CheckStatus::Change;
    item.value = QStringLiteral("not allowed");
    item.advice = QStringLiteral("the module receives streams through UDP sockets instead, at several times the CPU "
                                 "per packet; let the host's program open packet sockets: sudo setcap "
                                 "cap_net_raw+ep PROGRAM");
    return item;
}

QString statusName(CheckStatus status) {
    switch (status) {
    case CheckStatus::Ok:
        return QStringLiteral("ok");
    case CheckStatus::Change:
        return QStringLiteral("change");
    case CheckStatus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

} // namespace

NetworkFacts readNetworkFacts(const QString& root, const QString& onlyInterface) {
    const QDir base(root);
    NetworkFacts facts;
    facts.receiveBufferMax = numberIn(base.filePath(QStringLiteral("proc/sys/net/core/rmem_max")));
    facts.allRpFilter = smallNumberIn(base.filePath(QStringLiteral("proc/sys/net/ipv4/conf/all/rp_filter")));
    QStringList names = QDir(base.filePath(QStringLiteral("sys/class/net")))
                            .entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    names.removeAll(QStringLiteral("lo"));
    if (!onlyInterface.isEmpty()) {
        names = names.contains(onlyInterface) ? QStringList{onlyInterface} : QStringList{};
    }
    for (const QString& name : names) {
        InterfaceFacts link;
        link.name = name;
        link.mtu = numberIn(base.filePath(QStringLiteral("sys/class/net/%1/mtu").arg(name)));
        link.rpFilter = smallNumberIn(base.filePath(QStringLiteral("proc/sys/net/ipv4/conf/%1/rp_filter").arg(name)));
        facts.interfaces.push_back(link);
    }
    return facts;
}

bool mayOpenPacketSockets() {
#if defined(__linux__)
    const int probe = socket(AF_PACKET, SOCK_RAW, 0);
    if (probe < 0) {
        return false;
    }
    close(probe);
    return true;
#else
    return false;
#endif
}

std::vector<CheckItem> checkNetwork(const NetworkFacts& facts) {
    std::vector<CheckItem> items{receiveBuffers(facts)};
    for (const InterfaceFacts& link : facts.interfaces) {
        items.push_back(reversePathFilter(facts, link));
        items.push_back(mtu(link));
    }
    items.push_back(packetSockets(facts));
    return items;
}

QString checkText(const std::vector<CheckItem>& items) {
    QString text;
    int changes = 0;
    for (const CheckItem& item : items) {
        const QString what =
            item.interface.isEmpty() ? item.name : QStringLiteral("%1 %2").arg(item.name, item.interface);
        text += QStringLiteral("%1  %2: %3\n").arg(statusName(item.status), -7).arg(what, item.value);
        if (!item.advice.isEmpty()) {
            text += QStringLiteral("         %1\n").arg(item.advice);
        }
        changes += item.status == CheckStatus::Change ? 1 : 0;
    }
    text += changes == 0
                ? QStringLiteral("nothing to change\n")
                : QStringLiteral("%1 to change (see above)\n")
                      .arg(changes == 1 ? QStringLiteral("1 setting") : QStringLiteral("%1 settings").arg(changes));
    return text;
}

QJsonObject checkJson(const std::vector<CheckItem>& items) {
    QJsonArray checks;
    int changes = 0;
    for (const CheckItem& item : items) {
        checks.append(QJsonObject{
            {QStringLiteral("name"), item.name},
            {QStringLiteral("interface"),
             item.interface.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(item.interface)},
            {QStringLiteral("status"), statusName(item.status)},
            {QStringLiteral("value"), item.value},
            {QStringLiteral("advice"), item.advice.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(item.advice)},
        });
        changes += item.status == CheckStatus::Change ? 1 : 0;
    }
    return QJsonObject{{QStringLiteral("checks"), checks}, {QStringLiteral("changes"), changes}};
}

} // namespace vxcam::host
