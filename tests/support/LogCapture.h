// Captures the Qt log lines of a test while it lives, and gives them back as (level, text) records.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

namespace vxcam::test {

struct LogLine {
    QtMsgType type;
    QString category;
    QString text;
    bool hasContext; // a file, line or function was attached
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    [[nodiscard]] std::vector<LogLine> lines() const;
    // The texts of the lines at `type`, in order.
    [[nodiscard]] QStringList texts(QtMsgType type) const;
    void clear();
    // Waits until `done` holds for the texts at `type` (checked at every new line); false on timeout.
    [[nodiscard]] bool waitFor(QtMsgType type, const std::function<bool(const QStringList&)>& done,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& text);
    QtMessageHandler m_previous;
};

// The three critical lines the driver writes for one SDK error raised in `function` with `type` and
// `description`, reported under `method`.
QStringList sdkErrorLines(const QString& type, const QString& description, const QString& function,
                          const QString& method);

} // namespace vxcam::test
