// `vxcam check`'s look at USB3 Vision cameras: which attached devices are cameras, and whether this user may open
// them, read from a replica of the system's files.
#include "host/UsbCheck.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <unistd.h>

namespace vxcam::host {
namespace {

// A folder laid out like /sys/bus/usb/devices and /dev/bus/usb, filled by each test.
class UsbTree {
public:
    UsbTree() { EXPECT_TRUE(root_.isValid()); }

    [[nodiscard]] QString root() const { return root_.path(); }

    // A device with the given interfaces ("ef0500": class, subclass, protocol), and its device file.
    void addDevice(const QString& port, int bus, int number, const QStringList& interfaces,
                   const QString& product = QStringLiteral("Veyra V160")) {
        const QString device = QStringLiteral("sys/bus/usb/devices/%1").arg(port);
        write(device + QStringLiteral("/idVendor"), QStringLiteral("1d6b"));
        write(device + QStringLiteral("/idProduct"), QStringLiteral("0160"));
        write(device + QStringLiteral("/manufacturer"), QStringLiteral("Veyra"));
        write(device + QStringLiteral("/product"), product);
        write(device + QStringLiteral("/busnum"), QString::number(bus));
        write(device + QStringLiteral("/devnum"), QString::number(number));
        for (int i = 0; i < interfaces.size(); ++i) {
            const QString folder = QStringLiteral("sys/bus/usb/devices/%1:1.%2/").arg(port).arg(i);
            write(folder + QStringLiteral("bInterfaceClass"), interfaces[i].mid(0, 2));
            write(folder + QStringLiteral("bInterfaceSubClass"), interfaces[i].mid(2, 2));
            write(folder + QStringLiteral("bInterfaceProtocol"), interfaces[i].mid(4, 2));
        }
        write(nodeOf(bus, number), QString());
    }

    void setTransferMemory(const QString& text) const {
        write(QStringLiteral("sys/module/usbcore/parameters/usbfs_memory_mb"), text);
    }

    [[nodiscard]] static QString nodeOf(int bus, int number) {
        return QStringLiteral("dev/bus/usb/%1/%2")
            .arg(bus, 3, 10, QLatin1Char('0'))
            .arg(number, 3, 10, QLatin1Char('0'));
    }

    [[nodiscard]] QString pathOf(const QString& relative) const { return QDir(root()).filePath(relative); }

private:
    void write(const QString& relative, const QString& text) const {
        const QString path = pathOf(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8() + '\n');
    }

    QTemporaryDir root_;
};

const CheckItem* itemOf(const std::vector<CheckItem>& items, const char* name) {
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const CheckItem& item) { return item.name == QLatin1String(name); });
    return found == items.end() ? nullptr : &*found;
}

// The three interfaces of a USB3 Vision camera: control, event, streaming.
QStringList usbVisionCamera() {
    return {QStringLiteral("ef0500"), QStringLiteral("ef0501"), QStringLiteral("ef0502")};
}

TEST(UsbVisionDevices, OnlyDevicesWithAUsbVisionControlInterfaceAreCameras) {
    UsbTree tree;
    tree.addDevice(QStringLiteral("2-1"), 2, 7, usbVisionCamera());
    tree.addDevice(QStringLiteral("1-3"), 1, 4, {QStringLiteral("0e0100"), QStringLiteral("0e0200")},
                   QStringLiteral("webcam"));
    // Miscellaneous class, but not USB3 Vision's subclass: an interface association of some other device.
    tree.addDevice(QStringLiteral("1-4"), 1, 5, {QStringLiteral("ef0201")}, QStringLiteral("composite"));
    // Only the streaming interface, no control interface: not a camera the SDK can open.
    tree.addDevice(QStringLiteral("3-2"), 3, 2, {QStringLiteral("ef0502")}, QStringLiteral("stream only"));
    tree.addDevice(QStringLiteral("4-1.2"), 4, 12, usbVisionCamera(), QStringLiteral("V160 second"));

    const std::vector<UsbVisionDeviceFacts> found = readUsbFacts(tree.root()).devices;
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].port, QStringLiteral("2-1"));
    EXPECT_EQ(found[0].usbId, QStringLiteral("1d6b:0160"));
    EXPECT_EQ(found[0].description, QStringLiteral("Veyra Veyra V160"));
    EXPECT_EQ(found[0].node, QStringLiteral("/dev/bus/usb/002/007"));
    EXPECT_EQ(found[1].port, QStringLiteral("4-1.2"));
    EXPECT_EQ(found[1].node, QStringLiteral("/dev/bus/usb/004/012"));
}

