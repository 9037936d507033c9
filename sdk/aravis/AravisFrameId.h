// GigE Vision 1.x numbers the blocks of a stream with 16 bits, 1 to 65535 and then 1 again (0 is never used).
// The SDK gives 64-bit frame IDs that never wrap: this extends the block IDs of one stream.
#pragma once

#include <cstdint>

namespace sdk::aravis {

class FrameIdExtender {
public:
    // The 64-bit ID of the block `blockId`; blocks come in order (missing ones leave gaps). Called on the
    // stream's delivery thread only.
    [[nodiscard]] uint64_t extend(uint64_t blockId) noexcept {
        if (blockId > kLargest || blockId == 0) {
            // Not a 16-bit block ID (extended IDs, or a transport with 64-bit IDs): it stands as it is.
            m_nLast = blockId;
            m_bStarted = true;
            return blockId;
        }
        if (!m_bStarted) {
            m_bStarted = true;
            m_nLast = blockId;
            return blockId;
        }
        const uint64_t lastBlock = (m_nLast - 1) % kLargest + 1;
        // Steps forward on the ring of 65535 IDs; a repeated ID (a camera restarting its count) still moves on.
        uint64_t step = (blockId + kLargest - lastBlock) % kLargest;
        if (step == 0) {
            step = kLargest;
        }
        m_nLast += step;
        return m_nLast;
    }

private:
    static constexpr uint64_t kLargest = 65535;
    uint64_t m_nLast = 0;
    bool m_bStarted = false;
};

} // namespace sdk::aravis
