#include "sdk/sim/SimConfig.h"

#include "sdk/core/ConfigReader.h"
#include "sdk/core/PayloadLimit.h"
#include "sdk/core/PixelFormats.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>

namespace sdk::sim {
namespace {

using core::ConfigError;
using core::fail;
using Reader = core::ConfigReader;

constexpr double kMaxRate = 100000.0;
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxStreams = 16;

SimExposureConfig readExposure(const Reader& in) {
    in.allowOnly({"feature", "min", "max", "value"});
    SimExposureConfig exposure;
    exposure.feature = in.text(QStringLiteral("feature"), exposure.feature);
    if (exposure.feature != "ExposureTime" && exposure.feature != "ExposureTimeAbs") {
        fail(in.at(QStringLiteral("feature")), QStringLiteral("expected \"ExposureTime\" or \"ExposureTimeAbs\""));
    }
    constexpr double kLimit = std::numeric_limits<double>::max();
    exposure.min = in.number(QStringLiteral("min"), exposure.min, -kLimit, kLimit);
    exposure.max = in.number(QStringLiteral("max"), exposure.max, -kLimit, kLimit);
    exposure.value = in.number(QStringLiteral("value"), exposure.value, -kLimit, kLimit);
    if (exposure.min > exposure.max) {
        fail(in.at(QStringLiteral("min")), QStringLiteral("is greater than max"));
    }
    return exposure;
}

// A serial number is the camera's name in its identifier ("veyra SN1001"), which a host splits at the blank.
void checkSerial(const Reader& in, const std::string& serial) {
    // Taken as it stands only when the file says so: to try a host on a camera that reports such a serial.
    if (in.flag(QStringLiteral("oddSerial"))) {
        return;
    }
    if (serial.empty()) {
        fail(in.at(QStringLiteral("serial")), QStringLiteral("is empty"));
    }
    const QString text = QString::fromStdString(serial);
    for (const QChar c : text) {
        if (c.isSpace() || !c.isPrint()) {
            fail(in.at(QStringLiteral("serial")),
                 QStringLiteral("\"%1\" holds a blank or a control character; a camera identifier is the family "
                                "word, one blank and the serial number, so such a serial could not be opened "
                                "(\"oddSerial\": true simulates such a camera)")
                     .arg(text));
        }
    }
}

// The bytes one frame of the camera takes in its buffer.
uint64_t frameBytesOf(const SimDeviceConfig& device) {
    if (device.payloadSize != 0) {
        return device.payloadSize;
    }
    if (const core::PixelFormatInfo* format = core::findPixelFormat(device.pixelFormat)) {
        return core::framePayloadSize(*format, device.width, device.height);
    }
    return uint64_t{device.width} * device.height; // one byte a pixel, as the camera's buffers get
}

SimDeviceConfig readDevice(const Reader& in) {
    in.allowOnly(
        {"serial",          "oddSerial",      "repeatedSerial", "model",    "pixelFormat", "unknownPixelFormat",
         "width",           "height",         "frameRate",      "lineRate", "streams",     "firstFrameId",
         "payloadSize",     "triggerSources", "exposure",       "absent",   "readOnly",    "unavailable",
         "incompleteRatio", "nullStreamList", "nullBufferList"});
    SimDeviceConfig device;
    device.serial = in.text(QStringLiteral("serial"), {}, true);
    checkSerial(in, device.serial);
    device.model = in.text(QStringLiteral("model"), device.model);
    device.pixelFormat = in.text(QStringLiteral("pixelFormat"), device.pixelFormat);
    if (device.pixelFormat.empty()) {
        fail(in.at(QStringLiteral("pixelFormat")), QStringLiteral("is empty"));
    }
    // A format the SDK layer does not know is taken only when the file says so: to try a host on such a
    // camera. Otherwise it is a misspelling ("Mono9", "mono8") that would give frames nobody can read.
    const bool unknownAllowed = in.flag(QStringLiteral("unknownPixelFormat"));
    const bool known = core::findPixelFormat(device.pixelFormat) != nullptr;
    if (!known && !unknownAllowed) {
        fail(in.at(QStringLiteral("pixelFormat")),
             QStringLiteral("\"%1\" is not a pixel format the SDK layer knows (names as GenICam spells them, such "
                            "as Mono8, Mono12, BayerRG8, RGB8, YUV422Packed); \"unknownPixelFormat\": true "
                            "simulates a camera with a format of its own")
                 .arg(QString::fromStdString(device.pixelFormat)));
    }
    if (known && unknownAllowed) {
        fail(in.at(QStringLiteral("unknownPixelFormat")), QStringLiteral("\"%1\" is a pixel format the SDK layer knows")
                                                              .arg(QString::fromStdString(device.pixelFormat)));
    }
    device.width = static_cast<uint32_t>(in.integer(QStringLiteral("width"), device.width, 1, kMaxSide));
    device.height = static_cast<uint32_t>(in.integer(QStringLiteral("height"), device.height, 1, kMaxSide));
    device.frameRate = in.number(QStringLiteral("frameRate"), device.frameRate, 0.0, kMaxRate);
    device.lineRate = in.number(QStringLiteral("lineRate"), device.lineRate, 0.0, kMaxRate);
    device.streams = static_cast<uint32_t>(in.integer(QStringLiteral("streams"), device.streams, 0, kMaxStreams));
    device.firstFrameId = in.integer(QStringLiteral("firstFrameId"), 0, 0, std::numeric_limits<uint64_t>::max(), true);
    device.payloadSize = in.integer(QStringLiteral("payloadSize"), 0, 0, core::kMaxFrameBytes);
    const std::string frame =
        std::to_string(device.width) + " x " + std::to_string(device.height) + " " + device.pixelFormat + " frame";
    if (const std::optional<std::string> refusal = core::frameSizeRefusal(frameBytesOf(device), "a " + frame)) {
        fail(in.where(), QString::fromStdString(*refusal));
    }
    device.triggerSources = in.texts(QStringLiteral("triggerSources"), device.triggerSources);
    if (in.has(QStringLiteral("exposure"))) {
        device.exposure = readExposure(in.object(QStringLiteral("exposure")));
    }
    device.absent = in.texts(QStringLiteral("absent"), {});
    device.readOnly = in.texts(QStringLiteral("readOnly"), {});
    device.unavailable = in.texts(QStringLiteral("unavailable"), {});
    device.incompleteRatio = in.number(QStringLiteral("incompleteRatio"), 0.0, 0.0, 1.0);
    device.nullStreamList = in.flag(QStringLiteral("nullStreamList"));
    device.nullBufferList = in.flag(QStringLiteral("nullBufferList"));
    return device;
}

// Serial numbers name cameras across the whole file: a second camera of the same serial could never be opened.
// A repeat is taken only when the entry says so: one camera reached on two paths.
void checkUniqueSerial(std::map<std::string, QString>& serials, const Reader& in, const std::string& serial) {
    const auto [first, inserted] = serials.emplace(serial, in.at(QStringLiteral("serial")));
    const bool repeatMeant = in.flag(QStringLiteral("repeatedSerial"));
    if (!inserted && !repeatMeant) {
        fail(in.at(QStringLiteral("serial")),
             QStringLiteral(
                 "\"%1\" is the serial of %2 already; each camera "
                 "needs a serial number of its own (\"repeatedSerial\": true simulates one camera on two paths)")
                 .arg(QString::fromStdString(serial), first->second));
    }
}

SimConfig readConfig(const Reader& root) {
    root.allowOnly({"systems", "faults", "nullSystemList"});
    SimConfig config;
    std::map<std::string, QString> serials; // where each serial was first seen
    config.nullSystemList = root.flag(QStringLiteral("nullSystemList"));
    root.objects(QStringLiteral("systems"), [&](const Reader& systemIn, int s) {
        systemIn.allowOnly({"id", "interfaces", "nullInterfaceList"});
        SimSystemConfig system;
        system.id = systemIn.text(QStringLiteral("id"), "sim" + std::to_string(s));
        system.nullInterfaceList = systemIn.flag(QStringLiteral("nullInterfaceList"));
        systemIn.objects(QStringLiteral("interfaces"), [&](const Reader& interfaceIn, int i) {
            interfaceIn.allowOnly({"id", "devices", "nullDeviceList"});
            SimInterfaceConfig iface;
            iface.id = interfaceIn.text(QStringLiteral("id"), "if" + std::to_string(i));
            iface.nullDeviceList = interfaceIn.flag(QStringLiteral("nullDeviceList"));
            interfaceIn.objects(QStringLiteral("devices"), [&](const Reader& deviceIn, int) {
                iface.devices.push_back(readDevice(deviceIn));
                checkUniqueSerial(serials, deviceIn, iface.devices.back().serial);
            });
            system.interfaces.push_back(std::move(iface));
        });
        config.systems.push_back(std::move(system));
    });
    root.objects(QStringLiteral("faults"), [&](const Reader& faultIn, int) {
        faultIn.allowOnly({"call", "nth", "times", "every", "match", "description", "type"});
        config.faults.push_back(core::readFaultRule(faultIn));
    });
    return config;
}

} // namespace

std::optional<SimConfig> parseSimConfig(const QByteArray& json, QString& error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        error = QStringLiteral("not valid JSON: %1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return std::nullopt;
    }
    if (!document.isObject()) {
        error = QStringLiteral("the top level must be a JSON object");
        return std::nullopt;
    }
    try {
        return readConfig(Reader(document.object(), QStringLiteral("$")));
    } catch (const ConfigError& e) {
        error = e.message;
        return std::nullopt;
    }
}

std::optional<SimConfig> loadSimConfig(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    return parseSimConfig(file.readAll(), error);
}

} // namespace sdk::sim
