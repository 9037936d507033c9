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

    // A text that lives as long as the process (a pixel-format name of a buffer): referred to, not copied, so
    // that handing it out costs nothing and a view of it stays valid after the String is gone.
    [[nodiscard]] static String persistent(const char* text) noexcept {
        String result;
        result.m_bNull = text == nullptr;
        result.m_pPersistent = text;
        return result;
    }

    // The text as a zero-terminated string, or null for the null text.
    [[nodiscard]] const char* get() const noexcept {
        if (m_bNull) {
            return nullptr;
        }
        return m_pPersistent != nullptr ? m_pPersistent : m_text.c_str();
    }
    operator const char*() const noexcept { return get(); } // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool isNull() const noexcept { return m_bNull; }
    [[nodiscard]] std::string_view view() const noexcept {
        return m_pPersistent != nullptr ? std::string_view(m_pPersistent) : std::string_view(m_text);
    }
    [[nodiscard]] std::string str() const { return std::string(view()); }

    friend bool operator==(const String& a, const String& b) noexcept {
        return a.m_bNull == b.m_bNull && a.view() == b.view();
    }
    friend bool operator!=(const String& a, const String& b) noexcept { return !(a == b); }

private:
    bool m_bNull = true;
    const char* m_pPersistent = nullptr; // set: the text, which outlives every String
    std::string m_text;
};

} // namespace sdk
