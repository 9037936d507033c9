// A host callback for tests: counts frames, records what the object's frame members said during each call,
// runs an optional action inside the call, and lets the test wait for a number of frames.
#pragma once

#include "contract/ICameraObject.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace vxcam::test {

struct RecordedFrame {
    const unsigned char* data;
    int32_t width;
    int32_t height;
    int32_t frameId;
};

class FrameRecorder final : public ICameraCallback {
public:
    // Runs inside OnImageReady, on the delivery thread, after the frame is recorded.
    using Action = std::function<void(ICameraObject& camera, const RecordedFrame& frame)>;

    void setAction(Action action);
    void OnImageReady(ICameraObject* camera) override;

    // Waits until at least `count` frames arrived in all; false on timeout.
    [[nodiscard]] bool waitForFrames(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    [[nodiscard]] std::vector<RecordedFrame> frames() const;
    [[nodiscard]] std::size_t count() const;
    void clear();

private:
    // Guards the members below: frames arrive on delivery threads while the test reads them.
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<RecordedFrame> m_frames;
    Action m_action;
};

} // namespace vxcam::test
