#include "sdk/core/ConfigReader.h"

#include <QFile>
#include <QJsonDocument>

#include <limits>

namespace sdk::core {

FaultRule readFaultRule(const ConfigReader& in) {
    FaultRule fault;
    fault.call = in.text(QStringLiteral("call"), {}, true);
    fault.nth = in.integer(QStringLiteral("nth"), 1, 1, std::numeric_limits<uint32_t>::max());
    fault.times = in.integer(QStringLiteral("times"), 1, 0, std::numeric_limits<uint32_t>::max());
    fault.match = in.text(QStringLiteral("match"), {});
    fault.description = in.text(QStringLiteral("description"), "injected fault");
    fault.type = in.text(QStringLiteral("type"), fault.type);
    return fault;
}

std::optional<std::vector<FaultRule>> loadFaultRules(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot be read: %1").arg(file.errorString());
        return std::nullopt;
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        error = QStringLiteral("is not a JSON object");
        return std::nullopt;
    }
    std::vector<FaultRule> rules;
    try {
        ConfigReader(document.object(), QStringLiteral("$"))
            .objects(QStringLiteral("faults"),
                     [&](const ConfigReader& in, int) { rules.push_back(readFaultRule(in)); });
    } catch (const ConfigError& e) {
        error = e.message;
        return std::nullopt;
    }
    return rules;
}

} // namespace sdk::core