TEST(UsbVisionDevices, AccessIsThatOfThisProcessToTheDeviceFile) {
    UsbTree tree;
    tree.addDevice(QStringLiteral("2-1"), 2, 7, usbVisionCamera());
    tree.addDevice(QStringLiteral("2-2"), 2, 8, usbVisionCamera());
    ASSERT_TRUE(QFile::setPermissions(tree.pathOf(UsbTree::nodeOf(2, 7)), QFileDevice::Permissions{}));
    ASSERT_TRUE(QFile::remove(tree.pathOf(UsbTree::nodeOf(2, 8))));

    const std::vector<UsbVisionDeviceFacts> found = readUsbFacts(tree.root()).devices;
    ASSERT_EQ(found.size(), 2U);
    // A file without permissions is still open to root; to anyone else it is closed.
    ASSERT_TRUE(found[0].accessible.has_value());
    EXPECT_EQ(*found[0].accessible, geteuid() == 0);
    EXPECT_FALSE(found[1].accessible.has_value()) << "a missing device file says nothing about access";
}

TEST(UsbVisionDevices, NoneFoundInAnEmptyOrMissingTree) {
    const UsbTree tree;
    EXPECT_TRUE(readUsbFacts(tree.root()).devices.empty());
    EXPECT_TRUE(readUsbFacts(tree.pathOf(QStringLiteral("nosuch"))).devices.empty());
}

struct AccessCase {
    const char* what;
    std::optional<bool> accessible;
    CheckStatus status;
    const char* value;    // a piece of what the item says
    bool adviceToInstall; // whether it names the udev rule
};

std::ostream& operator<<(std::ostream& out, const AccessCase& c) {
    return out << c.what;
}

class UsbVisionCheckTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(UsbVisionCheckTest, SaysWhetherTheUserMayOpenTheCameraAndHowToChangeIt) {
    const AccessCase& c = GetParam();
    UsbVisionDeviceFacts device{QStringLiteral("2-1"), QStringLiteral("1d6b:0160"), QStringLiteral("Veyra V160"),
                                QStringLiteral("/dev/bus/usb/002/007"), c.accessible};
    const std::vector<CheckItem> items = checkUsbVision(UsbFacts{0, {device}});
    const CheckItem* item = itemOf(items, "USB3 Vision device");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status, c.status);
    EXPECT_TRUE(item->value.contains(QLatin1String("/dev/bus/usb/002/007"))) << item->value.toStdString();
    EXPECT_TRUE(item->value.contains(QLatin1String(c.value))) << item->value.toStdString();
    EXPECT_EQ(item->advice.contains(QLatin1String(kUsbVisionUdevRule)), c.adviceToInstall)
        << item->advice.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Access, UsbVisionCheckTest,
    ::testing::Values(AccessCase{"open to this user", true, CheckStatus::Ok, "may open it", false},
                      AccessCase{"closed to this user", false, CheckStatus::Change, "may not open it", true},
                      AccessCase{"device file missing", std::nullopt, CheckStatus::Unknown, "missing", false}),
    [](const ::testing::TestParamInfo<AccessCase>& param) {
        QString name = QString::fromLatin1(param.param.what);
        name.replace(QLatin1Char(' '), QLatin1Char('_'));
        return name.toStdString();
    });

