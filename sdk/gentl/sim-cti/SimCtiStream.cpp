#include "sdk/gentl/sim-cti/SimCtiStream.h"

#include "sdk/gentl/sim-cti/SimCtiReply.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sdk::simcti {

struct SimCtiStream::Buffer {
    unsigned char* base = nullptr;
    size_t size = 0;
    void* userPointer = nullptr;
    std::unique_ptr<unsigned char[]> owned; // memory the stream allocated; null for the consumer's own
    Place place = Place::Announced;
    // The last frame written into it.
    bool newData = false;
    uint64_t frameId = 0;
    uint64_t timestamp = 0; // nanoseconds on the camera's clock
    size_t filled = 0;
    bool incomplete = false;
    bool largerThanBuffer = false;
};

SimCtiStream::SimCtiStream(std::shared_ptr<SimCtiCamera> camera, uint32_t index)
    : m_pCamera(std::move(camera)), m_id("Stream" + std::to_string(index)), m_clock([this] { runClock(); }) {}

SimCtiStream::~SimCtiStream() {
    end();
}

void SimCtiStream::end() noexcept {
    {
        const std::lock_guard lock(m_pCamera->mutex);
        m_bQuit = true;
        m_bAcquiring = false;
        m_input.clear();
        m_output.clear();
        m_pCamera->wake.notify_all(); // a consumer still waiting for an event of this stream gets its answer
    }
    if (m_clock.joinable()) {
        m_clock.join();
    }
    const std::lock_guard lock(m_pCamera->mutex);
    for (const auto& buffer : m_buffers) {
        buffer->place = Place::Announced;
    }
}

// ---- buffers ---------------------------------------------------------------------------------------------

SimCtiStream::Buffer* SimCtiStream::find(BUFFER_HANDLE handle) const {
    for (const auto& buffer : m_buffers) {
        if (buffer.get() == handle) {
            return buffer.get();
        }
    }
    return nullptr;
}

GC_ERROR SimCtiStream::add(std::unique_ptr<Buffer> buffer, BUFFER_HANDLE* handle) {
    const std::lock_guard lock(m_pCamera->mutex);
    *handle = buffer.get();
    m_buffers.push_back(std::move(buffer));
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::announce(void* memory, size_t size, void* userPointer, BUFFER_HANDLE* handle) {
    if (memory == nullptr || size == 0 || handle == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "a buffer needs memory, a size and a place for its handle");
    }
    auto buffer = std::make_unique<Buffer>();
    buffer->base = static_cast<unsigned char*>(memory);
    buffer->size = size;
    buffer->userPointer = userPointer;
    return add(std::move(buffer), handle);
}

GC_ERROR SimCtiStream::allocateAndAnnounce(size_t size, void* userPointer, BUFFER_HANDLE* handle) {
    if (size == 0 || handle == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "a buffer needs a size and a place for its handle");
    }
    auto buffer = std::make_unique<Buffer>();
    buffer->owned.reset(new (std::nothrow) unsigned char[size]); // NOLINT(cppcoreguidelines-owning-memory)
    if (!buffer->owned) {
        return fail(GC_ERR_OUT_OF_MEMORY, "no memory for a buffer of " + std::to_string(size) + " bytes");
    }
    buffer->base = buffer->owned.get();
    buffer->size = size;
    buffer->userPointer = userPointer;
    return add(std::move(buffer), handle);
}

