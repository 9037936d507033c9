// GigE Vision 1.x numbers the blocks of a stream with 16 bits, 1 to 65535 and then 1 again (0 is never used).
// The SDK gives 64-bit frame IDs that never wrap: this extends the block IDs of one stream.
#pragma once

#include <cstdint>

namespace sdk::aravis {

class FrameIdExtender {
public:
    // The 64-bit ID of the block `blockId`; blocks come mostly in order (missing ones leave gaps, a late one
    // takes its place behind the newest). Called on the stream's delivery thread only.
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
        // More than half a round forward is a block from before the last one, handed out late (a frame that
        // waited for resent packets, say): it keeps its own place behind the last and moves nothing on. Read
        // as a step forward it would add a whole round to every ID after it.
        if (step > kLargest / 2) {
            const uint64_t back = kLargest - step;
            return back < m_nLast ? m_nLast - back : blockId;
        }
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
