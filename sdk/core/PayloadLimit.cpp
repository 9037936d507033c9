#include "sdk/core/PayloadLimit.h"

#include <cstdio>

namespace sdk::core {

std::string describeBytes(uint64_t bytes) {
    constexpr double kKiB = 1024.0;
    const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    auto scaled = static_cast<double>(bytes) / kKiB;
    std::size_t unit = 0;
    while (scaled >= kKiB && unit + 1 < std::size(units)) {
        scaled /= kKiB;
        ++unit;
    }
    std::string text = std::to_string(bytes) + " bytes";
    if (bytes >= 1024) {
        char scaledText[32];
        std::snprintf(scaledText, sizeof scaledText, " (%.1f %s)", scaled, units[unit]);
        text += scaledText;
    }
    return text;
}

std::optional<std::string> frameSizeRefusal(uint64_t bytes, const std::string& what) {
    if (bytes <= kMaxFrameBytes) {
        return std::nullopt;
    }
    return what + " needs " + describeBytes(bytes) + " of memory, more than the " + describeBytes(kMaxFrameBytes) +
           " the SDK layer gives one frame";
}

} // namespace sdk::core
