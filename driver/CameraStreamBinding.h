// One data stream's binding to a driver object: what the stream's new-buffer handler is called with, and the
// buffers the object allocated for the stream.
//
// Shared by the object's stream records and by the SDK, which holds it as the binding's lease for as long as the
// binding may call the handler (until it is unbound, or the stream ends, and the last handler call has
// returned). While it exists it counts as inside the object, so the object is never freed under a handler call
// in progress; its end frees the buffers (no call reads them any more) and then leaves the object, which the
// last one out frees.
#pragma once

#include "driver/CameraLifecycle.h"
#include "driver/ThreadSafety.h"
#include "sdk/Buffer.h"

#include <atomic>
#include <memory>
#include <vector>

class CCameraVeyra;

namespace sdk {
class DataStream;
class Device;
} // namespace sdk

namespace vxcam {

class StreamBinding {
public:
    StreamBinding(CCameraVeyra& camera, std::shared_ptr<CameraLifecycle> lifecycle, sdk::Device* device,
                  sdk::DataStream* stream);
    ~StreamBinding();
    StreamBinding(const StreamBinding&) = delete;
    StreamBinding& operator=(const StreamBinding&) = delete;

    // Any thread: alive as long as this binding.
    [[nodiscard]] CCameraVeyra& camera() const noexcept { return m_camera; }
    [[nodiscard]] CameraLifecycle& lifecycle() const noexcept { return *m_pLifecycle; }

    // For the object's records only (inside a call); deliveries never touch them.
    [[nodiscard]] sdk::Device* device() const noexcept { return m_pDevice; }
    [[nodiscard]] sdk::DataStream* stream() const noexcept { return m_pStream; }

    // The object's buffers for the stream: added inside a call, taken out by the revocation, freed with the
    // binding. Inside a call only.
    std::vector<std::unique_ptr<sdk::Buffer>>& buffers() noexcept { return m_buffers; }

    // The buffers were revoked (the stream is being closed): a delivery no longer queues them again. Any thread.
    void markRevoked() noexcept { m_bRevoked.store(true); }
    [[nodiscard]] bool revoked() const noexcept { return m_bRevoked.load(); }

    // Buffers that a delivery could not queue again: tried again by the next delivery and the next start, so
    // that one failure does not take a buffer out of the pool for good. Any thread.
    void keepUnqueued(sdk::Buffer* buffer);
    [[nodiscard]] std::vector<sdk::Buffer*> takeUnqueued();

private:
    CCameraVeyra& m_camera;
    const std::shared_ptr<CameraLifecycle> m_pLifecycle;
    sdk::Device* const m_pDevice;
    sdk::DataStream* const m_pStream;
    std::vector<std::unique_ptr<sdk::Buffer>> m_buffers;
    std::atomic<bool> m_bRevoked{false};

    // Guards m_unqueued: deliveries of the object's streams and its calls add and take.
    Mutex m_unqueuedMutex;
    std::vector<sdk::Buffer*> m_unqueued VXCAM_GUARDED_BY(m_unqueuedMutex);
    std::atomic<bool> m_bAnyUnqueued{false}; // lets deliveries skip the lock while nothing waits
};

} // namespace vxcam
