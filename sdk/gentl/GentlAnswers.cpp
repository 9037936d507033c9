#include "sdk/gentl/GentlAnswers.h"

#include "sdk/SdkExceptions.h"

#include <algorithm>
#include <cstring>

namespace sdk::gentl {

std::optional<std::string> producerText(const char* text, size_t capacity, size_t reported) {
    const size_t room = std::min(capacity, reported);
    const void* end = text != nullptr ? std::memchr(text, '\0', room) : nullptr;
    if (end == nullptr) {
        return std::nullopt;
    }
    return std::string(text, static_cast<const char*>(end));
}

void needHandle(const GentlLibrary& library, const void* handle, const char* function, const std::string& what) {
    if (handle == nullptr) {
        Exceptions::raise("InvalidArgumentException", function,
                          what + ": GenTL producer " + library.path().toStdString() +
                              " reported success without a handle (a broken answer)");
    }
}

void needSaneCount(const GentlLibrary& library, uint32_t count, const char* function, const std::string& what) {
    if (count > kMaxListEntries) {
        Exceptions::raise("OutOfRangeException", function,
                          what + ": GenTL producer " + library.path().toStdString() + " reports " +
                              std::to_string(count) + " entries, more than " + std::to_string(kMaxListEntries) +
                              " (a broken answer)");
    }
}

} // namespace sdk::gentl
