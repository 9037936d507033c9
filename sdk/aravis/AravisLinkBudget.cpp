#include "sdk/aravis/AravisLinkBudget.h"

#include <cmath>
#include <limits>

namespace sdk::aravis::gev {

uint32_t interPacketDelayTicks(uint32_t packetSize, uint64_t linkBitsPerSecond, uint32_t cameras,
                               uint64_t tickHz) noexcept {
    if (packetSize == 0 || linkBitsPerSecond == 0 || cameras == 0 || tickHz == 0) {
        return 0;
    }
    const double wireBits = 8.0 * (static_cast<double>(packetSize) + kEthernetOverheadBytes);
    const auto link = static_cast<double>(linkBitsPerSecond);
    const double share = link * kStreamShareOfLink / cameras;
    // A packet every wireBits / share seconds, of which it spends wireBits / link on the wire.
    const double delaySeconds = wireBits / share - wireBits / link;
    const double ticks = std::ceil(delaySeconds * static_cast<double>(tickHz));
    constexpr double kLargest = std::numeric_limits<uint32_t>::max();
    return ticks >= kLargest ? std::numeric_limits<uint32_t>::max() : static_cast<uint32_t>(ticks);
}

double streamBitsPerSecond(uint32_t packetSize, uint64_t linkBitsPerSecond, uint32_t delayTicks,
                           uint64_t tickHz) noexcept {
    if (linkBitsPerSecond == 0 || tickHz == 0) {
        return 0;
    }
    const double wireBits = 8.0 * (static_cast<double>(packetSize) + kEthernetOverheadBytes);
    const double period = wireBits / static_cast<double>(linkBitsPerSecond) +
                          static_cast<double>(delayTicks) / static_cast<double>(tickHz);
    return wireBits / period;
}

} // namespace sdk::aravis::gev
