#include "driver/SdkErrorReport.h"

#include "driver/DriverLogging.h"

#include <QByteArray>
#include <QString>

namespace vxcam {
namespace {

// The SDK's narrow text as the log item: read as UTF-8, written in the local 8-bit encoding; null is empty.
QByteArray logItem(const sdk::String& text) {
    return QString::fromUtf8(text.get()).toLocal8Bit();
}

} // namespace

void reportSdkError(const sdk::Exceptions::IException& error, const char* method) noexcept {
    try {
        const QByteArray suffix = QByteArray(" - CCameraVeyra::") + method;
        qCCritical(lcDriver()) << "ExceptionType:     " << logItem(error.GetType()).constData() << suffix.constData();
        qCCritical(lcDriver()) << "ErrorDescription:  " << logItem(error.GetErrorDescription()).constData()
                               << suffix.constData();
        qCCritical(lcDriver()) << "in function:       " << logItem(error.GetFunctionName()).constData()
                               << suffix.constData();
    } catch (...) {
        // Reporting must never turn one failure into another: a failure to log is dropped.
    }
}

void RepeatedErrorReport::report(const sdk::Exceptions::IException& error, const char* method) noexcept {
    try {
        const auto now = std::chrono::steady_clock::now();
        std::string key = std::string(error.GetType().view()) + '\n' + std::string(error.GetErrorDescription().view()) +
                          '\n' + std::string(error.GetFunctionName().view());
        if (key == m_lastError) {
            ++m_nRepeats;
            if (now - m_windowStart >= std::chrono::seconds(1)) {
                writeRepeats(method);
                m_windowStart = now;
            }
            return;
        }
        writeRepeats(method);
        reportSdkError(error, method);
        m_lastError = std::move(key);
        m_windowStart = now;
    } catch (...) {
        reportSdkError(error, method);
    }
}

void RepeatedErrorReport::writeRepeats(const char* method) noexcept {
    if (m_nRepeats == 0) {
        return;
    }
    try {
        const QByteArray suffix = QByteArray("CCameraVeyra::") + method;
        qCCritical(lcDriver()).noquote()
            << QStringLiteral("The same SDK error again, %1 times since it was reported.").arg(m_nRepeats) << " - "
            << suffix.constData();
    } catch (...) {
        // See reportSdkError.
    }
    m_nRepeats = 0;
}

} // namespace vxcam
