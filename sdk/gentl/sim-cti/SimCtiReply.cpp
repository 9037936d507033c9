#include "sdk/gentl/sim-cti/SimCtiReply.h"

namespace sdk::simcti {
namespace {

// GenTL keeps the last error per calling thread: a consumer asks for it right after the call that failed.
struct LastError {
    GC_ERROR code = GC_ERR_SUCCESS;
    std::string text;
};

LastError& lastError() noexcept {
    thread_local LastError error;
    return error;
}

} // namespace

GC_ERROR fail(GC_ERROR code, std::string text) {
    LastError& error = lastError();
    error.code = code;
    error.text = std::move(text);
    return code;
}

GC_ERROR lastErrorCode() noexcept {
    return lastError().code;
}

const std::string& lastErrorText() noexcept {
    return lastError().text;
}

GC_ERROR putString(INFO_DATATYPE* type, void* buffer, size_t* size, std::string_view text) {
    if (size == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no size given for the text");
    }
    if (type != nullptr) {
        *type = INFO_DATATYPE_STRING;
    }
    const size_t needed = text.size() + 1;
    if (buffer == nullptr) {
        *size = needed;
        return GC_ERR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return fail(GC_ERR_BUFFER_TOO_SMALL, "the buffer is too small for the text");
    }
    std::memcpy(buffer, text.data(), text.size());
    static_cast<char*>(buffer)[text.size()] = '\0';
    *size = needed;
    return GC_ERR_SUCCESS;
}

GC_ERROR unknownCommand(int32_t command) {
    return fail(GC_ERR_NOT_IMPLEMENTED, "information command " + std::to_string(command) + " is not served");
}

} // namespace sdk::simcti
