#include "sdk/sim/SimAcquisition.h"

#include "sdk/core/BufferAccess.h"
#include "sdk/core/DeliveryThreads.h"
#include "sdk/sim/SimPattern.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sdk::sim {

struct SimAcquisition::Lane : std::enable_shared_from_this<Lane> {
    std::thread clock;    // the camera's side: takes frames into queued buffers
    std::thread delivery; // the host's side: hands filled buffers to the sink
    // The threads' ids, kept after endLane took the threads to join them: neither ever waits for itself.
    std::thread::id clockId;
    std::thread::id deliveryId;
    std::weak_ptr<SimFrameSink> sink; // the stream; cleared when the lane ends
    std::unordered_set<Buffer*> announced; // buffers of the stream that may be queued
    bool bQuit = false;             // the lane's threads are to end
    bool bGrabbing = false;         // the stream is grabbing
    std::deque<Buffer*> queue;      // buffers waiting to be filled, oldest first
    std::deque<Buffer*> filled;     // buffers filled and waiting to be delivered, oldest first
    Buffer* pFilling = nullptr;     // the buffer the clock thread writes
    Buffer* pDelivering = nullptr;  // the buffer with the sink
    uint64_t nNextFrameId = 0;      //
    uint64_t nFrameIndex = 0;       // frames taken since the lane was built: picks the incomplete ones
    uint64_t nLost = 0;             //
    uint64_t nConsumedTriggers = 0; // software triggers this lane has answered
    uint64_t nSeenGeneration = 0;   // the state its schedule was made for
    Clock::time_point nextFrame{};  // the timed modes' next frame
};

std::shared_ptr<SimAcquisition> SimAcquisition::create(const SimDeviceConfig& config, uint64_t payloadSize) {
    return std::shared_ptr<SimAcquisition>(new SimAcquisition(config, payloadSize)); // NOLINT: private constructor
}

SimAcquisition::SimAcquisition(const SimDeviceConfig& config, uint64_t payloadSize)
    : m_config(config), m_nPayloadSize(payloadSize), m_powerOn(Clock::now()),
      m_triggerSource(config.triggerSources.empty() ? std::string() : config.triggerSources.front()) {
}

// Every lane's threads were ended before: they hold the engine, so the engine ends after its last thread.
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

std::shared_ptr<SimAcquisition::Lane> SimAcquisition::openLane(std::weak_ptr<SimFrameSink> sink) {
    auto lane = std::make_shared<Lane>();
    lane->sink = std::move(sink);
    return lane;
}

void SimAcquisition::startLane(Lane& l) {
    const std::lock_guard lock(m_mutex);
    if (!l.clock.joinable() && !l.bQuit) {
        // The threads hold the engine and their lane, so that they can outlive a stream that ends on one of them.
        const std::shared_ptr<Lane> held = l.shared_from_this();
        l.clock = std::thread([engine = shared_from_this(), held] { engine->runClock(*held); });
        l.delivery = std::thread([engine = shared_from_this(), held] { engine->runDelivery(*held); });
        l.clockId = l.clock.get_id();
        l.deliveryId = l.delivery.get_id();
    }
    l.bGrabbing = true;
    l.nNextFrameId = m_config.firstFrameId;
    l.nConsumedTriggers = m_nSoftwareTriggers;
    changed();
}

void SimAcquisition::stopLane(Lane& l) {
    std::unique_lock lock(m_mutex);
    l.bGrabbing = false;
    // Frames taken but not delivered are dropped with the stop; their buffers wait for the next start.
    l.queue.insert(l.queue.end(), l.filled.begin(), l.filled.end());
    l.filled.clear();
    changed();
    awaitIdle(l, lock);
}

bool SimAcquisition::grabbing(const Lane& lane) const {
    const std::lock_guard lock(m_mutex);
    return lane.bGrabbing;
}

uint64_t SimAcquisition::lostFrames(const Lane& lane) const {
    const std::lock_guard lock(m_mutex);
    return lane.nLost;
}

