#include "host/SimulatedCamera.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>

namespace vxcam::host {
namespace {

// The simulation is in use when VXCAM_TRANSPORTS names it, or, unset, when VXCAM_SIM_CONFIG is set.
bool simulationInUse() {
    const QString transports = qEnvironmentVariable("VXCAM_TRANSPORTS");
    if (transports.trimmed().isEmpty()) {
        return true;
    }
    const QStringList names = transports.split(QLatin1Char(','));
    return std::any_of(names.begin(), names.end(),
                       [](const QString& name) { return name.trimmed() == QLatin1String("sim"); });
}

int32_t sideOf(const QJsonObject& device, const QString& key, int32_t fallback) {
    const QJsonValue value = device.value(key);
    return value.isDouble() ? value.toInt(fallback) : fallback;
}

SimulatedCamera cameraFrom(const QJsonObject& device, const QString& path) {
    SimulatedCamera camera;
    camera.pixelFormat = device.value(QStringLiteral("pixelFormat")).toString(QStringLiteral("Mono8"));
    camera.width = sideOf(device, QStringLiteral("width"), 640);
    camera.height = sideOf(device, QStringLiteral("height"), 480);
    const double payload = device.value(QStringLiteral("payloadSize")).toDouble(0.0);
    camera.payloadSize = payload > 0.0 ? static_cast<uint64_t>(payload) : 0;
    camera.configPath = path;
    return camera;
}

QJsonArray arrayOf(const QJsonObject& object, const char* key) {
    return object.value(QLatin1String(key)).toArray();
}

} // namespace

QString serialOf(const QString& cameraId) {
    return cameraId.split(QLatin1Char(' ')).value(1);
}

std::optional<SimulatedCamera> findSimulatedCamera(const QString& serial) {
    const QString path = qEnvironmentVariable("VXCAM_SIM_CONFIG");
    if (path.isEmpty() || serial.isEmpty() || !simulationInUse()) {
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    for (const QJsonValue system : arrayOf(document.object(), "systems")) {
        for (const QJsonValue link : arrayOf(system.toObject(), "interfaces")) {
            for (const QJsonValue device : arrayOf(link.toObject(), "devices")) {
                const QJsonObject entry = device.toObject();
                if (entry.value(QStringLiteral("serial")).toString() == serial) {
                    return cameraFrom(entry, path);
                }
            }
        }
    }
    return std::nullopt;
}

} // namespace vxcam::host
