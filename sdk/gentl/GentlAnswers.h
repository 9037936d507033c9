// What a producer answers is checked before it is used: a text must end within both the room it was given and
// the size it reports, a number must have the size and a type of the kind asked for, a handle it reports with
// success must not be null, and a count must be one a transport can have. A producer that answers otherwise
// is broken, and its answer is treated as none (or as an error where the call needs one).
#pragma once

#include "sdk/gentl/GentlFunctions.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

namespace sdk::gentl {

// Most entries a list of a producer may have (interfaces, devices, streams): far beyond any real one, so that a
// count of four billion is not walked.
inline constexpr uint32_t kMaxListEntries = 1024;

// The text in `text` (`capacity` bytes given, `reported` bytes the producer says it wrote, terminator
// included): nothing when it does not end within both.
[[nodiscard]] std::optional<std::string> producerText(const char* text, size_t capacity, size_t reported);

// Whether an information value the producer reported as `type` of `size` bytes is a T. A type left unknown
// passes on its size alone; a type of another kind or width does not.
template <typename T>
[[nodiscard]] constexpr bool numberFits(INFO_DATATYPE type, size_t size) noexcept {
    if (size != sizeof(T)) {
        return false;
    }
    switch (type) {
    case INFO_DATATYPE_UNKNOWN:
        return true;
    case INFO_DATATYPE_INT16:
    case INFO_DATATYPE_UINT16:
        return std::is_integral_v<T> && sizeof(T) == 2;
    case INFO_DATATYPE_INT32:
    case INFO_DATATYPE_UINT32:
        return std::is_integral_v<T> && sizeof(T) == 4;
    case INFO_DATATYPE_INT64:
    case INFO_DATATYPE_UINT64:
    case INFO_DATATYPE_SIZET:
    case INFO_DATATYPE_PTRDIFF:
        return std::is_integral_v<T> && sizeof(T) == 8;
    case INFO_DATATYPE_BOOL8:
        return std::is_integral_v<T> && sizeof(T) == 1;
    case INFO_DATATYPE_FLOAT64:
        return std::is_floating_point_v<T>;
    case INFO_DATATYPE_PTR:
        return std::is_pointer_v<T>;
    default:
        return false;
    }
}

// Raises the SDK error of a producer that reported success with a null handle for `what`.
void needHandle(const GentlLibrary& library, const void* handle, const char* function, const std::string& what);
// Raises the SDK error of a producer that reports more than kMaxListEntries entries of a list of `what`.
void needSaneCount(const GentlLibrary& library, uint32_t count, const char* function, const std::string& what);

} // namespace sdk::gentl