GC_ERROR SimCtiStream::revoke(BUFFER_HANDLE handle, void** memory, void** userPointer) {
    const std::lock_guard lock(m_pCamera->mutex);
    Buffer* buffer = find(handle);
    if (buffer == nullptr) {
        return fail(GC_ERR_INVALID_HANDLE, "the buffer is not announced to " + m_id);
    }
    if (buffer->place == Place::Input || buffer->place == Place::Filling || buffer->place == Place::Output) {
        return fail(GC_ERR_BUSY, "the buffer is queued; flush the queues first");
    }
    if (memory != nullptr) {
        *memory = buffer->owned ? nullptr : buffer->base; // memory the stream allocated goes with the buffer
    }
    if (userPointer != nullptr) {
        *userPointer = buffer->userPointer;
    }
    m_buffers.erase(std::find_if(m_buffers.begin(), m_buffers.end(),
                                 [buffer](const std::unique_ptr<Buffer>& b) { return b.get() == buffer; }));
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::queue(BUFFER_HANDLE handle) {
    const std::lock_guard lock(m_pCamera->mutex);
    Buffer* buffer = find(handle);
    if (buffer == nullptr) {
        return fail(GC_ERR_INVALID_HANDLE, "the buffer is not announced to " + m_id);
    }
    if (buffer->place != Place::Announced && buffer->place != Place::WithConsumer) {
        return fail(GC_ERR_RESOURCE_IN_USE, "the buffer is queued already");
    }
    buffer->place = Place::Input;
    buffer->newData = false;
    m_input.push_back(buffer);
    m_pCamera->wake.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::flush(ACQ_QUEUE_TYPE operation) {
    const std::lock_guard lock(m_pCamera->mutex);
    const auto toInput = [this](Buffer* buffer) {
        buffer->place = Place::Input;
        buffer->newData = false;
        m_input.push_back(buffer);
    };
    switch (operation) {
    case ACQ_QUEUE_INPUT_TO_OUTPUT:
        for (Buffer* buffer : m_input) {
            buffer->place = Place::Output;
            buffer->newData = false;
            m_output.push_back(buffer);
        }
        m_input.clear();
        break;
    case ACQ_QUEUE_OUTPUT_DISCARD:
        for (Buffer* buffer : m_output) {
            buffer->place = Place::Announced;
        }
        m_output.clear();
        break;
    case ACQ_QUEUE_ALL_TO_INPUT:
    case ACQ_QUEUE_UNQUEUED_TO_INPUT: {
        std::deque<Buffer*> output;
        if (operation == ACQ_QUEUE_ALL_TO_INPUT) {
            output.swap(m_output);
        }
        for (Buffer* buffer : output) {
            toInput(buffer);
        }
        for (const auto& buffer : m_buffers) {
            if (buffer->place == Place::Announced || buffer->place == Place::WithConsumer) {
                toInput(buffer.get());
            }
        }
        break;
    }
    case ACQ_QUEUE_ALL_DISCARD:
        for (Buffer* buffer : m_input) {
            buffer->place = Place::Announced;
        }
        for (Buffer* buffer : m_output) {
            buffer->place = Place::Announced;
        }
        m_input.clear();
        m_output.clear();
        break;
    default:
        return fail(GC_ERR_INVALID_PARAMETER, "unknown queue operation " + std::to_string(operation));
    }
    m_pCamera->wake.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::bufferId(uint32_t index, BUFFER_HANDLE* handle) {
    if (handle == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no place for the buffer's handle");
    }
    const std::lock_guard lock(m_pCamera->mutex);
    if (index >= m_buffers.size()) {
        return fail(GC_ERR_INVALID_INDEX, "the stream has " + std::to_string(m_buffers.size()) + " buffers");
    }
    *handle = m_buffers[index].get();
    return GC_ERR_SUCCESS;
}

// ---- acquisition -----------------------------------------------------------------------------------------

GC_ERROR SimCtiStream::start(uint64_t framesToAcquire) {
    const std::lock_guard lock(m_pCamera->mutex);
    if (m_bAcquiring) {
        return fail(GC_ERR_RESOURCE_IN_USE, "the stream acquires already");
    }
    m_bAcquiring = true;
    m_nToAcquire = framesToAcquire == 0 ? GENTL_INFINITE : framesToAcquire;
    m_nStarted = 0;
    m_nNextFrameId = m_pCamera->config().firstFrameId;
    m_nConsumedTriggers = m_pCamera->trigger.softwareTriggers;
    ++m_pCamera->trigger.generation;
    m_pCamera->wake.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::stop() {
    std::unique_lock lock(m_pCamera->mutex);
    m_bAcquiring = false;
    ++m_pCamera->trigger.generation;
    m_pCamera->wake.notify_all();
    m_pCamera->wake.wait(lock, [this] {
        return std::none_of(m_buffers.begin(), m_buffers.end(),
                            [](const std::unique_ptr<Buffer>& b) { return b->place == Place::Filling; });
    });
    return GC_ERR_SUCCESS;
}

void SimCtiStream::runClock() {
    std::unique_lock lock(m_pCamera->mutex);
    while (awaitFrame(lock)) {
        takeFrame(lock);
    }
}

bool SimCtiStream::awaitFrame(std::unique_lock<std::mutex>& lock) {
    SimCtiCamera& camera = *m_pCamera;
    SimCtiCamera::Trigger& trigger = camera.trigger;
    for (;;) {
        if (m_bQuit) {
            return false;
        }
        if (!m_bAcquiring || !trigger.running) {
            camera.wake.wait(lock);
            continue;
        }
        const uint64_t generation = trigger.generation;
        const bool fresh = m_nSeenGeneration != generation;
        m_nSeenGeneration = generation;
        if (trigger.on && camera.softwareSource()) {
            if (m_nConsumedTriggers < trigger.softwareTriggers) {
                ++m_nConsumedTriggers;
                return true;
            }
            camera.wake.wait(lock);
            continue;
        }
        // Free run at the frame rate; a line trigger at the line rate; any other source never fires.
        const sim::SimDeviceConfig& config = camera.config();
        const double rate = !trigger.on ? config.frameRate : (trigger.source == "Line0" ? config.lineRate : 0.0);
        if (rate <= 0.0) {
            camera.wake.wait(lock);
            continue;
        }
        using Clock = SimCtiCamera::Clock;
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
        const Clock::time_point now = Clock::now();
        if (fresh || m_nextFrame < now - period) {
            m_nextFrame = now + period;
        }
        if (camera.wake.wait_until(lock, m_nextFrame, [&] { return m_bQuit || trigger.generation != generation; })) {
            continue;
        }
        m_nextFrame += period;
        return true;
    }
}

// Takes one frame into the oldest queued buffer, without the lock held while it writes the buffer.
void SimCtiStream::takeFrame(std::unique_lock<std::mutex>& lock) {
    const uint64_t frameId = m_nNextFrameId++;
    const uint64_t frameIndex = m_nFrameIndex++;
    ++m_nStarted;
    if (m_nToAcquire != GENTL_INFINITE && --m_nToAcquire == 0) {
        m_bAcquiring = false; // the frames asked for at the start are taken
    }
    if (m_input.empty()) {
        ++m_nUnderrun;
        return;
    }
    Buffer* buffer = m_input.front();
    m_input.pop_front();
    buffer->place = Place::Filling;
    lock.unlock();
    fill(*buffer, frameId, frameIndex);
    lock.lock();
    if (m_bQuit) {
        buffer->place = Place::Announced;
    } else if (m_bAcquiring || m_nToAcquire == 0) {
        buffer->place = Place::Output;
        buffer->newData = true;
        m_output.push_back(buffer);
        ++m_nDelivered;
        ++m_nEventsFired;
    } else {
        // Stopped while it was taken: the frame goes with the stop, the buffer waits for the next start.
        buffer->place = Place::Input;
        m_input.push_front(buffer);
    }
    m_pCamera->wake.notify_all();
}

void SimCtiStream::fill(Buffer& buffer, uint64_t frameId, uint64_t frameIndex) {
    const std::vector<unsigned char>& picture = m_pCamera->picture();
    const uint64_t payload = m_pCamera->payloadSize();
    buffer.frameId = frameId;
    buffer.timestamp = m_pCamera->nowNs();
    buffer.largerThanBuffer = picture.size() > buffer.size;
    size_t bytes = std::min<size_t>(buffer.size, picture.size());
    // Frame k is incomplete when the count of incomplete frames up to k grows by it: the file's ratio spread
    // evenly, the same on every run.
    const double ratio = m_pCamera->config().incompleteRatio;
    const bool incomplete = ratio > 0.0 && static_cast<uint64_t>(static_cast<double>(frameIndex + 1) * ratio) >
                                               static_cast<uint64_t>(static_cast<double>(frameIndex) * ratio);
    if (incomplete) {
        bytes -= bytes / 4; // the packets of the frame's last quarter never came
    }
    std::memcpy(buffer.base, picture.data(), bytes);
    buffer.filled = bytes;
    // A picture that could not be had, or a buffer too small for the frame, is no complete frame either.
    buffer.incomplete = incomplete || buffer.largerThanBuffer || (picture.empty() && payload != 0);
}

// ---- information -----------------------------------------------------------------------------------------

GC_ERROR SimCtiStream::info(STREAM_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size) {
    const std::lock_guard lock(m_pCamera->mutex);
    switch (command) {
    case STREAM_INFO_ID:
        return putString(type, buffer, size, m_id);
    case STREAM_INFO_NUM_DELIVERED:
        return putUint64(type, buffer, size, m_nDelivered);
    case STREAM_INFO_NUM_UNDERRUN:
        return putUint64(type, buffer, size, m_nUnderrun);
    case STREAM_INFO_NUM_ANNOUNCED:
        return putSize(type, buffer, size, m_buffers.size());
    case STREAM_INFO_NUM_QUEUED:
        return putSize(type, buffer, size, m_input.size());
    case STREAM_INFO_NUM_AWAIT_DELIVERY:
        return putSize(type, buffer, size, m_output.size());
    case STREAM_INFO_NUM_STARTED:
        return putUint64(type, buffer, size, m_nStarted);
    case STREAM_INFO_PAYLOAD_SIZE:
        return putSize(type, buffer, size, m_pCamera->payloadSize());
    case STREAM_INFO_IS_GRABBING:
        return putBool(type, buffer, size, m_bAcquiring);
    case STREAM_INFO_DEFINES_PAYLOADSIZE:
        return putBool(type, buffer, size, true);
    case STREAM_INFO_TLTYPE:
        return putString(type, buffer, size, "Custom");
    case STREAM_INFO_NUM_CHUNKS_MAX:
        return putSize(type, buffer, size, 0);
    case STREAM_INFO_BUF_ANNOUNCE_MIN: // one buffer will do, on any byte
    case STREAM_INFO_BUF_ALIGNMENT:
        return putSize(type, buffer, size, 1);
    default:
        return unknownCommand(command);
    }
}

GC_ERROR SimCtiStream::bufferInfo(BUFFER_HANDLE handle, BUFFER_INFO_CMD command, INFO_DATATYPE* type, void* out,
                                  size_t* size) {
    const std::lock_guard lock(m_pCamera->mutex);
    const Buffer* buffer = find(handle);
    if (buffer == nullptr) {
        return fail(GC_ERR_INVALID_HANDLE, "the buffer is not announced to " + m_id);
    }
    const sim::SimDeviceConfig& config = m_pCamera->config();
    switch (command) {
    case BUFFER_INFO_BASE:
        return putPointer(type, out, size, buffer->base);
    case BUFFER_INFO_SIZE:
        return putSize(type, out, size, buffer->size);
    case BUFFER_INFO_USER_PTR:
        return putPointer(type, out, size, buffer->userPointer);
    case BUFFER_INFO_TIMESTAMP: // the camera's clock counts nanoseconds
    case BUFFER_INFO_TIMESTAMP_NS:
        return putUint64(type, out, size, buffer->timestamp);
    case BUFFER_INFO_NEW_DATA:
        return putBool(type, out, size, buffer->newData);
    case BUFFER_INFO_IS_QUEUED:
        return putBool(type, out, size, buffer->place == Place::Input || buffer->place == Place::Filling);
    case BUFFER_INFO_IS_ACQUIRING:
        return putBool(type, out, size, buffer->place == Place::Filling);
    case BUFFER_INFO_IS_INCOMPLETE:
        return putBool(type, out, size, buffer->incomplete);
    case BUFFER_INFO_TLTYPE:
        return putString(type, out, size, "Custom");
    case BUFFER_INFO_SIZE_FILLED:
    case BUFFER_INFO_DATA_SIZE:
        return putSize(type, out, size, buffer->filled);
    case BUFFER_INFO_WIDTH:
        return putSize(type, out, size, config.width);
    case BUFFER_INFO_HEIGHT:
    case BUFFER_INFO_DELIVERED_IMAGEHEIGHT:
        return putSize(type, out, size, config.height);
    case BUFFER_INFO_XOFFSET:
    case BUFFER_INFO_YOFFSET:
    case BUFFER_INFO_XPADDING:
    case BUFFER_INFO_YPADDING:
    case BUFFER_INFO_IMAGEOFFSET:
        return putSize(type, out, size, 0);
    case BUFFER_INFO_FRAMEID:
        return putUint64(type, out, size, buffer->frameId);
    case BUFFER_INFO_IMAGEPRESENT:
        return putBool(type, out, size, true);
    case BUFFER_INFO_PAYLOADTYPE:
        return putSize(type, out, size, PAYLOAD_TYPE_IMAGE);
    case BUFFER_INFO_PIXELFORMAT:
    case BUFFER_INFO_PIXELFORMAT_NAMESPACE: {
        const BufferFormat format = m_pCamera->bufferFormat(buffer->frameId);
        if (!format.given) {
            return fail(GC_ERR_NOT_AVAILABLE, "the buffer has no pixel format code");
        }
        return putUint64(type, out, size, command == BUFFER_INFO_PIXELFORMAT ? format.code : format.space);
    }
    case BUFFER_INFO_PIXEL_ENDIANNESS:
        return putInt32(type, out, size, PIXELENDIANNESS_LITTLE);
    case BUFFER_INFO_DATA_LARGER_THAN_BUFFER:
        return putBool(type, out, size, buffer->largerThanBuffer);
    case BUFFER_INFO_CONTAINS_CHUNKDATA:
        return putBool(type, out, size, false);
    default:
        return unknownCommand(command);
    }
}

// ---- the new-buffer event --------------------------------------------------------------------------------

GC_ERROR SimCtiStream::registerNewBufferEvent() {
    const std::lock_guard lock(m_pCamera->mutex);
    if (m_bEventRegistered) {
        return fail(GC_ERR_RESOURCE_IN_USE, "the new-buffer event of " + m_id + " is registered already");
    }
    m_bEventRegistered = true;
    m_nKills = 0;
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::unregisterNewBufferEvent() {
    const std::lock_guard lock(m_pCamera->mutex);
    if (!m_bEventRegistered) {
        return fail(GC_ERR_NOT_AVAILABLE, "the new-buffer event of " + m_id + " is not registered");
    }
    m_bEventRegistered = false;
    ++m_nKills; // a wait still running ends
    m_pCamera->wake.notify_all();
    return GC_ERR_SUCCESS;
}

GC_ERROR SimCtiStream::waitNewBuffer(void* data, size_t* size, uint64_t timeoutMs) {
    if (size == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no size given for the event data");
    }
    if (data == nullptr || *size < sizeof(EVENT_NEW_BUFFER_DATA)) {
        *size = sizeof(EVENT_NEW_BUFFER_DATA);
        return fail(GC_ERR_BUFFER_TOO_SMALL, "the event data needs " + std::to_string(*size) + " bytes");
    }
    std::unique_lock lock(m_pCamera->mutex);
    const auto ready = [this] { return m_bQuit || m_nKills > 0 || !m_output.empty() || !m_bEventRegistered; };
    if (timeoutMs == GENTL_INFINITE) {
        m_pCamera->wake.wait(lock, ready);
    } else if (!m_pCamera->wake.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return fail(GC_ERR_TIMEOUT, "no new buffer within " + std::to_string(timeoutMs) + " ms");
    }
    if (m_bQuit) {
        return fail(GC_ERR_ABORT, m_id + " is closed");
    }
    if (m_nKills > 0 || !m_bEventRegistered) {
        m_nKills = m_nKills > 0 ? m_nKills - 1 : 0;
        return fail(GC_ERR_ABORT, "the wait for a new buffer was ended");
    }
    Buffer* buffer = m_output.front();
    m_output.pop_front();
    buffer->place = Place::WithConsumer;
    EVENT_NEW_BUFFER_DATA event{buffer, buffer->userPointer};
    std::memcpy(data, &event, sizeof event);
    *size = sizeof event;
    return GC_ERR_SUCCESS;
}

void SimCtiStream::killWait() {
    const std::lock_guard lock(m_pCamera->mutex);
    ++m_nKills;
    m_pCamera->wake.notify_all();
}

void SimCtiStream::flushEvents() {
    const std::lock_guard lock(m_pCamera->mutex);
    for (Buffer* buffer : m_output) {
        buffer->place = Place::Announced;
    }
    m_output.clear();
}

GC_ERROR SimCtiStream::eventInfo(EVENT_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size) {
    const std::lock_guard lock(m_pCamera->mutex);
    switch (command) {
    case EVENT_EVENT_TYPE:
        return putInt32(type, buffer, size, EVENT_NEW_BUFFER);
    case EVENT_NUM_IN_QUEUE:
        return putSize(type, buffer, size, m_output.size());
    case EVENT_NUM_FIRED:
        return putUint64(type, buffer, size, m_nEventsFired);
    case EVENT_SIZE_MAX:
        return putSize(type, buffer, size, sizeof(EVENT_NEW_BUFFER_DATA));
    case EVENT_INFO_DATA_SIZE_MAX:
        return putSize(type, buffer, size, sizeof(void*));
    default:
        return unknownCommand(command);
    }
}

} // namespace sdk::simcti
