// How the driver reports an SDK error: three critical lines, then the operation goes on behind its guard.
#pragma once

#include "sdk/SdkExceptions.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>

namespace vxcam {

// Writes "ExceptionType:", "ErrorDescription:" and "in function:" lines, each ending " - CCameraVeyra::<method>".
void reportSdkError(const sdk::Exceptions::IException& error, const char* method) noexcept;

// Reports for an error that may repeat on every frame: the first occurrence in full (the three lines); repeats
// of the same error within a second are counted and written as one line with the count once a second, so that
// a failing camera cannot flood the host's log. Not thread-safe: one per delivery path.
class RepeatedErrorReport {
public:
    void report(const sdk::Exceptions::IException& error, const char* method) noexcept;
    // Writes the repeats not written yet, when the errors stop (frames stopped).
    void flush(const char* method) noexcept { writeRepeats(method); }

private:
    void writeRepeats(const char* method) noexcept;

    std::string m_lastError; // type, description and function of the last error reported in full
    std::chrono::steady_clock::time_point m_windowStart;
    uint64_t m_nRepeats = 0; // repeats of m_lastError not written yet
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
