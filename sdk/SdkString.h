// sdk::String: the SDK's narrow text, made from and read back as a zero-terminated string that may be null.
#pragma once

#include "sdk/SdkExport.h"

#include <string>
#include <string_view>
#include <utility>

namespace sdk {

class VXSDK_API String {
public:
    String() noexcept = default;                                                                // the null text
    String(const char* text) : m_bNull(text == nullptr), m_text(text != nullptr ? text : "") {} // NOLINT
    String(std::string text) noexcept : m_bNull(false), m_text(std::move(text)) {}              // NOLINT

    // The text as a zero-terminated string, or null for the null text.
    [[nodiscard]] const char* get() const noexcept { return m_bNull ? nullptr : m_text.c_str(); }
    operator const char*() const noexcept { return get(); } // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool isNull() const noexcept { return m_bNull; }
    [[nodiscard]] std::string_view view() const noexcept { return m_text; }
    [[nodiscard]] const std::string& str() const noexcept { return m_text; }

    friend bool operator==(const String& a, const String& b) noexcept {
        return a.m_bNull == b.m_bNull && a.m_text == b.m_text;
    }
    friend bool operator!=(const String& a, const String& b) noexcept { return !(a == b); }

private:
    bool m_bNull = true;
    std::string m_text;
};

} // namespace sdk
