// The GenICam pixel formats the SDK layer knows, with the storage each one needs.
#pragma once

#include <cstdint>
#include <string_view>

namespace sdk::core {

struct PixelFormatInfo {
    const char* name;      // GenICam name, static storage
    uint32_t bitsPerPixel; // storage per pixel, padding included (Mono10: 16, Mono10p: 10)
};

// The format called `name`, or null for a name the SDK does not know.
[[nodiscard]] const PixelFormatInfo* findPixelFormat(std::string_view name) noexcept;

// Bytes of one frame, rounded up to whole bytes.
[[nodiscard]] constexpr uint64_t framePayloadSize(const PixelFormatInfo& format, uint64_t width,
                                                  uint64_t height) noexcept {
    return (width * height * format.bitsPerPixel + 7) / 8;
}

} // namespace sdk::core
