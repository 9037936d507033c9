#include "sdk/aravis/AravisError.h"

#include "sdk/SdkExceptions.h"

namespace sdk::aravis {

const char* exceptionTypeOf(const GError& error) noexcept {
    if (error.domain == ARV_DEVICE_ERROR) {
        switch (error.code) {
        case ARV_DEVICE_ERROR_FEATURE_NOT_FOUND:
        case ARV_DEVICE_ERROR_NOT_FOUND:
        case ARV_DEVICE_ERROR_GENICAM_NOT_FOUND:
            return "NotFoundException";
        case ARV_DEVICE_ERROR_WRONG_FEATURE:
        case ARV_DEVICE_ERROR_INVALID_PARAMETER:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_INVALID_PARAMETER:
            return "InvalidArgumentException";
        case ARV_DEVICE_ERROR_NOT_CONTROLLER:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_ACCESS_DENIED:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_WRITE_PROTECT:
            return "AccessDeniedException";
        case ARV_DEVICE_ERROR_TIMEOUT:
            return "TimeoutException";
        case ARV_DEVICE_ERROR_NOT_CONNECTED:
        case ARV_DEVICE_ERROR_NO_STREAM_CHANNEL:
        case ARV_DEVICE_ERROR_PROTOCOL_ERROR_NOT_IMPLEMENTED:
            return "NotAvailableException";
        default:
            return "IoException";
        }
    }
    if (error.domain == ARV_GC_ERROR) {
        switch (error.code) {
        case ARV_GC_ERROR_OUT_OF_RANGE:
        case ARV_GC_ERROR_INVALID_LENGTH:
            return "OutOfRangeException";
        case ARV_GC_ERROR_READ_ONLY:
            return "AccessDeniedException";
        case ARV_GC_ERROR_NODE_NOT_FOUND:
        case ARV_GC_ERROR_ENUM_ENTRY_NOT_FOUND:
        case ARV_GC_ERROR_EMPTY_ENUMERATION:
            return "NotFoundException";
        case ARV_GC_ERROR_SET_FROM_STRING_UNDEFINED:
        case ARV_GC_ERROR_GET_AS_STRING_UNDEFINED:
        case ARV_GC_ERROR_INVALID_SYNTAX:
            return "InvalidArgumentException";
        default:
            return "LogicalErrorException";
        }
    }
    return "RuntimeException";
}

void ErrorSlot::check(const char* function, const std::string& what) const {
    if (m_pError == nullptr) {
        return;
    }
    const char* message = m_pError->message != nullptr ? m_pError->message : "unknown error";
    Exceptions::raise(exceptionTypeOf(*m_pError), function, what + ": " + message);
}

} // namespace sdk::aravis
