// Picks frames for a contact sheet evenly over a run whose length nobody knows in advance: it keeps every
// stride-th frame and doubles the stride whenever it holds twice as many frames as the sheet shows.
#pragma once

#include <cstdint>
#include <vector>

namespace vxcam::host {

class FrameSampler {
public:
    // `tiles`: frames the sheet shows, at least 1.
    explicit FrameSampler(std::size_t tiles) noexcept;

    // Offers frame `index` (0, 1, 2, ... in arrival order); true when the sampler keeps it for now. A frame kept
    // now may be dropped by a later offer.
    bool offer(int64_t index);
    // Whether `index` is still among the kept frames.
    [[nodiscard]] bool keeps(int64_t index) const;
    // At most `tiles` of the kept frames, spread evenly over them, first and last included, in order.
    [[nodiscard]] std::vector<int64_t> chosen() const;

private:
    std::size_t m_nTiles;
    int64_t m_nStride = 1;
    std::vector<int64_t> m_kept; // ascending
};

} // namespace vxcam::host
