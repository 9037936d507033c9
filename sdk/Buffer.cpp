#include "sdk/Buffer.h"

#include "sdk/SdkExceptions.h"
#include "sdk/core/BufferAccess.h"

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

} // namespace sdk
