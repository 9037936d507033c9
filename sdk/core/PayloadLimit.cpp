#include "sdk/core/PayloadLimit.h"

#include <cstdio>

#if defined(__unix__)
#include <unistd.h>
#endif

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

namespace {

// Bytes of memory the machine has; 0 when the platform does not say.
uint64_t physicalMemory() noexcept {
#if defined(__unix__)
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0) {
        return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
    }
#endif
    return 0;
}

} // namespace

std::optional<std::string> bufferSizeRefusal(uint64_t bytes, const std::string& what) {
    if (std::optional<std::string> refusal = frameSizeRefusal(bytes, what)) {
        return refusal;
    }
    constexpr uint64_t kBuffersOfAStream = 8;
    const uint64_t memory = physicalMemory();
    if (memory != 0 && bytes > memory / kBuffersOfAStream) {
        return what + " needs " + describeBytes(bytes) + " of memory, more than an eighth of this machine's " +
               describeBytes(memory) + ", and a stream holds several buffers";
    }
    return std::nullopt;
}

} // namespace sdk::core
