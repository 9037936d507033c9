#include "host/Console.h"

#include "host/HostPlatform.h"

#include <QByteArray>

#include <cstdio>
#include <utility>

namespace vxcam::host {
namespace {

// Written by the module at warning level on every Camera_Create and IOpenCamera; they say nothing went wrong.
bool isRoutineNote(const QString& text) {
    return text == QLatin1String("create veyra camera...") || text == QLatin1String("start open veyra camera...");
}

// Qt's own notes on its platform (no runtime folder, window hints the offscreen platform ignores) come in the
// default category below critical; the module and the SDK log in categories of their own.
bool isQtNote(QtMsgType type, const QMessageLogContext& context) {
    const bool defaultCategory = context.category == nullptr || qstrcmp(context.category, "default") == 0;
    return defaultCategory && type != QtCriticalMsg && type != QtFatalMsg;
}

const char* levelName(QtMsgType type) {
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        return "fatal";
    }
    return "log";
}

} // namespace

Console& Console::instance() {
    static Console console;
    return console;
}

Console::Console() : m_bTerminal(platform::isTerminal(stderr)) {}

void Console::takeOverLogging() {
    qInstallMessageHandler(&Console::handleLogLine);
}

void Console::setVerbose(bool verbose) noexcept {
    m_bVerbose.store(verbose, std::memory_order_relaxed);
}

void Console::handleLogLine(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    Console& console = instance();
    console.keepModuleError(type, text);
    console.keepSdkWarning(type, context, text);
    const bool verbose = console.m_bVerbose.load(std::memory_order_relaxed);
    if (!verbose && (type == QtDebugMsg || type == QtInfoMsg || isRoutineNote(text) || isQtNote(type, context))) {
        return;
    }
    const QString category = context.category != nullptr ? QString::fromLatin1(context.category) : QString();
    const QString line = QStringLiteral("[%1 %2] %3\n").arg(category, QLatin1String(levelName(type)), text);
    if (!verbose && !console.firstShowing(line)) {
        return;
    }
    console.message(line);
}

// A failing camera repeats the same lines for every frame; one of each says as much.
bool Console::firstShowing(const QString& line) {
    constexpr int kMostRemembered = 256;
    const std::lock_guard lock(m_mutex);
    if (m_shownLogLines.contains(line)) {
        ++m_nHeldBack;
        return false;
    }
    if (m_shownLogLines.size() < kMostRemembered) {
        m_shownLogLines.insert(line);
    }
    return true;
}

// The module reports an SDK error in three critical lines, of which the description line says what went wrong,
// and a refusal in one warning line; both end with " - " and the method's name.
void Console::keepModuleError(QtMsgType type, const QString& text) {
    static const QLatin1String kDescription("ErrorDescription:");
    const bool sdkError = type == QtCriticalMsg && text.startsWith(kDescription);
    if (!sdkError && type != QtWarningMsg) {
        return;
    }
    QString description = sdkError ? text.mid(kDescription.size()).trimmed() : text.trimmed();
    QString where;
    const int suffix = description.lastIndexOf(QLatin1String(" - "));
    if (suffix >= 0) {
        where = description.mid(suffix + 3).trimmed();
        description = description.left(suffix).trimmed();
    }
    // A text item of the module's line stands in double quotes.
    if (description.size() >= 2 && description.startsWith(QLatin1Char('"')) && description.endsWith(QLatin1Char('"'))) {
        description = description.mid(1, description.size() - 2);
    }
    const std::lock_guard lock(m_mutex);
    if (!where.isEmpty() && !m_complaints.contains(where)) {
        m_complaints.insert(where, description);
    }
    if (sdkError && m_moduleError.isEmpty()) {
        m_moduleError = where.isEmpty() ? description : QStringLiteral("%1 (in %2)").arg(description, where);
        m_moduleErrorMethod = where;
    }
}

void Console::keepSdkWarning(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtWarningMsg || context.category == nullptr ||
        (qstrcmp(context.category, "vxcam.sdk") != 0 && qstrcmp(context.category, "vxcam.sim") != 0)) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    if (m_sdkWarning.isEmpty()) {
        m_sdkWarning = text;
    }
}

QString Console::firstSdkWarning() {
    const std::lock_guard lock(m_mutex);
    return m_sdkWarning;
}

QString Console::takeModuleComplaint(const QString& method) {
    const std::lock_guard lock(m_mutex);
    return m_complaints.take(method);
}

bool Console::hasModuleErrorFrom(const QString& method) {
    const std::lock_guard lock(m_mutex);
    return !m_moduleError.isEmpty() && m_moduleErrorMethod == method;
}

QString Console::takeModuleError() {
    const std::lock_guard lock(m_mutex);
    m_moduleErrorMethod.clear();
    return std::exchange(m_moduleError, QString());
}

void Console::finish() {
    int64_t heldBack = 0;
    {
        const std::lock_guard lock(m_mutex);
        heldBack = m_nHeldBack;
        m_nHeldBack = 0;
    }
    if (heldBack > 0) {
        note(QStringLiteral("%1 repeated log lines of the module not shown (--verbose shows them)").arg(heldBack));
    }
}

void Console::result(const QString& text) {
    const std::lock_guard lock(m_mutex);
    clearProgressLocked();
    writeLocked(stdout, text);
}

void Console::error(const QString& text) {
    message(QStringLiteral("vxcam: error: ") + text + QLatin1Char('\n'));
}

void Console::note(const QString& text) {
    message(QStringLiteral("vxcam: ") + text + QLatin1Char('\n'));
}

void Console::message(const QString& text) {
    const std::lock_guard lock(m_mutex);
    clearProgressLocked();
    writeLocked(stderr, text);
}

void Console::progress(const QString& line) {
    if (!m_bTerminal) {
        return;
    }
    const std::lock_guard lock(m_mutex);
    // Padding covers what is left of a longer earlier line.
    const QString shown = line.leftJustified(m_nProgressWidth);
    writeLocked(stderr, QLatin1Char('\r') + shown);
    m_nProgressWidth = static_cast<int>(line.size());
    m_bProgressShown = true;
}

void Console::endProgress() {
    const std::lock_guard lock(m_mutex);
    clearProgressLocked();
}

void Console::clearProgressLocked() {
    if (!m_bProgressShown) {
        return;
    }
    writeLocked(stderr, QLatin1Char('\r') + QString(m_nProgressWidth, QLatin1Char(' ')) + QLatin1Char('\r'));
    m_bProgressShown = false;
    m_nProgressWidth = 0;
}

void Console::writeLocked(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace vxcam::host
