#include "driver/SdkErrorReport.h"

#include "driver/DriverLogging.h"

#include <QByteArray>
#include <QString>

#include <utility>

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

namespace {

constexpr std::chrono::seconds kRepeatLinePeriod(1);

std::string errorKey(const sdk::Exceptions::IException& error) {
    return std::string(error.GetType().view()) + '\n' + std::string(error.GetErrorDescription().view()) + '\n' +
           std::string(error.GetFunctionName().view());
}

} // namespace

RepeatedErrorReport::~RepeatedErrorReport() {
    std::thread timer;
    uint64_t repeats = 0;
    {
        const MutexLock lock(m_mutex);
        repeats = takeRepeats();
        m_bTimerEnds = true;
        m_changed.notify_all();
        timer = std::move(m_timer);
    }
    if (timer.joinable()) {
        timer.join();
    }
    writeRepeats(repeats);
}

void RepeatedErrorReport::report(const sdk::Exceptions::IException& error) noexcept {
    try {
        std::string key = errorKey(error);
        const MutexLock write(m_writeMutex);
        uint64_t repeats = 0;
        {
            const MutexLock lock(m_mutex);
            if (key == m_lastError) {
                ++m_nRepeats;
                if (!m_timer.joinable() && !m_bTimerEnds) {
                    m_timer = std::thread([this] { runTimer(); });
                }
                m_changed.notify_all();
                return;
            }
            repeats = takeRepeats();
            m_lastError = std::move(key);
            m_lastWritten = std::chrono::steady_clock::now();
        }
        writeRepeats(repeats);
        reportSdkError(error, m_pMethod);
    } catch (...) {
        // No memory for the key, or no thread for the timer: the error is written in full instead.
        reportSdkError(error, m_pMethod);
    }
}

void RepeatedErrorReport::flush() noexcept {
    uint64_t repeats = 0;
    {
        const MutexLock lock(m_mutex);
        repeats = takeRepeats();
        m_lastError.clear();
    }
    writeRepeats(repeats);
}

// Sleeps until a repeat waits and a period has passed since the last line about the error.
void RepeatedErrorReport::runTimer() noexcept {
    for (;;) {
        {
            MutexLock lock(m_mutex);
            for (;;) {
                if (m_bTimerEnds) {
                    return;
                }
                if (m_nRepeats == 0) {
                    lock.wait(m_changed);
                    continue;
                }
                const auto due = m_lastWritten + kRepeatLinePeriod;
                if (std::chrono::steady_clock::now() >= due) {
                    break;
                }
                lock.waitUntil(m_changed, due);
            }
        }
        const MutexLock write(m_writeMutex);
        uint64_t repeats = 0;
        {
            const MutexLock lock(m_mutex);
            repeats = takeRepeats(); // a report or a flush may have written them meanwhile
        }
        writeRepeats(repeats);
    }
}

uint64_t RepeatedErrorReport::takeRepeats() noexcept {
    const uint64_t repeats = std::exchange(m_nRepeats, 0);
    if (repeats > 0) {
        m_lastWritten = std::chrono::steady_clock::now();
    }
    return repeats;
}

void RepeatedErrorReport::writeRepeats(uint64_t repeats) const noexcept {
    if (repeats == 0) {
        return;
    }
    try {
        const QByteArray suffix = QByteArray("CCameraVeyra::") + m_pMethod;
        const QString text =
            repeats == 1 ? QStringLiteral("The same SDK error again, 1 time since it was reported.")
                         : QStringLiteral("The same SDK error again, %1 times since it was reported.").arg(repeats);
        qCCritical(lcDriver()).noquote() << text << " - " << suffix.constData();
    } catch (...) {
        // See reportSdkError.
    }
}

} // namespace vxcam
