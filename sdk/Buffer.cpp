#include "sdk/Buffer.h"

#include "sdk/SdkExceptions.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/core/PixelFormats.h"

#include <algorithm>
#include <cstring>

namespace sdk {

Buffer::Buffer() noexcept = default;

Buffer::~Buffer() {
    if (core::BufferOwner* owner = m_pOwner.load(); owner != nullptr) {
        owner->forgetBuffer(*this);
    }
}

void Buffer::QueueBuffer() {
    core::BufferOwner* owner = m_pOwner.load();
    if (owner == nullptr) {
        Exceptions::raise("NotAvailableException", "Buffer::QueueBuffer", "the buffer belongs to no data stream");
    }
    owner->queueBuffer(*this);
}

namespace core {

void BufferAccess::attach(Buffer& buffer, BufferOwner& owner, uint64_t memSize) {
    buffer.m_pMemory = std::make_unique<unsigned char[]>(memSize);
    buffer.m_nMemSize = memSize;
    buffer.m_pOwner.store(&owner);
}

void BufferAccess::detach(Buffer& buffer) noexcept {
    buffer.m_pOwner.store(nullptr);
    buffer.m_pMemory.reset();
    buffer.m_nMemSize = 0;
    describeFrame(buffer, 0, 0, 0, "", 0);
}

void BufferAccess::describeFrame(Buffer& buffer, uint64_t width, uint64_t height, uint64_t frameId,
                                 const char* pixelFormat, uint64_t timestamp) noexcept {
    buffer.m_nWidth = width;
    buffer.m_nHeight = height;
    buffer.m_nFrameId = frameId;
    buffer.m_pPixelFormat = pixelFormat;
    buffer.m_nTimestamp = timestamp;
    // A format the SDK does not know fills the whole buffer as far as anyone can tell.
    const PixelFormatInfo* format = findPixelFormat(pixelFormat);
    if (format == nullptr) {
        buffer.m_nPayloadSize = width * height == 0 ? 0 : buffer.m_nMemSize;
        buffer.m_nLinePitch = 0;
        return;
    }
    const uint64_t lineBits = width * format->bitsPerPixel;
    // A frame larger than its buffer was cut short: only what the buffer holds is the payload.
    buffer.m_nPayloadSize = std::min(framePayloadSize(*format, width, height), buffer.m_nMemSize);
    buffer.m_nLinePitch = lineBits % 8 == 0 ? lineBits / 8 : 0;
}

} // namespace core
} // namespace sdk
