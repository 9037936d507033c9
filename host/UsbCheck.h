// `vxcam check`'s look at USB3 Vision cameras: the devices attached, and whether this user may open them. A camera
// that this user cannot open is not listed at all, so its access is the first thing to check. The facts are read
// from the system's files (a root folder that tests replace), the judgement is a pure function of them.
#pragma once

#include "host/NetworkCheck.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace vxcam::host {

struct UsbVisionDeviceFacts {
    QString port;        // the kernel's name of the USB device, "2-1.4"
    QString usbId;       // "vendor:product" in hex, as lsusb prints it
    QString description; // "maker product", as far as the device names itself
    QString node;        // the device's file, "/dev/bus/usb/002/007"
    // Whether this process may read and write the device's file; unset when the file is missing.
    std::optional<bool> accessible;
};

struct UsbFacts {
    // The kernel's limit of the memory that programs may hold for USB transfers, in MiB; 0 is no limit. A stream
    // of large frames needs several frames' worth in flight.
    std::optional<int64_t> transferMemoryMb;
    std::vector<UsbVisionDeviceFacts> devices;
};

// The USB facts below `root` ("/" for this host): the transfer memory limit, and the devices that have a USB3
// Vision control interface (class EF, subclass 05, protocol 00), in the kernel's order of names.
[[nodiscard]] UsbFacts readUsbFacts(const QString& root);

// The transfer memory limit, then one item for each camera, or one saying that none is attached.
[[nodiscard]] std::vector<CheckItem> checkUsbVision(const UsbFacts& facts);

// The transfer memory that fast cameras with large frames need, in MiB.
inline constexpr int64_t kWantedTransferMemoryMb = 1000;

// Where the udev rule that opens USB3 Vision cameras to users lives in the source tree.
inline constexpr const char* kUsbVisionUdevRule = "packaging/udev/70-vxcam-usb3vision.rules";

} // namespace vxcam::host
