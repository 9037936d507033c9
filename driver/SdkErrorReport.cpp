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

} // namespace vxcam
