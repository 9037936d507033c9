#include "tests/host/ToolSandbox.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace vxcam::test {

QJsonObject ToolResult::json() const {
    return QJsonDocument::fromJson(out.toUtf8()).object();
}

QString ToolResult::describe() const {
    return QStringLiteral("exit code %1%2\n--- stdout:\n%3\n--- stderr:\n%4")
        .arg(exitCode)
        .arg(crashed    ? QStringLiteral(" (crashed)")
             : finished ? QString()
                        : QStringLiteral(" (did not end)"))
        .arg(out, err);
}

ToolSandbox::ToolSandbox() : m_environment(QProcessEnvironment::systemEnvironment()) {
    for (const char* name : {"VXCAM_SIM_CONFIG", "VXCAM_TRANSPORTS", "VXCAM_SIM_TRACE", "QT_LOGGING_RULES",
                             "QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        m_environment.remove(QLatin1String(name));
    }
    // In leak-checked builds: what Qt's own platform plugins never free is not the tool's leak.
    const QString leakOptions = m_environment.value(QStringLiteral("LSAN_OPTIONS"));
    m_environment.insert(QStringLiteral("LSAN_OPTIONS"),
                         (leakOptions.isEmpty() ? QString() : leakOptions + QLatin1Char(':')) +
                             QStringLiteral("suppressions=" VXCAM_LSAN_SUPPRESSIONS));
}

void ToolSandbox::useCameras(const QString& json) {
    QFile file(path(QStringLiteral("cameras.json")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(json.toUtf8());
    }
    m_environment.insert(QStringLiteral("VXCAM_SIM_CONFIG"), file.fileName());
}

void ToolSandbox::setVariable(const QString& name, const QString& value) {
    m_environment.insert(name, value);
}

QString ToolSandbox::path(const QString& name) const {
    return m_dir.filePath(name);
}

std::unique_ptr<QProcess> ToolSandbox::start(const QStringList& arguments) const {
    auto process = std::make_unique<QProcess>();
    if (m_nFileLimitKiB > 0) {
        // The signal a write past the limit raises is ignored, which exec keeps: the write fails instead.
        process->setProgram(QStringLiteral("bash"));
        process->setArguments(
            QStringList{QStringLiteral("-c"),
                        QStringLiteral("trap '' XFSZ; ulimit -f %1; exec \"$0\" \"$@\"").arg(m_nFileLimitKiB),
                        QStringLiteral(VXCAM_TOOL_PATH)}
            << arguments);
    } else {
        process->setProgram(QStringLiteral(VXCAM_TOOL_PATH));
        process->setArguments(arguments);
    }
    process->setProcessEnvironment(m_environment);
    process->setWorkingDirectory(m_dir.path());
    process->start();
    if (!process->waitForStarted()) {
        return nullptr;
    }
    return process;
}

ToolResult ToolSandbox::finish(QProcess& process, std::chrono::milliseconds wait) {
    ToolResult result;
    result.finished = process.waitForFinished(static_cast<int>(wait.count()));
    if (!result.finished) {
        process.kill();
        process.waitForFinished();
    }
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

ToolResult ToolSandbox::run(const QStringList& arguments, std::chrono::milliseconds wait) const {
    const std::unique_ptr<QProcess> process = start(arguments);
    if (!process) {
        ToolResult result;
        result.err = QStringLiteral("the tool did not start");
        return result;
    }
    return finish(*process, wait);
}

} // namespace vxcam::test
