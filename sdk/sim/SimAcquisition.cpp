#include "sdk/sim/SimAcquisition.h"

#include "sdk/Buffer.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/sim/SimPattern.h"

#include <algorithm>
#include <cstring>

namespace sdk::sim {

struct SimAcquisition::Lane {
    std::thread thread;
    // The thread's id, kept after endLane took `thread` to join it: that thread never waits for itself.
    std::thread::id threadId;
    bool bQuit = false;          // the lane's thread is to end
    bool bGrabbing = false;      // the stream is grabbing
    std::deque<Buffer*> queue;   // buffers waiting to be filled, oldest first
    Buffer* pInFlight = nullptr; // the buffer being filled or with the handler
    void* pOwner = nullptr;      // the handler's owner
    Events::NewBufferEventHandler pHandler = nullptr;
    uint64_t nNextFrameId = 0;
    uint64_t nLost = 0;
    uint64_t nConsumedTriggers = 0; // software triggers this lane has answered
    uint64_t nSeenGeneration = 0;   // the state its schedule was made for
    Clock::time_point nextFrame{};  // the timed modes' next frame
};

namespace {

// Frames the camera would make with `payload` bytes: the colour bars where the pattern knows the format,
// zeros otherwise.
std::vector<unsigned char> renderPattern(const SimDeviceConfig& config, uint64_t payload) {
    std::vector<unsigned char> pattern(payload, 0);
    static_cast<void>(
        renderColourBars(config.pixelFormat, config.width, config.height, pattern.data(), pattern.size()));
    return pattern;
}

} // namespace

std::shared_ptr<SimAcquisition> SimAcquisition::create(const SimDeviceConfig& config, uint64_t payloadSize) {
    return std::shared_ptr<SimAcquisition>(new SimAcquisition(config, payloadSize)); // NOLINT: private constructor
}

SimAcquisition::SimAcquisition(const SimDeviceConfig& config, uint64_t payloadSize)
    : m_config(config), m_pattern(renderPattern(config, payloadSize)),
      m_triggerSource(config.triggerSources.empty() ? std::string() : config.triggerSources.front()) {
    for (uint32_t index = 0; index < config.streams; ++index) {
        m_lanes.push_back(std::make_unique<Lane>());
    }
}

// Every lane's thread was ended before: it holds the engine, so the engine ends after its last thread.
SimAcquisition::~SimAcquisition() = default;

// ---- camera side -----------------------------------------------------------------------------------------

void SimAcquisition::setTriggerMode(const std::string& mode) {
    const std::lock_guard lock(m_mutex);
    m_bTriggerOn = mode == "On";
    changed();
}

void SimAcquisition::setTriggerSource(const std::string& source) {
    const std::lock_guard lock(m_mutex);
    m_triggerSource = source;
    changed();
}

void SimAcquisition::startAcquisition() {
    const std::lock_guard lock(m_mutex);
    m_bRunning = true;
    changed();
}

void SimAcquisition::stopAcquisition() {
    const std::lock_guard lock(m_mutex);
    m_bRunning = false;
    changed();
}

// A software trigger counts only while the camera waits for one: running, trigger on, software source.
void SimAcquisition::fireSoftwareTrigger() {
    const std::lock_guard lock(m_mutex);
    if (m_bRunning && m_bTriggerOn && (m_triggerSource == "Software" || m_triggerSource == "SoftwareTrigger")) {
        ++m_nSoftwareTriggers;
        m_wake.notify_all();
    }
}

void SimAcquisition::changed() {
    ++m_nGeneration;
    m_wake.notify_all();
}

// ---- stream side -----------------------------------------------------------------------------------------

void SimAcquisition::startLane(std::size_t lane) {
    const std::lock_guard lock(m_mutex);
    Lane& l = *m_lanes.at(lane);
    if (!l.thread.joinable() && !l.bQuit) {
        // The thread holds the engine, so that it can outlive a stream destroyed from the thread itself.
        l.thread = std::thread([engine = shared_from_this(), lane] { engine->run(lane); });
        l.threadId = l.thread.get_id();
    }
    l.bGrabbing = true;
    l.nNextFrameId = m_config.firstFrameId;
    l.nConsumedTriggers = m_nSoftwareTriggers;
    changed();
}

void SimAcquisition::stopLane(std::size_t lane) {
    std::unique_lock lock(m_mutex);
    Lane& l = *m_lanes.at(lane);
    l.bGrabbing = false;
    changed();
    awaitNoFlight(l, lock);
}

void SimAcquisition::bindHandler(std::size_t lane, void* owner, Events::NewBufferEventHandler handler) {
    std::unique_lock lock(m_mutex);
    Lane& l = *m_lanes.at(lane);
    // The earlier binding may be in a call right now; it must be over before the caller lets go of its owner.
    awaitNoFlight(l, lock);
    l.pOwner = handler != nullptr ? owner : nullptr;
    l.pHandler = handler;
}

bool SimAcquisition::grabbing(std::size_t lane) const {
    const std::lock_guard lock(m_mutex);
    return m_lanes.at(lane)->bGrabbing;
}

uint64_t SimAcquisition::lostFrames(std::size_t lane) const {
    const std::lock_guard lock(m_mutex);
    return m_lanes.at(lane)->nLost;
}

bool SimAcquisition::queue(std::size_t lane, Buffer* buffer) {
    const std::lock_guard lock(m_mutex);
    Lane& l = *m_lanes.at(lane);
    if (std::find(l.queue.begin(), l.queue.end(), buffer) != l.queue.end()) {
        return false;
    }
    l.queue.push_back(buffer);
    m_wake.notify_all();
    return true;
}

void SimAcquisition::withdraw(std::size_t lane, Buffer* buffer) {
    std::unique_lock lock(m_mutex);
    Lane& l = *m_lanes.at(lane);
    awaitNoFlight(l, lock, buffer);
    l.queue.erase(std::remove(l.queue.begin(), l.queue.end(), buffer), l.queue.end());
}

uint64_t SimAcquisition::queuedCount(std::size_t lane) const {
    const std::lock_guard lock(m_mutex);
    return m_lanes.at(lane)->queue.size();
}

void SimAcquisition::endLane(std::size_t lane) noexcept {
    std::thread thread;
    {
        const std::lock_guard lock(m_mutex);
        Lane& l = *m_lanes.at(lane);
        l.bQuit = true;
        l.bGrabbing = false;
        l.pHandler = nullptr;
        l.pOwner = nullptr;
        l.queue.clear();
        thread = std::move(l.thread);
        changed();
    }
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach(); // the thread returns into a lane that its own reference keeps alive
    } else {
        thread.join();
    }
}

