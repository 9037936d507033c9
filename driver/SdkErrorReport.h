// How the driver reports an SDK error: three critical lines, then the operation goes on behind its guard.
#pragma once

#include "sdk/SdkExceptions.h"

#include <utility>

namespace vxcam {

// Writes "ExceptionType:", "ErrorDescription:" and "in function:" lines, each ending " - CCameraVeyra::<method>".
void reportSdkError(const sdk::Exceptions::IException& error, const char* method) noexcept;

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
