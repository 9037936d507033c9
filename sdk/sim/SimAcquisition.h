// The acquisition engine of one simulated camera: its trigger settings and acquisition state, and one
// delivery lane per data stream, each with its own thread that fills queued buffers and hands them to the
// stream's new-buffer handler.
//
// Frames come only while the camera's acquisition runs ("AcquisitionStart" executed, no stop since) and the
// stream is grabbing. With "TriggerMode" "Off" they come at `frameRate`; with "On" they come once per
// "TriggerSoftware" when the source is "Software" or "SoftwareTrigger", and at `lineRate` when it is "Line0".
// A frame for which no buffer is queued is lost and counted; its frame ID is used up all the same.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/sim/SimConfig.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdk {
class Buffer;
}

namespace sdk::sim {

class SimAcquisition : public std::enable_shared_from_this<SimAcquisition> {
public:
    // Shared by the camera, its streams and their threads, so that a lane whose stream is destroyed from its
    // own delivery thread can still finish safely.
    // `payloadSize` is the bytes of one buffer; the pattern is rendered once, at that size.
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

    // ---- stream side; `lane` is the stream's index. Thread-safe unless noted. ----
    void startLane(std::size_t lane);
    // Stops filling buffers and returns once no buffer of the lane is in flight, unless it is called from the
    // lane's own delivery thread.
    void stopLane(std::size_t lane);
    void bindHandler(std::size_t lane, void* owner, Events::NewBufferEventHandler handler);
    [[nodiscard]] bool grabbing(std::size_t lane) const;
    [[nodiscard]] uint64_t lostFrames(std::size_t lane) const;

    // Input queue of the lane. Queueing a buffer twice is refused (false).
    [[nodiscard]] bool queue(std::size_t lane, Buffer* buffer);
    // Takes the buffer out of the input queue, waiting first while it is in flight (unless on the lane's thread).
    void withdraw(std::size_t lane, Buffer* buffer);
    [[nodiscard]] uint64_t queuedCount(std::size_t lane) const;

    // Ends the lane's thread: joined, or left to finish on its own when called from that thread.
    void endLane(std::size_t lane) noexcept;

private:
    struct Lane;
    using Clock = std::chrono::steady_clock;

    SimAcquisition(const SimDeviceConfig& config, uint64_t payloadSize);
    void run(std::size_t index);
    // Waits for the lane's next frame event; false when the lane is to end. Called with m_mutex held.
    bool awaitFrameEvent(Lane& lane, std::unique_lock<std::mutex>& lock);
    void deliverFrame(Lane& lane, std::unique_lock<std::mutex>& lock);
    void changed(); // with m_mutex held: wakes every lane to look at the new state
    [[nodiscard]] bool onLaneThread(const Lane& lane) const;
    void awaitNoFlight(Lane& lane, std::unique_lock<std::mutex>& lock, const Buffer* buffer = nullptr);

    const SimDeviceConfig m_config;
    std::vector<unsigned char> m_pattern; // one rendered frame, copied into every buffer; fixed after creation

    // Guards everything below: the host's thread changes triggers and lanes while the lanes' threads deliver.
    mutable std::mutex m_mutex;
    std::condition_variable m_wake; // any change of state below
    uint64_t m_nGeneration = 0;     // raised on every change that may alter a lane's schedule
    bool m_bRunning = false;        // "AcquisitionStart" executed, no stop since
    bool m_bTriggerOn = false;
    std::string m_triggerSource;
    uint64_t m_nSoftwareTriggers = 0; // software triggers accepted so far
    std::vector<std::unique_ptr<Lane>> m_lanes;
};

} // namespace sdk::sim
