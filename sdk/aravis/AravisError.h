// Aravis reports failures as GError; the SDK layer has one error channel, its exceptions. Every Aravis call
// that can fail goes through these helpers, so that no GError is dropped or leaked.
#pragma once

#include <arv.h>

#include <string>

namespace sdk::aravis {

// Owns a GError that an Aravis call may fill. Pass `out()` to the call, then `check()`.
class ErrorSlot {
public:
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() { g_clear_error(&m_pError); }

    [[nodiscard]] GError** out() noexcept { return &m_pError; }
    [[nodiscard]] bool failed() const noexcept { return m_pError != nullptr; }
    // Raises the SDK exception for the error, if any: type by the error's kind, the text as Aravis gave it,
    // prefixed with `what` (the object or feature concerned).
    void check(const char* function, const std::string& what) const;

private:
    GError* m_pError = nullptr;
};

// The SDK exception type for an Aravis error ("NotFoundException", "AccessDeniedException", ...).
[[nodiscard]] const char* exceptionTypeOf(const GError& error) noexcept;

} // namespace sdk::aravis
