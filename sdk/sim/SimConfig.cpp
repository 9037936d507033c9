#include "sdk/sim/SimConfig.h"

#include "sdk/core/PixelFormats.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <limits>

namespace sdk::sim {
namespace {

// Raised inside the parser only; carries the JSON path of the offending value.
struct ConfigError {
    QString message;
};

[[noreturn]] void fail(const QString& where, const QString& what) {
    throw ConfigError{where + QStringLiteral(": ") + what};
}

class Reader {
public:
    Reader(QJsonObject object, QString where) : m_object(std::move(object)), m_where(std::move(where)) {}

    [[nodiscard]] QString at(const QString& key) const { return m_where + QLatin1Char('.') + key; }
    [[nodiscard]] bool has(const QString& key) const { return m_object.contains(key); }

    [[nodiscard]] std::string text(const QString& key, const std::string& fallback, bool required = false) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            if (required) {
                fail(at(key), QStringLiteral("missing"));
            }
            return fallback;
        }
        if (!value.isString()) {
            fail(at(key), QStringLiteral("expected a string"));
        }
        return value.toString().toStdString();
    }

    [[nodiscard]] double number(const QString& key, double fallback, double min, double max) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            return fallback;
        }
        if (!value.isDouble()) {
            fail(at(key), QStringLiteral("expected a number"));
        }
        const double number = value.toDouble();
        if (!std::isfinite(number) || number < min || number > max) {
            fail(at(key), QStringLiteral("%1 is outside %2..%3").arg(number).arg(min).arg(max));
        }
        return number;
    }

    // `textAllowed`: the value may also be a decimal string, for numbers past what a JSON number holds exactly.
    [[nodiscard]] uint64_t integer(const QString& key, uint64_t fallback, uint64_t min, uint64_t max,
                                   bool textAllowed = false) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            return fallback;
        }
        if (textAllowed && value.isString()) {
            bool ok = false;
            const qulonglong parsed = value.toString().toULongLong(&ok);
            if (!ok || parsed < min || parsed > max) {
                fail(at(key), QStringLiteral("expected an integer in %1..%2").arg(min).arg(max));
            }
            return parsed;
        }
        // Doubles hold every integer up to 2^53 exactly; larger ones must come as strings.
        constexpr double kExactLimit = 9007199254740992.0;
        const double number = value.toDouble(-1.0);
        if (!value.isDouble() || number != std::floor(number) || number < static_cast<double>(min) ||
            number > static_cast<double>(max) || number > kExactLimit) {
            fail(at(key), QStringLiteral("expected an integer in %1..%2").arg(min).arg(max));
        }
        return static_cast<uint64_t>(number);
    }

    [[nodiscard]] bool flag(const QString& key) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            return false;
        }
        if (!value.isBool()) {
            fail(at(key), QStringLiteral("expected true or false"));
        }
        return value.toBool();
    }

    [[nodiscard]] std::vector<std::string> texts(const QString& key, std::vector<std::string> fallback) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            return fallback;
        }
        if (!value.isArray()) {
            fail(at(key), QStringLiteral("expected an array of strings"));
        }
        std::vector<std::string> result;
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i) {
            if (!array.at(i).isString()) {
                fail(at(key) + QStringLiteral("[%1]").arg(i), QStringLiteral("expected a string"));
            }
            result.push_back(array.at(i).toString().toStdString());
        }
        return result;
    }

    // Each element of the array `key`, as an object, with its JSON path.
    template <typename Visit>
    void objects(const QString& key, Visit visit) const {
        const QJsonValue value = m_object.value(key);
        if (value.isUndefined()) {
            return;
        }
        if (!value.isArray()) {
            fail(at(key), QStringLiteral("expected an array"));
        }
        const QJsonArray array = value.toArray();
        for (int i = 0; i < array.size(); ++i) {
            const QString where = at(key) + QStringLiteral("[%1]").arg(i);
            if (!array.at(i).isObject()) {
                fail(where, QStringLiteral("expected an object"));
            }
            visit(Reader(array.at(i).toObject(), where), i);
        }
    }

    [[nodiscard]] Reader object(const QString& key) const {
        const QJsonValue value = m_object.value(key);
        if (!value.isObject()) {
            fail(at(key), QStringLiteral("expected an object"));
        }
        return {value.toObject(), at(key)};
    }

private:
    QJsonObject m_object;
    QString m_where;
};

constexpr double kMaxRate = 100000.0;
constexpr uint64_t kMaxSide = 65535;
constexpr uint64_t kMaxStreams = 16;
constexpr uint64_t kMaxPayload = uint64_t{1} << 30;

// Bytes of one frame as the simulated device sizes its buffers without a payloadSize: one byte a pixel for a
// format the SDK does not know.
uint64_t frameBytes(const SimDeviceConfig& device) {
    if (const core::PixelFormatInfo* format = core::findPixelFormat(device.pixelFormat)) {
        return core::framePayloadSize(*format, device.width, device.height);
    }
    return uint64_t{device.width} * device.height;
}

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
    // The camera renders its frame once, when the SDK builds it: a frame past the payload limit would take
    // gigabytes (65535 x 65535 in 12 bits is 6 GiB) at GetInstance().
    if (device.payloadSize == 0 && frameBytes(device) > kMaxPayload) {
        fail(in.at(QStringLiteral("width")),
             QStringLiteral("a %1 x %2 frame needs %3 bytes, more than %4; set a smaller size or payloadSize")
                 .arg(device.width)
                 .arg(device.height)
                 .arg(frameBytes(device))
                 .arg(kMaxPayload));
    }
    device.triggerSources = in.texts(QStringLiteral("triggerSources"), device.triggerSources);
    if (in.has(QStringLiteral("exposure"))) {
        device.exposure = readExposure(in.object(QStringLiteral("exposure")));
    }
    device.absent = in.texts(QStringLiteral("absent"), {});
    device.nullStreamList = in.flag(QStringLiteral("nullStreamList"));
    device.nullBufferList = in.flag(QStringLiteral("nullBufferList"));
    return device;
}

core::FaultRule readFault(const Reader& in) {
    core::FaultRule fault;
    fault.call = in.text(QStringLiteral("call"), {}, true);
    fault.nth = in.integer(QStringLiteral("nth"), 1, 1, std::numeric_limits<uint32_t>::max());
    fault.times = in.integer(QStringLiteral("times"), 1, 0, std::numeric_limits<uint32_t>::max());
    fault.every = in.integer(QStringLiteral("every"), 0, 0, std::numeric_limits<uint32_t>::max());
    fault.match = in.text(QStringLiteral("match"), {});
    fault.description = in.text(QStringLiteral("description"), "injected fault");
    fault.type = in.text(QStringLiteral("type"), fault.type);
    return fault;
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
                 [&](const Reader& faultIn, int) { config.faults.push_back(readFault(faultIn)); });
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
