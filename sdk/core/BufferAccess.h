// What producers may do to a Buffer: give it memory, describe the frame they wrote into it, take it back.
#pragma once

#include "sdk/Buffer.h"
#include "sdk/SdkExport.h"

#include <cstdint>

namespace sdk::core {

// The stream side of a buffer. Implemented by each producer's data stream.
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

// Exported so that benchmarks and tests can hand the driver buffers of their own making.
class VXSDK_API BufferAccess {
public:
    // Announces: the buffer gets `memSize` bytes of zeroed memory and its owner.
    static void attach(Buffer& buffer, BufferOwner& owner, uint64_t memSize);
    // Revokes: memory freed, owner cleared, frame description reset.
    static void detach(Buffer& buffer) noexcept;
    [[nodiscard]] static BufferOwner* owner(const Buffer& buffer) noexcept { return buffer.m_pOwner.load(); }
    [[nodiscard]] static unsigned char* memory(Buffer& buffer) noexcept { return buffer.m_pMemory.get(); }
    // What the stream wrote; `pixelFormat` must have static storage.
    static void describeFrame(Buffer& buffer, uint64_t width, uint64_t height, uint64_t frameId,
                              const char* pixelFormat, uint64_t timestamp) noexcept;
};

} // namespace sdk::core
