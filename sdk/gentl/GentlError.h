// GenTL answers codes; the SDK layer has one error channel, its exceptions. Every GenTL call that can fail goes
// through check(), which raises the SDK exception for its code with the producer's own description
// (GCGetLastError).
#pragma once

#include "sdk/gentl/GentlFunctions.h"

#include <QLoggingCategory>

#include <string>

namespace sdk::gentl {

// "vxcam.gentl": the GenTL transport.
const QLoggingCategory& lcGentl();

// The SDK exception type for a GenTL error code ("NotFoundException", "AccessDeniedException", ...).
[[nodiscard]] const char* exceptionTypeOf(GC_ERROR code) noexcept;

// Raises the SDK exception for `code` unless it is success: `what` names the object or the step, the
// producer's description follows.
void check(const GentlLibrary& library, GC_ERROR code, const char* function, const std::string& what);

} // namespace sdk::gentl
