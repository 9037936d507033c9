#include "driver/CameraStreamBinding.h"

#include <utility>

namespace vxcam {

StreamBinding::StreamBinding(CCameraVeyra& camera, std::shared_ptr<CameraLifecycle> lifecycle, sdk::Device* device,
                             sdk::DataStream* stream)
    : m_camera(camera), m_pLifecycle(std::move(lifecycle)), m_pDevice(device), m_pStream(stream) {
    m_pLifecycle->bindingMade();
}

// The buffers go first, while the object is still counted; leaving it may free it (the lifecycle stays: this
// binding's reference ends last).
StreamBinding::~StreamBinding() {
    m_buffers.clear();
    m_pLifecycle->bindingEnded();
}

void StreamBinding::keepUnqueued(sdk::Buffer* buffer) {
    const MutexLock lock(m_unqueuedMutex);
    m_unqueued.push_back(buffer);
    m_bAnyUnqueued.store(true);
}

std::vector<sdk::Buffer*> StreamBinding::takeUnqueued() {
    if (!m_bAnyUnqueued.load()) {
        return {};
    }
    const MutexLock lock(m_unqueuedMutex);
    m_bAnyUnqueued.store(false);
    return std::exchange(m_unqueued, {});
}

} // namespace vxcam
