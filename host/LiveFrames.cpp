#include "host/LiveFrames.h"

#include "contract/IVeyraCameraObject.h"

#include <cstring>
#include <new>
#include <utility>

namespace vxcam::host {

void LiveFrames::OnImageReady(ICameraObject* camera) {
    if (camera == nullptr) {
        return;
    }
    LiveFrame live;
    live.format = describeFrame(*camera);
    CapturedFrame& frame = live.frame;
    frame.frameId = static_cast<uint32_t>(camera->m_nFrameId.load(std::memory_order_relaxed));
    frame.width = camera->m_nWidth;
    frame.height = camera->m_nHeight;
    frame.layout = live.format.layout;
    const std::optional<std::size_t> needed = copyableBytes(live.format, frame.width, frame.height);
    if (camera->m_pImageData != nullptr && needed) {
        try {
            copyFrame(camera->m_pImageData, live.format, frame.width, frame.height, frame.bytes);
        } catch (const std::bad_alloc&) {
            frame.bytes.clear(); // shown as a frame without a picture
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        ++m_counts.received;
        if (m_counts.lastFrameId) {
            const uint32_t step = frame.frameId - *m_counts.lastFrameId;
            if (step > 1 && step < 0x80000000U) {
                m_counts.lost += step - 1;
            }
        }
        m_counts.lastFrameId = frame.frameId;
        m_newest = std::move(live);
    }
}

std::optional<LiveFrame> LiveFrames::takeNewest() {
    const std::lock_guard lock(m_mutex);
    return std::exchange(m_newest, std::nullopt);
}

LiveCounts LiveFrames::counts() const {
    const std::lock_guard lock(m_mutex);
    return m_counts;
}

} // namespace vxcam::host
