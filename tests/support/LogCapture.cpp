#include "tests/support/LogCapture.h"

#include <condition_variable>

namespace vxcam::test {
namespace {
// Guards g_lines and g_active: the SDK's delivery threads log too.
std::mutex g_mutex;
std::condition_variable g_logged; // a line was added
std::vector<LogLine> g_lines;
LogCapture* g_active = nullptr;

QStringList textsAt(QtMsgType type) {
    QStringList result;
    for (const LogLine& line : g_lines) {
        if (line.type == type) {
            result << line.text;
        }
    }
    return result;
}
} // namespace

LogCapture::LogCapture() {
    const std::lock_guard lock(g_mutex);
    g_lines.clear();
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture() {
    qInstallMessageHandler(m_previous);
    const std::lock_guard lock(g_mutex);
    g_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    const std::lock_guard lock(g_mutex);
    if (g_active != nullptr) {
        const bool hasContext = context.file != nullptr || context.line != 0 || context.function != nullptr;
        g_lines.push_back({type, QString::fromLatin1(context.category), text, hasContext});
        g_logged.notify_all();
    }
}

std::vector<LogLine> LogCapture::lines() const {
    const std::lock_guard lock(g_mutex);
    return g_lines;
}

QStringList LogCapture::texts(QtMsgType type) const {
    const std::lock_guard lock(g_mutex);
    return textsAt(type);
}

bool LogCapture::waitFor(QtMsgType type, const std::function<bool(const QStringList&)>& done,
                         std::chrono::milliseconds timeout) const {
    std::unique_lock lock(g_mutex);
    return g_logged.wait_for(lock, timeout, [&] { return done(textsAt(type)); });
}

void LogCapture::clear() {
    const std::lock_guard lock(g_mutex);
    g_lines.clear();
}

QStringList sdkErrorLines(const QString& type, const QString& description, const QString& function,
                          const QString& method) {
    const QString suffix = QStringLiteral(" - CCameraVeyra::") + method;
    return {QStringLiteral("ExceptionType:      ") + type + QLatin1Char(' ') + suffix,
            QStringLiteral("ErrorDescription:   ") + description + QLatin1Char(' ') + suffix,
            QStringLiteral("in function:        ") + function + QLatin1Char(' ') + suffix};
}

} // namespace vxcam::test