// The transfer memory limit matters once a camera is attached; without one it is only advice.
struct MemoryCase {
    const char* what;
    std::optional<int64_t> limitMb;
    bool cameraAttached;
    CheckStatus status;
    bool adviceToRaise;
};

std::ostream& operator<<(std::ostream& out, const MemoryCase& c) {
    return out << c.what;
}

class UsbTransferMemoryTest : public ::testing::TestWithParam<MemoryCase> {};

TEST_P(UsbTransferMemoryTest, IsJudgedAgainstWhatLargeFramesNeed) {
    const MemoryCase& c = GetParam();
    UsbFacts facts{c.limitMb, {}};
    if (c.cameraAttached) {
        facts.devices.push_back(UsbVisionDeviceFacts{
            QStringLiteral("2-1"), QStringLiteral("1d6b:0160"), {}, QStringLiteral("/dev/bus/usb/002/007"), true});
    }
    const std::vector<CheckItem> items = checkUsbVision(facts);
    const CheckItem* item = itemOf(items, "USB transfer memory");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status, c.status);
    EXPECT_EQ(item->advice.contains(QLatin1String("usbfs_memory_mb")), c.adviceToRaise) << item->advice.toStdString();
    const auto changes = std::count_if(items.begin(), items.end(),
                                       [](const CheckItem& each) { return each.status == CheckStatus::Change; });
    EXPECT_EQ(changes, c.status == CheckStatus::Change ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, UsbTransferMemoryTest,
    ::testing::Values(MemoryCase{"kernel default with a camera", 16, true, CheckStatus::Change, true},
                      MemoryCase{"kernel default without a camera", 16, false, CheckStatus::Ok, true},
                      MemoryCase{"raised", kWantedTransferMemoryMb, true, CheckStatus::Ok, false},
                      MemoryCase{"no limit", 0, true, CheckStatus::Ok, false},
                      MemoryCase{"unreadable", std::nullopt, true, CheckStatus::Unknown, false}),
    [](const ::testing::TestParamInfo<MemoryCase>& param) {
        QString name = QString::fromLatin1(param.param.what);
        name.replace(QLatin1Char(' '), QLatin1Char('_'));
        return name.toStdString();
    });

TEST(UsbVisionCheck, NoCameraAttachedIsNothingToChange) {
    const std::vector<CheckItem> items = checkUsbVision(UsbFacts{16, {}});
    const CheckItem* item = itemOf(items, "USB3 Vision device");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->status, CheckStatus::Ok);
    EXPECT_EQ(item->value, QStringLiteral("none attached"));
}

TEST(UsbVisionCheck, ReadsTheTransferMemoryLimit) {
    UsbTree tree;
    tree.setTransferMemory(QStringLiteral("256"));
    EXPECT_EQ(readUsbFacts(tree.root()).transferMemoryMb, std::optional<int64_t>(256));
    tree.setTransferMemory(QStringLiteral("many"));
    EXPECT_FALSE(readUsbFacts(tree.root()).transferMemoryMb.has_value());
}

// The rule the advice names is in the source tree, and matches devices by the control interface that the
// devices above are recognised by, in the form udev writes it.
TEST(UsbVisionCheck, TheNamedRuleShipsAndMatchesTheControlInterface) {
    QFile rule(QStringLiteral(VXCAM_SOURCE_DIR "/") + QLatin1String(kUsbVisionUdevRule));
    ASSERT_TRUE(rule.open(QIODevice::ReadOnly)) << rule.fileName().toStdString();
    const QString text = QString::fromUtf8(rule.readAll());
    EXPECT_TRUE(text.contains(QLatin1String("ENV{ID_USB_INTERFACES}==\"*:ef0500:*\""))) << text.toStdString();
}

} // namespace
} // namespace vxcam::host
