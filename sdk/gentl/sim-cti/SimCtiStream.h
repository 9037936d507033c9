// A data stream of a simulated camera as the GenTL producer serves it: the buffers its consumer announced, its
// input queue, its output queue (the new-buffer event's queue) and the camera's clock that moves buffers from one
// to the other at frame time.
//
// Frames come while the camera's acquisition runs ("AcquisitionStart" written, no stop since) and the stream
// acquires, at the rules of the "sim" transport: free run at the frame rate, one per software trigger, the line
// rate on "Line0". A frame that finds no queued buffer is lost (counted as an underrun); its frame ID is used up
// all the same. Incomplete frames (the file's ratio) arrive with their last quarter missing and say so.
//
// Buffers: the stream fills a queued buffer in place (the consumer's own memory, or memory the stream allocated
// for it) and writes nothing else of it; from the new-buffer event until the consumer queues it again the
// consumer owns it.
#pragma once

#include "sdk/gentl/GenTL.h"
#include "sdk/gentl/sim-cti/SimCtiCamera.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace sdk::simcti {

class SimCtiStream {
public:
    SimCtiStream(std::shared_ptr<SimCtiCamera> camera, uint32_t index);
    // Ends the stream (end()).
    ~SimCtiStream();
    SimCtiStream(const SimCtiStream&) = delete;
    SimCtiStream& operator=(const SimCtiStream&) = delete;

    [[nodiscard]] const std::string& id() const noexcept { return m_id; }

    // Ends the clock (its thread is joined: it never calls out, so it ends at once) and every wait for an event;
    // every buffer goes back to the announced ones. Called by the stream's close, on a consumer's thread.
    void end() noexcept;

    // Every call below is thread-safe: the consumer's threads and the clock meet under the camera's mutex.
    GC_ERROR announce(void* memory, size_t size, void* userPointer, BUFFER_HANDLE* handle);
    GC_ERROR allocateAndAnnounce(size_t size, void* userPointer, BUFFER_HANDLE* handle);
    GC_ERROR revoke(BUFFER_HANDLE handle, void** memory, void** userPointer);
    GC_ERROR queue(BUFFER_HANDLE handle);
    GC_ERROR flush(ACQ_QUEUE_TYPE operation);
    GC_ERROR start(uint64_t framesToAcquire);
    // Returns once no buffer is being filled; the buffer of a frame cut short goes back to the input queue.
    GC_ERROR stop();
    GC_ERROR info(STREAM_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size);
    GC_ERROR bufferInfo(BUFFER_HANDLE handle, BUFFER_INFO_CMD command, INFO_DATATYPE* type, void* out, size_t* size);
    GC_ERROR bufferId(uint32_t index, BUFFER_HANDLE* handle);

    // The new-buffer event: its registration, a wait for the next filled buffer (the buffer passes to the
    // consumer), a kill that ends one wait (the one running, or else the next), a flush of its queue.
    GC_ERROR registerNewBufferEvent();
    GC_ERROR unregisterNewBufferEvent();
    GC_ERROR waitNewBuffer(void* data, size_t* size, uint64_t timeoutMs);
    void killWait();
    void flushEvents();
    GC_ERROR eventInfo(EVENT_INFO_CMD command, INFO_DATATYPE* type, void* buffer, size_t* size);

private:
    struct Buffer;
    enum class Place : uint8_t { Announced, Input, Filling, Output, WithConsumer };

    [[nodiscard]] Buffer* find(BUFFER_HANDLE handle) const; // with the camera's mutex held
    GC_ERROR add(std::unique_ptr<Buffer> buffer, BUFFER_HANDLE* handle);
    void runClock();
    // Waits for the next frame event; false when the stream ends. With the camera's mutex held.
    bool awaitFrame(std::unique_lock<std::mutex>& lock);
    void takeFrame(std::unique_lock<std::mutex>& lock);
    void fill(Buffer& buffer, uint64_t frameId, uint64_t frameIndex);

    const std::shared_ptr<SimCtiCamera> m_pCamera;
    const std::string m_id;

    // Guarded by the camera's mutex.
    std::vector<std::unique_ptr<Buffer>> m_buffers; // announced, in announcement order
    std::deque<Buffer*> m_input;                    // waiting to be filled, oldest first
    std::deque<Buffer*> m_output;                   // filled, waiting for the consumer, oldest first
    bool m_bQuit = false;
    bool m_bAcquiring = false;
    bool m_bEventRegistered = false;
    uint64_t m_nKills = 0;       // EventKill calls not yet answered by a wait
    uint64_t m_nToAcquire = 0;   // frames left before acquisition stops by itself; UINT64_MAX: no end
    uint64_t m_nNextFrameId = 0; //
    uint64_t m_nFrameIndex = 0;  // frames taken since the stream opened: picks the incomplete ones
    uint64_t m_nDelivered = 0;   //
    uint64_t m_nUnderrun = 0;    // frames lost for want of a queued buffer
    uint64_t m_nStarted = 0;     // frames taken since the last start
    uint64_t m_nEventsFired = 0; //
    uint64_t m_nConsumedTriggers = 0;
    uint64_t m_nSeenGeneration = 0;
    SimCtiCamera::Clock::time_point m_nextFrame{};

    std::thread m_clock; // last member: started once everything above is set
};

} // namespace sdk::simcti
