#include "sdk/gentl/GentlError.h"

#include "sdk/SdkExceptions.h"

namespace sdk::gentl {

Q_LOGGING_CATEGORY(lcGentlCategory, "vxcam.gentl")

const QLoggingCategory& lcGentl() {
    return lcGentlCategory();
}

const char* exceptionTypeOf(GC_ERROR code) noexcept {
    switch (code) {
    case GC_ERR_INVALID_ID:
    case GC_ERR_INVALID_INDEX:
    case GC_ERR_NO_DATA:
        return "NotFoundException";
    case GC_ERR_INVALID_PARAMETER:
    case GC_ERR_INVALID_HANDLE:
    case GC_ERR_INVALID_BUFFER:
    case GC_ERR_INVALID_ADDRESS:
    case GC_ERR_BUFFER_TOO_SMALL:
        return "InvalidArgumentException";
    case GC_ERR_INVALID_VALUE:
        return "OutOfRangeException";
    case GC_ERR_ACCESS_DENIED:
        return "AccessDeniedException";
    case GC_ERR_NOT_IMPLEMENTED:
    case GC_ERR_NOT_AVAILABLE:
    case GC_ERR_NOT_INITIALIZED:
        return "NotAvailableException";
    case GC_ERR_RESOURCE_IN_USE:
    case GC_ERR_RESOURCE_EXHAUSTED:
    case GC_ERR_OUT_OF_MEMORY:
    case GC_ERR_BUSY:
        return "ResourceException";
    case GC_ERR_TIMEOUT:
        return "TimeoutException";
    case GC_ERR_IO:
        return "IoException";
    default:
        return "RuntimeException";
    }
}

void check(const GentlLibrary& library, GC_ERROR code, const char* function, const std::string& what) {
    if (code == GC_ERR_SUCCESS) {
        return;
    }
    Exceptions::raise(exceptionTypeOf(code), function, what + ": GenTL " + library.lastError(code));
}

} // namespace sdk::gentl