void SimAcquisition::announce(Lane& lane, Buffer* buffer) {
    const std::lock_guard lock(m_mutex);
    lane.announced.insert(buffer);
}

bool SimAcquisition::queue(Lane& l, Buffer* buffer) {
    const std::lock_guard lock(m_mutex);
    const auto has = [buffer](const std::deque<Buffer*>& q) {
        return std::find(q.begin(), q.end(), buffer) != q.end();
    };
    if (l.announced.count(buffer) == 0 || has(l.queue) || has(l.filled) || l.pFilling == buffer) {
        return false;
    }
    l.queue.push_back(buffer);
    m_wake.notify_all();
    return true;
}

void SimAcquisition::withdraw(Lane& l, Buffer* buffer) {
    std::unique_lock lock(m_mutex);
    awaitIdle(l, lock, buffer);
    l.announced.erase(buffer);
    l.queue.erase(std::remove(l.queue.begin(), l.queue.end(), buffer), l.queue.end());
    l.filled.erase(std::remove(l.filled.begin(), l.filled.end(), buffer), l.filled.end());
}

uint64_t SimAcquisition::queuedCount(const Lane& lane) const {
    const std::lock_guard lock(m_mutex);
    return lane.queue.size();
}

// The stream of the lane ends, and with it the lane. Its clock thread is joined: it never calls out, so it ends
// at once. Its delivery thread has no hand-over in progress (that would keep the stream alive), so joining it
// waits for no handler call; on that thread itself (the stream ended there) it goes to the reaper.
void SimAcquisition::endLane(Lane& l) noexcept {
    std::thread clock;
    std::thread delivery;
    {
        const std::lock_guard lock(m_mutex);
        l.bQuit = true;
        l.bGrabbing = false;
        l.sink.reset();
        l.announced.clear();
        l.queue.clear();
        l.filled.clear();
        clock = std::move(l.clock);
        delivery = std::move(l.delivery);
        changed();
    }
    core::joinOrReap(std::move(clock));
    core::joinOrReap(std::move(delivery));
}

// Waits until the lane fills and delivers no buffer (or not `buffer`, when one is given). A thread inside a
// handler call (a host that stops, closes or revokes from inside a callback, of this camera or another) does
// not wait for a delivery, but it does wait for the clock thread to finish writing a buffer: that never calls
// out, so it always finishes.
void SimAcquisition::awaitIdle(Lane& lane, std::unique_lock<std::mutex>& lock, const Buffer* buffer) {
    const std::thread::id self = std::this_thread::get_id();
    if (lane.clockId == self) {
        return;
    }
    const bool onDelivery = lane.deliveryId == self || core::insideHandlerCall();
    m_wake.wait(lock, [&] {
        const bool filling = buffer != nullptr ? lane.pFilling == buffer : lane.pFilling != nullptr;
        const bool delivering =
            !onDelivery && (buffer != nullptr ? lane.pDelivering == buffer : lane.pDelivering != nullptr);
        return !filling && !delivering;
    });
}

// ---- the camera's clock ----------------------------------------------------------------------------------

