// `vxcam check`'s judgement of a host's network settings, and its reading of them from the system's files.
#include "host/NetworkCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace vxcam::host {
namespace {

// A host whose every setting is as GigE Vision wants it; each case changes one thing.
NetworkFacts goodHost() {
    NetworkFacts facts;
    facts.receiveBufferMax = 32 * 1024 * 1024;
    facts.allRpFilter = 0;
    facts.interfaces = {InterfaceFacts{QStringLiteral("cam0"), 9000, 2}};
    facts.packetSocketsAllowed = true;
    return facts;
}

const CheckItem* itemOf(const std::vector<CheckItem>& items, const char* name) {
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const CheckItem& item) { return item.name == QLatin1String(name); });
    return found == items.end() ? nullptr : &*found;
}

struct Case {
    const char* what;
    void (*change)(NetworkFacts&);
    const char* item;   // the check that judges the change
    CheckStatus status; // what it says
    const char* advice; // a piece of its advice; null: no advice expected
};

std::ostream& operator<<(std::ostream& out, const Case& c) {
    return out << c.what;
}

class NetworkCheckTest : public ::testing::TestWithParam<Case> {};

TEST_P(NetworkCheckTest, JudgesTheSettingAndSaysWhatToChange) {
    const Case& c = GetParam();
    NetworkFacts facts = goodHost();
    c.change(facts);
    const std::vector<CheckItem> items = checkNetwork(facts);
    const CheckItem* item = itemOf(items, c.item);
    ASSERT_NE(item, nullptr) << c.item;
    EXPECT_EQ(item->status, c.status);
    if (c.advice != nullptr) {
        EXPECT_TRUE(item->advice.contains(QLatin1String(c.advice))) << item->advice.toStdString();
    }
    // Only the one setting changed is to change.
    const auto changes = std::count_if(items.begin(), items.end(),
                                       [](const CheckItem& each) { return each.status == CheckStatus::Change; });
    EXPECT_EQ(changes, c.status == CheckStatus::Change ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, NetworkCheckTest,
    ::testing::Values(
        Case{"good host", [](NetworkFacts&) {}, "receive buffers", CheckStatus::Ok, nullptr},
        Case{"small receive buffers", [](NetworkFacts& f) { f.receiveBufferMax = 212992; }, "receive buffers",
             CheckStatus::Change, "net.core.rmem_max=16777216"},
        Case{"receive buffers just enough", [](NetworkFacts& f) { f.receiveBufferMax = kWantedReceiveBufferMax; },
             "receive buffers", CheckStatus::Ok, nullptr},
        Case{"unreadable receive buffers", [](NetworkFacts& f) { f.receiveBufferMax.reset(); }, "receive buffers",
             CheckStatus::Unknown, nullptr},
        Case{"strict filter on the interface", [](NetworkFacts& f) { f.interfaces[0].rpFilter = 1; },
             "reverse-path filter", CheckStatus::Change, "net.ipv4.conf.cam0.rp_filter=2"},
        Case{"strict filter for all interfaces",
             [](NetworkFacts& f) {
                 f.interfaces[0].rpFilter = 0;
                 f.allRpFilter = 1;
             },
             "reverse-path filter", CheckStatus::Change, "net.ipv4.conf.all.rp_filter=2"},
        Case{"loose for all wins over strict",
             [](NetworkFacts& f) {
                 f.interfaces[0].rpFilter = 1;
                 f.allRpFilter = 2;
             },
             "reverse-path filter", CheckStatus::Ok, nullptr},
        Case{"MTU below the cameras' packets", [](NetworkFacts& f) { f.interfaces[0].mtu = 1000; }, "MTU",
             CheckStatus::Change, "ip link set cam0 mtu 1500"},
        Case{"standard MTU", [](NetworkFacts& f) { f.interfaces[0].mtu = 1500; }, "MTU", CheckStatus::Ok, "mtu 9000"},
        Case{"packet sockets allowed", [](NetworkFacts& f) { f.packetSocketsAllowed = true; }, "packet sockets",
             CheckStatus::Ok, "shared ring"},
        Case{"packet sockets not allowed", [](NetworkFacts& f) { f.packetSocketsAllowed = false; }, "packet sockets",
             CheckStatus::Change, "setcap cap_net_raw+ep"}),
    [](const ::testing::TestParamInfo<Case>& setting) {
        QString name = QString::fromLatin1(setting.param.what);
        name.remove(QLatin1Char(' ')).remove(QLatin1Char('\''));
        return name.toStdString();
    });

void writeFile(const QDir& root, const QString& path, const char* text) {
    ASSERT_TRUE(root.mkpath(QFileInfo(root.filePath(path)).path()));
    QFile file(root.filePath(path));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

// The facts come from proc/sys and sys/class/net under the root; the loopback is left out, and an interface
// asked for alone is the only one read.
TEST(NetworkFacts, AreReadFromTheSystemsFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir root(dir.path());
    writeFile(root, QStringLiteral("proc/sys/net/core/rmem_max"), "212992\n");
    writeFile(root, QStringLiteral("proc/sys/net/ipv4/conf/all/rp_filter"), "1\n");
    writeFile(root, QStringLiteral("proc/sys/net/ipv4/conf/eth1/rp_filter"), "2\n");
    writeFile(root, QStringLiteral("sys/class/net/eth1/mtu"), "9000\n");
    writeFile(root, QStringLiteral("sys/class/net/eth2/mtu"), "garbage\n");
    writeFile(root, QStringLiteral("sys/class/net/lo/mtu"), "65536\n");

    const NetworkFacts facts = readNetworkFacts(dir.path(), QString());
    EXPECT_EQ(facts.receiveBufferMax, 212992);
    EXPECT_EQ(facts.allRpFilter, 1);
    ASSERT_EQ(facts.interfaces.size(), 2U);
    EXPECT_EQ(facts.interfaces[0].name, QStringLiteral("eth1"));
    EXPECT_EQ(facts.interfaces[0].mtu, 9000);
    EXPECT_EQ(facts.interfaces[0].rpFilter, 2);
    EXPECT_EQ(facts.interfaces[1].name, QStringLiteral("eth2"));
    EXPECT_FALSE(facts.interfaces[1].mtu.has_value()) << "an unreadable value is not a number";
    EXPECT_FALSE(facts.interfaces[1].rpFilter.has_value());

    const NetworkFacts one = readNetworkFacts(dir.path(), QStringLiteral("eth2"));
    ASSERT_EQ(one.interfaces.size(), 1U);
    EXPECT_EQ(one.interfaces[0].name, QStringLiteral("eth2"));
    EXPECT_TRUE(readNetworkFacts(dir.path(), QStringLiteral("nosuch")).interfaces.empty());
}

} // namespace
} // namespace vxcam::host
