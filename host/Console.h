// The tool's output: results on standard output; errors, notes, the module's log lines and the live progress
// line on standard error. One instance for the process, because Qt's message handler is a plain function.
#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>

namespace vxcam::host {

class Console {
public:
    static Console& instance();

    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    // Routes Qt's log lines (the module's among them) through this console. Host thread, once, at start.
    void takeOverLogging();
    // With verbose output every log line of the module is shown; otherwise only warnings and worse, each
    // distinct line once, without the two progress notes the module writes at warning level on every create
    // and open. Thread-safe.
    void setVerbose(bool verbose) noexcept;

    // All output functions are thread-safe; they clear the progress line before writing.
    void result(const QString& text);  // standard output, as given
    void error(const QString& text);   // standard error, "vxcam: error: " + text + newline
    void note(const QString& text);    // standard error, "vxcam: " + text + newline
    void message(const QString& text); // standard error, as given

    // Whether the live progress line is shown at all: only when standard error is a terminal.
    [[nodiscard]] bool showsProgress() const noexcept { return m_bTerminal; }
    // Replaces the progress line (terminal only; otherwise does nothing).
    void progress(const QString& line);
    // Removes the progress line, if one is shown.
    void endProgress();
    // Says how many repeated log lines were held back. Host thread, at the end.
    void finish();

    // The first error the module has logged since the last call (the description of its first SDK error, as
    // "unknown pixel format "Foo12" (in CCameraVeyra::BufferReady)"), or empty; forgets it. Thread-safe.
    [[nodiscard]] QString takeModuleError();
    // Whether the first error the module has logged since the last takeModuleError came from `method` (such as
    // "CCameraVeyra::BufferReady"); keeps it. Thread-safe.
    [[nodiscard]] bool hasModuleErrorFrom(const QString& method);
    // The first warning or error the module has logged about `method` (its lines end with " - " and the
    // method's full name, such as "CCameraVeyra::ISetProperty") since the last call for it, or empty; forgets
    // it. The module's answer says whether a call took effect; its log says why not. Thread-safe.
    [[nodiscard]] QString takeModuleComplaint(const QString& method);

    // The first warning the SDK layer has logged (categories vxcam.sdk and vxcam.sim: a camera file it cannot
    // use, an unknown transport), or empty. Thread-safe.
    [[nodiscard]] QString firstSdkWarning();

private:
    Console();
    static void handleLogLine(QtMsgType type, const QMessageLogContext& context, const QString& text);
    // True when `line` was not shown before and is to be shown now.
    bool firstShowing(const QString& line);
    void keepModuleError(QtMsgType type, const QString& text);
    void keepSdkWarning(QtMsgType type, const QMessageLogContext& context, const QString& text);
    void clearProgressLocked();
    void writeLocked(std::FILE* stream, const QString& text);

    const bool m_bTerminal;
    std::atomic<bool> m_bVerbose{false};
    // Guards both streams and the members below: the delivery thread logs while the host thread writes.
    std::mutex m_mutex;
    bool m_bProgressShown = false;
    int m_nProgressWidth = 0;            // characters of the progress line on screen
    QSet<QString> m_shownLogLines;       // without verbose output, each distinct log line is shown once
    int64_t m_nHeldBack = 0;             // repeats of shown log lines that were not shown again
    QString m_moduleError;               // the first error logged since takeModuleError
    QString m_moduleErrorMethod;         // the method that logged it
    QString m_sdkWarning;                // the first SDK-layer warning of the process
    QMap<QString, QString> m_complaints; // by method: the first warning or error since takeModuleComplaint
};

} // namespace vxcam::host
