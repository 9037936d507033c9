#include "sdk/core/ConfigReader.h"

#include <QFile>
#include <QJsonDocument>
#include <QStringList>

#include <algorithm>
#include <limits>
#include <vector>

namespace sdk::core {
namespace {

// Edits (insertions, deletions, substitutions, case ignored) that turn `a` into `b`.
int editDistance(const QString& a, const QString& b) {
    const QString x = a.toLower();
    const QString y = b.toLower();
    std::vector<int> row(static_cast<std::size_t>(y.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j) {
        row[j] = static_cast<int>(j);
    }
    for (int i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.size(); ++j) {
            const auto col = static_cast<std::size_t>(j);
            const int above = row[col];
            row[col] = std::min({row[col] + 1, row[col - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row.back();
}

} // namespace

void ConfigReader::allowOnly(std::initializer_list<const char*> known) const {
    constexpr int kLikelyTypo = 2;
    for (auto it = m_object.begin(); it != m_object.end(); ++it) {
        const QString& key = it.key();
        QStringList names;
        QString resembled;
        for (const char* name : known) {
            const QString knownKey = QLatin1String(name);
            if (knownKey == key) {
                names.clear();
                break;
            }
            names << knownKey;
            if (resembled.isEmpty() && editDistance(key, knownKey) <= kLikelyTypo) {
                resembled = knownKey;
            }
        }
        if (names.isEmpty()) {
            continue;
        }
        fail(at(key), resembled.isEmpty()
                          ? QStringLiteral("unknown key; the keys here are %1").arg(names.join(QStringLiteral(", ")))
                          : QStringLiteral("unknown key; did you mean \"%1\"?").arg(resembled));
    }
}

FaultRule readFaultRule(const ConfigReader& in) {
    FaultRule fault;
    fault.call = in.text(QStringLiteral("call"), {}, true);
    fault.nth = in.integer(QStringLiteral("nth"), 1, 1, std::numeric_limits<uint32_t>::max());
    fault.times = in.integer(QStringLiteral("times"), 1, 0, std::numeric_limits<uint32_t>::max());
    fault.every = in.integer(QStringLiteral("every"), 0, 0, std::numeric_limits<uint32_t>::max());
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