void SimAcquisition::runClock(Lane& lane) {
    std::unique_lock lock(m_mutex);
    while (awaitFrameEvent(lane, lock)) {
        takeFrame(lane, lock);
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
        // A new schedule starts one period from now. The clock keeps its beat whatever the host does; only when
        // the simulator itself falls behind by more than a period (a huge frame to copy) does it pick up from now
        // rather than bursting.
        const Clock::time_point now = Clock::now();
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

// Takes one frame into the oldest queued buffer, without the lock held while it writes the buffer.
void SimAcquisition::takeFrame(Lane& lane, std::unique_lock<std::mutex>& lock) {
    const uint64_t frameId = lane.nNextFrameId++;
    const uint64_t frameIndex = lane.nFrameIndex++;
    if (lane.queue.empty()) {
        ++lane.nLost;
        return;
    }
    Buffer* buffer = lane.queue.front();
    lane.queue.pop_front();
    lane.pFilling = buffer;
    lock.unlock();
    fill(*buffer, frameId, frameIndex);
    lock.lock();
    lane.pFilling = nullptr;
    if (lane.bGrabbing && !lane.bQuit) {
        lane.filled.push_back(buffer);
    } else if (!lane.bQuit) {
        lane.queue.push_back(buffer); // stopped while it was taken: the frame is dropped with the stop
    }
    m_wake.notify_all();
}

const std::vector<unsigned char>& SimAcquisition::pattern() {
    std::call_once(m_patternOnce, [this] {
        try {
            m_pattern.assign(m_nPayloadSize, 0);
            static_cast<void>(renderColourBars(m_config.pixelFormat, m_config.width, m_config.height, m_pattern.data(),
                                               m_pattern.size()));
        } catch (const std::bad_alloc&) {
            m_pattern = {}; // frames arrive failed: a camera whose frames do not fit its host's memory
        }
    });
    return m_pattern;
}

void SimAcquisition::fill(Buffer& buffer, uint64_t frameId, uint64_t frameIndex) {
    const std::vector<unsigned char>& picture = pattern();
    core::FrameDescription frame;
    frame.width = m_config.width;
    frame.height = m_config.height;
    frame.frameId = frameId;
    frame.pixelFormat = m_config.pixelFormat;
    frame.timestamp =
        static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_powerOn).count());
    const uint64_t bytes = std::min<uint64_t>(buffer.GetMemSize(), picture.size());
    // Frame k is incomplete when the count of incomplete frames up to k grows by it: exactly the ratio over
    // time, spread evenly, the same on every run.
    const double ratio = m_config.incompleteRatio;
    const bool incomplete = ratio > 0.0 && static_cast<uint64_t>(static_cast<double>(frameIndex + 1) * ratio) >
                                               static_cast<uint64_t>(static_cast<double>(frameIndex) * ratio);
    if (picture.empty() && m_nPayloadSize != 0) {
        frame.status = BufferStatus::Failed;
        frame.payloadSize = 0;
    } else if (incomplete) {
        // The packets of the frame's last quarter never came: that part of the buffer keeps what it held.
        frame.status = BufferStatus::Incomplete;
        frame.payloadSize = bytes - bytes / 4;
    }
    const uint64_t written = frame.payloadSize == UINT64_MAX ? bytes : frame.payloadSize;
    std::memcpy(core::BufferAccess::memory(buffer), picture.data(), written);
    core::BufferAccess::describeFrame(buffer, frame);
}

void SimAcquisition::fillForMeasurement(Buffer& buffer, uint64_t frameId) {
    fill(buffer, frameId, 0);
}

// ---- the delivery side -----------------------------------------------------------------------------------

void SimAcquisition::runDelivery(Lane& lane) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return lane.bQuit || !lane.filled.empty(); });
        if (lane.bQuit) {
            return;
        }
        deliverNext(lane, lock);
    }
}

// Hands the oldest filled buffer to the sink, without the lock held during the call. The sink stays alive for
// the call; when this thread held its last reference, the stream ends here, once the lock is let go.
void SimAcquisition::deliverNext(Lane& lane, std::unique_lock<std::mutex>& lock) {
    Buffer* buffer = lane.filled.front();
    lane.filled.pop_front();
    std::shared_ptr<SimFrameSink> sink = lane.sink.lock();
    if (sink == nullptr) {
        lane.queue.push_back(buffer); // the stream is going: the frame goes with it
        return;
    }
    lane.pDelivering = buffer;
    const bool complete = buffer->IsComplete(); // read while the buffer is still this thread's
    lock.unlock();
    const bool taken = sink->takeFrame(*buffer);
    lock.lock();
    if (!taken && complete && !lane.bQuit) {
        ++lane.nLost; // nobody takes frames: the sink gave the buffer back, and the frame counts as lost
    }
    lane.pDelivering = nullptr;
    m_wake.notify_all();
    lock.unlock();
    sink.reset();
    lock.lock();
}

} // namespace sdk::sim
