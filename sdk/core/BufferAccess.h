// What producers may do to a Buffer: give it memory, describe the frame they wrote into it, take it back.
// Internal to the SDK library and not exported from it; tests and benchmarks that play a producer link their own
// copy (the static library vxsdk_producer_access).
#pragma once

#include "sdk/Buffer.h"

#include <cstdint>
#include <string_view>

namespace sdk::core {

// The stream side of a buffer. The facade's DataStream implements it for every producer.
class BufferOwner {
public:
    BufferOwner() = default;
    BufferOwner(const BufferOwner&) = delete;
    BufferOwner& operator=(const BufferOwner&) = delete;

    // Buffer::QueueBuffer(): the buffer goes back to the stream's input queue. May raise an SDK error.
    virtual void queueBuffer(Buffer& buffer) = 0;
    // The buffer is being destroyed while still announced: the stream lets go of it.
    virtual void forgetBuffer(Buffer& buffer) noexcept = 0;

protected:
    ~BufferOwner() = default;
};

// One filled frame as the transport reports it.
struct FrameDescription {
    uint64_t width = 0;
    uint64_t height = 0;
    uint64_t frameId = 0;
    std::string_view pixelFormat; // any text; the buffer keeps an interned copy that lives as long as the process
    uint64_t timestamp = 0;       // nanoseconds
    BufferStatus status = BufferStatus::Complete;
    // Bytes that arrived; UINT64_MAX: what width, height and format need (capped at the buffer's memory).
    uint64_t payloadSize = UINT64_MAX;
};

class BufferAccess {
public:
    // Announces: the buffer gets `memSize` bytes of zeroed memory and its owner. A size that bufferSizeRefusal
    // (PayloadLimit.h) refuses, or one the machine cannot give, raises a ResourceException naming it and leaves
    // the buffer as it was.
    static void attach(Buffer& buffer, BufferOwner& owner, uint64_t memSize);
    // Revokes: memory freed, owner cleared, frame description reset.
    static void detach(Buffer& buffer) noexcept;
    // Ends the announcement only: memory and frame description stay with the buffer while a handler still reads
    // them; the memory goes with the Buffer object, or with its next announcement.
    static void orphan(Buffer& buffer) noexcept;
    [[nodiscard]] static BufferOwner* owner(const Buffer& buffer) noexcept { return buffer.m_pOwner.load(); }
    [[nodiscard]] static unsigned char* memory(Buffer& buffer) noexcept { return buffer.m_pMemory.get(); }
    // What the stream wrote: the pixel format's code, the payload size and the line pitch follow from the
    // format table. Not thread-safe for one buffer; safe for different ones.
    static void describeFrame(Buffer& buffer, const FrameDescription& frame);
    // The same for a complete frame of its full size.
    static void describeFrame(Buffer& buffer, uint64_t width, uint64_t height, uint64_t frameId,
                              std::string_view pixelFormat, uint64_t timestamp);
};

// A copy of `name` that lives as long as the process: the format table's own name for a known format, an
// interned copy otherwise. Thread-safe; costs a table look-up, and a lock only for names the table lacks.
[[nodiscard]] const char* internPixelFormatName(std::string_view name);

} // namespace sdk::core
