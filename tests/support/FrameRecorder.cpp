#include "tests/support/FrameRecorder.h"

namespace vxcam::test {

void FrameRecorder::setAction(Action action) {
    const std::lock_guard lock(m_mutex);
    m_action = std::move(action);
}

void FrameRecorder::OnImageReady(ICameraObject* camera) {
    const RecordedFrame frame{camera->m_pImageData, camera->m_nWidth, camera->m_nHeight, camera->m_nFrameId.load()};
    Action action;
    {
        const std::lock_guard lock(m_mutex);
        action = m_action;
    }
    if (action) {
        action(*camera, frame);
    }
    const std::lock_guard lock(m_mutex);
    m_frames.push_back(frame);
    m_arrived.notify_all();
}

bool FrameRecorder::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
}

std::vector<RecordedFrame> FrameRecorder::frames() const {
    const std::lock_guard lock(m_mutex);
    return m_frames;
}

std::size_t FrameRecorder::count() const {
    const std::lock_guard lock(m_mutex);
    return m_frames.size();
}

void FrameRecorder::clear() {
    const std::lock_guard lock(m_mutex);
    m_frames.clear();
}

} // namespace vxcam::test
