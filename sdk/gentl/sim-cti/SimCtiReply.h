// How the simulated cameras' GenTL producer answers its callers: the calling thread's last error, and
// information values written into the caller's buffer the way the transport-layer standard lays them out.
#pragma once

#include "sdk/gentl/GenTL.h"

#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>

namespace sdk::simcti {

// Records `code` and `text` as the calling thread's last error (GCGetLastError) and returns the code.
GC_ERROR fail(GC_ERROR code, std::string text);
// The calling thread's last error.
[[nodiscard]] GC_ERROR lastErrorCode() noexcept;
[[nodiscard]] const std::string& lastErrorText() noexcept;

// Writes `text` (zero-terminated) to `buffer`. A null buffer asks for the size only; a buffer that is too small
// is refused with its needed size in *size.
GC_ERROR putString(INFO_DATATYPE* type, void* buffer, size_t* size, std::string_view text);

// Writes a plain value of the standard's type `kind`.
template <typename T>
GC_ERROR putValue(INFO_DATATYPE* type, void* buffer, size_t* size, INFO_DATATYPE kind, T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (size == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no size given for the information value");
    }
    if (type != nullptr) {
        *type = kind;
    }
    if (buffer == nullptr) {
        *size = sizeof(T);
        return GC_ERR_SUCCESS;
    }
    if (*size < sizeof(T)) {
        *size = sizeof(T);
        return fail(GC_ERR_BUFFER_TOO_SMALL, "the buffer is too small for the information value");
    }
    std::memcpy(buffer, &value, sizeof(T));
    *size = sizeof(T);
    return GC_ERR_SUCCESS;
}

inline GC_ERROR putUint64(INFO_DATATYPE* type, void* buffer, size_t* size, uint64_t value) {
    return putValue(type, buffer, size, INFO_DATATYPE_UINT64, value);
}
inline GC_ERROR putSize(INFO_DATATYPE* type, void* buffer, size_t* size, size_t value) {
    return putValue(type, buffer, size, INFO_DATATYPE_SIZET, value);
}
inline GC_ERROR putBool(INFO_DATATYPE* type, void* buffer, size_t* size, bool value) {
    return putValue(type, buffer, size, INFO_DATATYPE_BOOL8, static_cast<bool8_t>(value ? 1 : 0));
}
inline GC_ERROR putInt32(INFO_DATATYPE* type, void* buffer, size_t* size, int32_t value) {
    return putValue(type, buffer, size, INFO_DATATYPE_INT32, value);
}
inline GC_ERROR putPointer(INFO_DATATYPE* type, void* buffer, size_t* size, void* value) {
    return putValue(type, buffer, size, INFO_DATATYPE_PTR, value);
}

GC_ERROR unknownCommand(int32_t command);

// The opening of a GenICam description served through a port, up to and with the root category's start tag:
// the XML declaration and the RegisterDescription element with its schema, version and GUIDs. `model` is
// written as it is (already escaped).
[[nodiscard]] std::string descriptionOpening(std::string_view model, std::string_view toolTip,
                                             std::string_view productGuid, std::string_view versionGuid);

} // namespace sdk::simcti
