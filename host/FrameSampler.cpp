#include "host/FrameSampler.h"

#include <algorithm>

namespace vxcam::host {

FrameSampler::FrameSampler(std::size_t tiles) noexcept : m_nTiles(std::max<std::size_t>(tiles, 1)) {}

bool FrameSampler::offer(int64_t index) {
    if (index < 0 || index % m_nStride != 0) {
        return false;
    }
    m_kept.push_back(index);
    if (m_kept.size() >= 2 * m_nTiles) {
        m_nStride *= 2;
        const int64_t stride = m_nStride;
        m_kept.erase(
            std::remove_if(m_kept.begin(), m_kept.end(), [stride](int64_t kept) { return kept % stride != 0; }),
            m_kept.end());
    }
    return keeps(index);
}

bool FrameSampler::keeps(int64_t index) const {
    return std::binary_search(m_kept.begin(), m_kept.end(), index);
}

std::vector<int64_t> FrameSampler::chosen() const {
    if (m_kept.size() <= m_nTiles) {
        return m_kept;
    }
    std::vector<int64_t> result;
    const std::size_t last = m_kept.size() - 1;
    for (std::size_t tile = 0; tile < m_nTiles; ++tile) {
        const std::size_t position = m_nTiles == 1 ? 0 : (tile * last + (m_nTiles - 1) / 2) / (m_nTiles - 1);
        result.push_back(m_kept[position]);
    }
    return result;
}

} // namespace vxcam::host
