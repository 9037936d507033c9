#include "host/UsbCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace vxcam::host {
namespace {

QString textIn(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).trimmed();
}

// The kernel names an interface folder "DEVICE:CONFIGURATION.INTERFACE"; USB3 Vision's control interface is
// class EF (miscellaneous), subclass 05, protocol 00, written in lower-case hex.
bool isUsbVisionControlInterface(const QDir& interfaceDir) {
    return textIn(interfaceDir.filePath(QStringLiteral("bInterfaceClass"))) == QLatin1String("ef") &&
           textIn(interfaceDir.filePath(QStringLiteral("bInterfaceSubClass"))) == QLatin1String("05") &&
           textIn(interfaceDir.filePath(QStringLiteral("bInterfaceProtocol"))) == QLatin1String("00");
}

UsbVisionDeviceFacts describeDevice(const QDir& base, const QString& port) {
    const QDir device(base.filePath(QStringLiteral("sys/bus/usb/devices/%1").arg(port)));
    UsbVisionDeviceFacts facts;
    facts.port = port;
    facts.usbId = QStringLiteral("%1:%2").arg(textIn(device.filePath(QStringLiteral("idVendor"))),
                                              textIn(device.filePath(QStringLiteral("idProduct"))));
    facts.description = QStringList{textIn(device.filePath(QStringLiteral("manufacturer"))),
                                    textIn(device.filePath(QStringLiteral("product")))}
                            .join(QLatin1Char(' '))
                            .trimmed();
    bool busOk = false;
    bool deviceOk = false;
    const int bus = textIn(device.filePath(QStringLiteral("busnum"))).toInt(&busOk);
    const int number = textIn(device.filePath(QStringLiteral("devnum"))).toInt(&deviceOk);
    if (!busOk || !deviceOk) {
        return facts;
    }
    const QString relative =
        QStringLiteral("dev/bus/usb/%1/%2").arg(bus, 3, 10, QLatin1Char('0')).arg(number, 3, 10, QLatin1Char('0'));
    facts.node = QLatin1Char('/') + relative;
    const QFileInfo node(base.filePath(relative));
    if (node.exists()) {
        facts.accessible = node.isReadable() && node.isWritable();
    }
    return facts;
}

QString installAdvice() {
    return QStringLiteral("this user cannot open the camera, so it is not listed; install the project's udev rule "
                          "and plug the camera in again: sudo cp %1 /etc/udev/rules.d/ && sudo udevadm control "
                          "--reload && sudo udevadm trigger (the rule gives the group plugdev and the user at the "
                          "machine's seat access; add others with: sudo usermod -aG plugdev USER)")
        .arg(QLatin1String(kUsbVisionUdevRule));
}

CheckItem deviceItem(const UsbVisionDeviceFacts& device) {
    CheckItem item{QStringLiteral("USB3 Vision device"), {}, CheckStatus::Ok, {}, {}};
    const QString who = QStringLiteral("%1 (%2) at %3")
                            .arg(device.description.isEmpty() ? QStringLiteral("unnamed") : device.description,
                                 device.usbId, device.node.isEmpty() ? device.port : device.node);
    if (!device.accessible) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("%1: its device file is missing").arg(who);
        return item;
    }
    if (*device.accessible) {
        item.value = QStringLiteral("%1: this user may open it").arg(who);
        return item;
    }
    item.status = CheckStatus::Change;
    item.value = QStringLiteral("%1: this user may not open it").arg(who);
    item.advice = installAdvice();
    return item;
}

std::vector<UsbVisionDeviceFacts> readUsbVisionDevices(const QDir& base) {
    const QDir devices(base.filePath(QStringLiteral("sys/bus/usb/devices")));
    QStringList ports;
    for (const QString& name : devices.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System, QDir::Name)) {
        const int colon = name.indexOf(QLatin1Char(':'));
        if (colon <= 0 || !isUsbVisionControlInterface(QDir(devices.filePath(name)))) {
            continue;
        }
        const QString port = name.left(colon);
        if (!ports.contains(port)) {
            ports << port;
        }
    }
    std::vector<UsbVisionDeviceFacts> found;
    for (const QString& port : ports) {
        found.push_back(describeDevice(base, port));
    }
    return found;
}

// Programs may hold this much memory for USB transfers; past it the kernel refuses transfers, and a camera's
// stream stalls. Judged only with a camera attached: the limit is harmless to hosts without one.
CheckItem transferMemory(const UsbFacts& facts) {
    CheckItem item{QStringLiteral("USB transfer memory"), {}, CheckStatus::Ok, {}, {}};
    if (!facts.transferMemoryMb) {
        item.status = CheckStatus::Unknown;
        item.value = QStringLiteral("usbcore.usbfs_memory_mb unreadable");
        return item;
    }
    item.value = *facts.transferMemoryMb == 0
                     ? QStringLiteral("usbcore.usbfs_memory_mb 0 (no limit)")
                     : QStringLiteral("usbcore.usbfs_memory_mb %1").arg(*facts.transferMemoryMb);
    if (*facts.transferMemoryMb == 0 || *facts.transferMemoryMb >= kWantedTransferMemoryMb) {
        return item;
    }
    const QString raise = QStringLiteral("raise it: echo %1 | sudo tee /sys/module/usbcore/parameters/usbfs_memory_mb "
                                         "(and add usbcore.usbfs_memory_mb=%1 to the kernel's command line to keep it)")
                              .arg(kWantedTransferMemoryMb);
    if (facts.devices.empty()) {
        item.advice =
            QStringLiteral("enough without a USB3 Vision camera; before fast cameras with large frames, ") + raise;
        return item;
    }
    item.status = CheckStatus::Change;
    item.advice =
        QStringLiteral("a stream of large frames needs more in flight, or the kernel refuses its transfers; ") + raise;
    return item;
}

} // namespace

UsbFacts readUsbFacts(const QString& root) {
    const QDir base(root);
    UsbFacts facts;
    bool ok = false;
    const int64_t limit =
        textIn(base.filePath(QStringLiteral("sys/module/usbcore/parameters/usbfs_memory_mb"))).toLongLong(&ok);
    if (ok) {
        facts.transferMemoryMb = limit;
    }
    facts.devices = readUsbVisionDevices(base);
    return facts;
}

std::vector<CheckItem> checkUsbVision(const UsbFacts& facts) {
    std::vector<CheckItem> items{transferMemory(facts)};
    if (facts.devices.empty()) {
        items.push_back(
            CheckItem{QStringLiteral("USB3 Vision device"), {}, CheckStatus::Ok, QStringLiteral("none attached"), {}});
    }
    for (const UsbVisionDeviceFacts& device : facts.devices) {
        items.push_back(deviceItem(device));
    }
    return items;
}

} // namespace vxcam::host
