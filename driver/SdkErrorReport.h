// How the driver reports an SDK error: three critical lines, then the operation goes on behind its guard.
#pragma once

#include "driver/ThreadSafety.h"
#include "sdk/SdkExceptions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>

namespace vxcam {

// Writes "ExceptionType:", "ErrorDescription:" and "in function:" lines, each ending " - CCameraVeyra::<method>".
void reportSdkError(const sdk::Exceptions::IException& error, const char* method) noexcept;

// Reports for an error that may repeat on every frame: the first occurrence in full (the three lines); repeats
// of the same error are counted, and a timer of the report writes their number as one line within about a second
// of a repeat, never more than one line a second, so that a failing camera cannot flood the host's log and a
// count never waits for the next frame. Thread-safe: the delivering threads report (frames delivered and frames
// turned away at the gate), calls flush, and the timer thread writes.
class RepeatedErrorReport {
public:
    // `method` ends every line: " - CCameraVeyra::<method>".
    explicit RepeatedErrorReport(const char* method) noexcept : m_pMethod(method) {}
    // Writes the repeats not written yet and stops the timer.
    ~RepeatedErrorReport();
    RepeatedErrorReport(const RepeatedErrorReport&) = delete;
    RepeatedErrorReport& operator=(const RepeatedErrorReport&) = delete;

    void report(const sdk::Exceptions::IException& error) noexcept;
    // The errors end with the frames (a stop, a close): the repeats not written yet are written, and the error is
    // forgotten, so that the next session reports it in full again.
    void flush() noexcept;

private:
    // The repeats not written yet, now counted as written.
    [[nodiscard]] uint64_t takeRepeats() noexcept VXCAM_REQUIRES(m_mutex);
    void writeRepeats(uint64_t repeats) const noexcept;
    void runTimer() noexcept;

    const char* const m_pMethod;
    // Held by the delivering threads' reports and by the timer while they take what to write and write it, so
    // that a count reaches the log before the next error's lines. Taken before m_mutex. Calls (flush) never take
    // it: they must not wait for a host's message handler that the timer is in.
    Mutex m_writeMutex;
    // Guards the members below; never held while a line is written (the host's message handler runs then).
    Mutex m_mutex;
    std::condition_variable m_changed;                 // a repeat came, or the timer is to end
    std::string m_lastError VXCAM_GUARDED_BY(m_mutex); // type, description and function of the error in full
    std::chrono::steady_clock::time_point m_lastWritten VXCAM_GUARDED_BY(m_mutex); // a line about m_lastError
    uint64_t m_nRepeats VXCAM_GUARDED_BY(m_mutex) = 0; // repeats of m_lastError not written yet
    bool m_bTimerEnds VXCAM_GUARDED_BY(m_mutex) = false;
    std::thread m_timer VXCAM_GUARDED_BY(m_mutex); // started by the first repeat, joined by the destructor
};

// Runs `body` and returns its result; an SDK error raised inside is reported under `method` and gives
// `onError` instead. No other exception is caught.
template <typename Result, typename Body>
Result guardSdk(const char* method, Result onError, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (const sdk::Exceptions::IException& error) {
        reportSdkError(error, method);
        return onError;
    }
}

// The same for a body without a result.
template <typename Body>
void guardSdk(const char* method, Body&& body) {
    try {
        std::forward<Body>(body)();
    } catch (const sdk::Exceptions::IException& error) {
        reportSdkError(error, method);
    }
}

} // namespace vxcam
