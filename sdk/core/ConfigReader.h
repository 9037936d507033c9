// Reading the SDK's JSON configuration files: typed values with their JSON path in every error message.
#pragma once

#include "sdk/core/CallGate.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace sdk::core {

// Raised inside the parser only; carries the JSON path of the offending value.
struct ConfigError {
    QString message;
};

[[noreturn]] inline void fail(const QString& where, const QString& what) {
    throw ConfigError{where + QStringLiteral(": ") + what};
}

class ConfigReader {
public:
    ConfigReader(QJsonObject object, QString where) : m_object(std::move(object)), m_where(std::move(where)) {}

    [[nodiscard]] QString at(const QString& key) const { return m_where + QLatin1Char('.') + key; }

    // Fails on the first key of the object that is not one of `known`: a misspelled key ("widht") would
    // otherwise leave its default in place without a word. The message proposes the known key it resembles.
    void allowOnly(std::initializer_list<const char*> known) const;
    [[nodiscard]] const QString& where() const noexcept { return m_where; }
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
            visit(ConfigReader(array.at(i).toObject(), where), i);
        }
    }

    [[nodiscard]] ConfigReader object(const QString& key) const {
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

// One entry of a "faults" list: the rule an SDK call is failed by.
[[nodiscard]] FaultRule readFaultRule(const ConfigReader& in);

// The "faults" list of the JSON file at `path`; nothing, with `error` set, when the file or the list cannot be
// used. A file without the list gives no rules.
[[nodiscard]] std::optional<std::vector<FaultRule>> loadFaultRules(const QString& path, QString& error);

} // namespace sdk::core
