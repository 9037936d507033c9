// The live viewer's callback object: keeps the newest frame that the window has not shown yet and follows the
// frame IDs; the window takes the frame on its own refresh tick. The delivery thread never waits for the
// window and never calls into Qt: a frame that arrives before the last one was shown replaces it.
#pragma once

#include "contract/ICameraObject.h"
#include "host/FrameCollector.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace vxcam::host {

// The newest frame, copied out of the callback.
struct LiveFrame {
    CapturedFrame frame;
    FrameFormat format;
};

struct LiveCounts {
    int64_t received = 0;
    int64_t lost = 0; // frame IDs skipped
    std::optional<uint32_t> lastFrameId;
};

class LiveFrames final : public ICameraCallback {
public:
    LiveFrames() = default;

    // Called on the module's delivery thread.
    void OnImageReady(ICameraObject* camera) override;

    // ---- window thread ----
    // The newest frame not shown yet, out of the slot.
    [[nodiscard]] std::optional<LiveFrame> takeNewest();
    [[nodiscard]] LiveCounts counts() const;

private:
    // Guards the members below: written on the delivery thread, read on the window's.
    mutable std::mutex m_mutex;
    std::optional<LiveFrame> m_newest;
    LiveCounts m_counts;
};

} // namespace vxcam::host
