#include "sdk/sim/SimConfig.h"

#include "sdk/core/ConfigReader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace sdk::sim {
namespace {

using core::ConfigError;
using core::fail;
using Reader = core::ConfigReader;

constexpr double kMaxRate = 100000.0;
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxStreams = 16;
constexpr uint64_t kMaxPayload = uint64_t{1} << 30;

SimExposureConfig readExposure(const Reader& in) {
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

SimDeviceConfig readDevice(const Reader& in) {
    SimDeviceConfig device;
    device.serial = in.text(QStringLiteral("serial"), {}, true);
    device.model = in.text(QStringLiteral("model"), device.model);
    device.pixelFormat = in.text(QStringLiteral("pixelFormat"), device.pixelFormat);
    if (device.pixelFormat.empty()) {
        fail(in.at(QStringLiteral("pixelFormat")), QStringLiteral("is empty"));
    }
    device.width = static_cast<uint32_t>(in.integer(QStringLiteral("width"), device.width, 1, kMaxSide));
    device.height = static_cast<uint32_t>(in.integer(QStringLiteral("height"), device.height, 1, kMaxSide));
    device.frameRate = in.number(QStringLiteral("frameRate"), device.frameRate, 0.0, kMaxRate);
    device.lineRate = in.number(QStringLiteral("lineRate"), device.lineRate, 0.0, kMaxRate);
    device.streams = static_cast<uint32_t>(in.integer(QStringLiteral("streams"), device.streams, 0, kMaxStreams));
    device.firstFrameId = in.integer(QStringLiteral("firstFrameId"), 0, 0, std::numeric_limits<uint64_t>::max(), true);
    device.payloadSize = in.integer(QStringLiteral("payloadSize"), 0, 0, kMaxPayload);
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

SimConfig readConfig(const Reader& root) {
    SimConfig config;
    config.nullSystemList = root.flag(QStringLiteral("nullSystemList"));
    root.objects(QStringLiteral("systems"), [&](const Reader& systemIn, int s) {
        SimSystemConfig system;
        system.id = systemIn.text(QStringLiteral("id"), "sim" + std::to_string(s));
        system.nullInterfaceList = systemIn.flag(QStringLiteral("nullInterfaceList"));
        systemIn.objects(QStringLiteral("interfaces"), [&](const Reader& interfaceIn, int i) {
            SimInterfaceConfig iface;
            iface.id = interfaceIn.text(QStringLiteral("id"), "if" + std::to_string(i));
            iface.nullDeviceList = interfaceIn.flag(QStringLiteral("nullDeviceList"));
            interfaceIn.objects(QStringLiteral("devices"),
                                [&](const Reader& deviceIn, int) { iface.devices.push_back(readDevice(deviceIn)); });
            system.interfaces.push_back(std::move(iface));
        });
        config.systems.push_back(std::move(system));
    });
    root.objects(QStringLiteral("faults"),
                 [&](const Reader& faultIn, int) { config.faults.push_back(core::readFaultRule(faultIn)); });
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
