// The acquisition engine of one simulated camera: its trigger settings and acquisition state, and one lane per
// data stream. Each lane has two threads, as a camera and its host's transport do: the camera's clock fills
// queued buffers at frame time, whatever the host is doing, and the delivery thread hands filled buffers to the
// stream one after the other.
//
// Frames come only while the camera's acquisition runs ("AcquisitionStart" executed, no stop since) and the
// stream is grabbing. With "TriggerMode" "Off" they come at `frameRate`; with "On" they come once per
// "TriggerSoftware" when the source is "Software" or "SoftwareTrigger", and at `lineRate` when it is "Line0".
// A frame for which no buffer is queued when it is taken is lost and counted; its frame ID is used up all the
// same, so a host that holds its buffers too long sees gaps. `incompleteRatio` of the frames arrive with packets
// missing (status incomplete, a short payload).
#pragma once

#include "sdk/Buffer.h"
#include "sdk/sim/SimConfig.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace sdk::sim {

// Where a lane's filled buffers go: the stream. Called on the lane's delivery thread, without the engine's lock,
// with the sink kept alive for the call.
class SimFrameSink {
public:
    SimFrameSink() = default;
    SimFrameSink(const SimFrameSink&) = delete;
    SimFrameSink& operator=(const SimFrameSink&) = delete;
    // True when the buffer went to a handler; false when it is back in the lane's input queue and its frame
    // was not taken by the host because nobody listens.
    virtual bool takeFrame(Buffer& buffer) = 0;

protected:
    ~SimFrameSink() = default;
};

class SimAcquisition : public std::enable_shared_from_this<SimAcquisition> {
public:
    // One data stream's part of the engine: its queues, its threads and its counts. Held by the stream and by
    // the lane's threads, so that a lane outlives a stream that ends on one of them.
    struct Lane;

    // Shared by the camera, its streams and their threads, so that a lane whose stream is destroyed from its
    // own delivery thread can still finish safely. `payloadSize` is the bytes of one buffer. The picture is
    // rendered when the first frame needs it, not before.
    static std::shared_ptr<SimAcquisition> create(const SimDeviceConfig& config, uint64_t payloadSize);
    ~SimAcquisition();
    SimAcquisition(const SimAcquisition&) = delete;
    SimAcquisition& operator=(const SimAcquisition&) = delete;

    // ---- camera side; host thread ----
    void setTriggerMode(const std::string& mode);
    void setTriggerSource(const std::string& source);
    void startAcquisition();
    void stopAcquisition();
    void fireSoftwareTrigger();

    // ---- stream side; `lane` is the stream's own. Thread-safe unless noted. ----
    // A new stream's lane: empty queues and counts, its threads not started yet. The lane holds the sink weakly:
    // a hand-over keeps it alive for its call, and a sink that is going receives nothing more.
    [[nodiscard]] std::shared_ptr<Lane> openLane(std::weak_ptr<SimFrameSink> sink);
    void startLane(Lane& lane);
    // Stops filling buffers; filled buffers not yet delivered go back to the input queue. Returns once no buffer
    // of the lane is being filled or delivered; from inside a handler call it waits only for the filling.
    void stopLane(Lane& lane);
    [[nodiscard]] bool grabbing(const Lane& lane) const;
    [[nodiscard]] uint64_t lostFrames(const Lane& lane) const;

    // A buffer announced to the lane's stream; only announced buffers can be queued.
    void announce(Lane& lane, Buffer* buffer);
    // Input queue of the lane. Queueing a buffer that is queued already, or that is not announced (withdrawn
    // meanwhile), is refused (false).
    [[nodiscard]] bool queue(Lane& lane, Buffer* buffer);
    // Takes the buffer out of the lane, waiting first while it is being filled or delivered (from inside a
    // handler call only while it is being filled).
    void withdraw(Lane& lane, Buffer* buffer);
    [[nodiscard]] uint64_t queuedCount(const Lane& lane) const;

    // Ends the lane's threads: joined, or handed to the reaper when called on the lane's delivery thread (its
    // stream ended there). The sink is not called again afterwards.
    void endLane(Lane& lane) noexcept;

    // The simulator's own work for one frame, without any thread or wait: fill `buffer` (which has its memory)
    // with the picture and describe it. For benchmarks that must tell the simulator's cost from the driver's.
    void fillForMeasurement(Buffer& buffer, uint64_t frameId);

private:
    using Clock = std::chrono::steady_clock;

    SimAcquisition(const SimDeviceConfig& config, uint64_t payloadSize);
    // The camera's clock: takes frames at their time into queued buffers.
    void runClock(Lane& lane);
    // The host's side of the transport: hands filled buffers on, oldest first.
    void runDelivery(Lane& lane);
    // Waits for the lane's next frame event; false when the lane is to end. Called with m_mutex held.
    bool awaitFrameEvent(Lane& lane, std::unique_lock<std::mutex>& lock);
    void takeFrame(Lane& lane, std::unique_lock<std::mutex>& lock);
    void deliverNext(Lane& lane, std::unique_lock<std::mutex>& lock);
    void fill(Buffer& buffer, uint64_t frameId, uint64_t frameIndex);
    const std::vector<unsigned char>& pattern();
    void changed(); // with m_mutex held: wakes every lane to look at the new state
    void awaitIdle(Lane& lane, std::unique_lock<std::mutex>& lock, const Buffer* buffer = nullptr);

    const SimDeviceConfig m_config;
    const uint64_t m_nPayloadSize;
    const Clock::time_point m_powerOn; // the camera's clock starts here: timestamps count from it

    // One rendered frame, copied into every buffer. Rendered once, by the first frame that needs it; fixed
    // afterwards. Empty when the picture cannot be had (memory): frames then arrive failed.
    std::once_flag m_patternOnce;
    std::vector<unsigned char> m_pattern;

    // Guards everything below: the host's thread changes triggers and lanes while the lanes' threads deliver.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // any change of state below
    uint64_t m_nGeneration = 0;     // raised on every change that may alter a lane's schedule
    bool m_bRunning = false;        // "AcquisitionStart" executed, no stop since
    bool m_bTriggerOn = false;
    std::string m_triggerSource;
    uint64_t m_nSoftwareTriggers = 0; // software triggers accepted so far

};

} // namespace sdk::sim
