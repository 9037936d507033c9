// The CRC-32 a zip archive keeps of each file (the polynomial of zip and PNG), for the archives of GenICam
// descriptions: the consumer checks what it unpacked with it, the simulated producer writes it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace sdk::gentl {

[[nodiscard]] inline uint32_t zipCrc32(std::string_view data) noexcept {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < t.size(); ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1U) != 0 ? 0xEDB88320U ^ (c >> 1U) : c >> 1U;
            }
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFU;
    for (const char byte : data) {
        crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFU] ^ (crc >> 8U);
    }
    return crc ^ 0xFFFFFFFFU;
}

} // namespace sdk::gentl