bool SimAcquisition::onLaneThread(const Lane& lane) const {
    return lane.threadId == std::this_thread::get_id();
}

// Waits until the lane has no buffer in flight (or not `buffer`, when one is given). The lane's own thread
// never waits for itself: it is the one delivering.
void SimAcquisition::awaitNoFlight(Lane& lane, std::unique_lock<std::mutex>& lock, const Buffer* buffer) {
    if (onLaneThread(lane)) {
        return;
    }
    m_wake.wait(lock, [&] { return lane.pInFlight == nullptr || (buffer != nullptr && lane.pInFlight != buffer); });
}

// ---- the lanes' threads ----------------------------------------------------------------------------------

void SimAcquisition::run(std::size_t index) {
    Lane& lane = *m_lanes[index];
    std::unique_lock lock(m_mutex);
    while (awaitFrameEvent(lane, lock)) {
        deliverFrame(lane, lock);
    }
}

bool SimAcquisition::awaitFrameEvent(Lane& lane, std::unique_lock<std::mutex>& lock) {
    for (;;) {
        if (lane.bQuit) {
            return false;
        }
        if (!lane.bGrabbing || !m_bRunning) {
            m_wake.wait(lock);
            continue;
        }
        const uint64_t generation = m_nGeneration;
        const bool fresh = lane.nSeenGeneration != generation;
        lane.nSeenGeneration = generation;
        const bool software = m_bTriggerOn && (m_triggerSource == "Software" || m_triggerSource == "SoftwareTrigger");
        if (software) {
            if (lane.nConsumedTriggers < m_nSoftwareTriggers) {
                ++lane.nConsumedTriggers;
                return true;
            }
            m_wake.wait(lock);
            continue;
        }
        // Free run at the frame rate; a line trigger at the line rate; any other source never fires.
        const double rate = !m_bTriggerOn ? m_config.frameRate : (m_triggerSource == "Line0" ? m_config.lineRate : 0.0);
        if (rate <= 0.0) {
            m_wake.wait(lock);
            continue;
        }
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        const Clock::time_point now = Clock::now();
        // A new schedule starts one period from now; a lane that fell behind (a slow handler) picks up from now
        // rather than bursting.
        if (fresh || lane.nextFrame < now - period) {
            lane.nextFrame = now + period;
        }
        if (m_wake.wait_until(lock, lane.nextFrame, [&] { return lane.bQuit || m_nGeneration != generation; })) {
            continue;
        }
        lane.nextFrame += period;
        return true;
    }
}

// Fills the oldest queued buffer and hands it to the handler, without the lock held during the call.
void SimAcquisition::deliverFrame(Lane& lane, std::unique_lock<std::mutex>& lock) {
    const uint64_t frameId = lane.nNextFrameId++;
    if (lane.queue.empty()) {
        ++lane.nLost;
        return;
    }
    Buffer* buffer = lane.queue.front();
    lane.queue.pop_front();
    lane.pInFlight = buffer;
    void* owner = lane.pOwner;
    const Events::NewBufferEventHandler handler = lane.pHandler;
    lock.unlock();

    const uint64_t bytes = std::min<uint64_t>(buffer->GetMemSize(), m_pattern.size());
    std::memcpy(core::BufferAccess::memory(*buffer), m_pattern.data(), bytes);
    const auto timestamp = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
    // The engine's configuration is fixed for its life, so its pixel-format text may stand in the buffer.
    core::BufferAccess::describeFrame(*buffer, m_config.width, m_config.height, frameId, m_config.pixelFormat.c_str(),
                                      static_cast<uint64_t>(timestamp.count()));
    if (handler != nullptr) {
        handler(owner, buffer);
    }

    lock.lock();
    if (handler == nullptr && !lane.bQuit) {
        // Nobody takes frames: the buffer goes back, and the frame counts as lost.
        lane.queue.push_back(buffer);
        ++lane.nLost;
    }
    lane.pInFlight = nullptr;
    m_wake.notify_all();
}

} // namespace sdk::sim
