#include "sdk/sim/SimDataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/core/PixelFormats.h"

#include <algorithm>

namespace sdk::sim {
namespace {

uint64_t payloadSizeOf(const SimDeviceConfig& device) {
    if (device.payloadSize != 0) {
        return device.payloadSize;
    }
    if (const core::PixelFormatInfo* format = core::findPixelFormat(device.pixelFormat)) {
        return core::framePayloadSize(*format, device.width, device.height);
    }
    return uint64_t{device.width} * device.height; // an unknown format: one byte per pixel
}

} // namespace

// ---- buffer list -----------------------------------------------------------------------------------------

void SimBufferList::Add(Buffer* buffer) {
    m_stream.announce(buffer);
}
Buffer* SimBufferList::RevokeBuffer(Buffer* buffer) {
    return m_stream.revoke(buffer);
}
uint64_t SimBufferList::GetQueuedCount() {
    return m_stream.queuedCount();
}
void SimBufferList::onBegin() {
    m_stream.m_site.pass("BufferList::begin");
}
void SimBufferList::onLookup(const std::string& key) {
    m_stream.m_site.pass("BufferList::operator[]", key);
}

// ---- stream ----------------------------------------------------------------------------------------------

SimDataStream::SimDataStream(core::CallGate& gate, std::string objectName, const SimDeviceConfig& device)
    : m_site(gate, std::move(objectName)), m_device(device), m_nPayloadSize(payloadSizeOf(device)),
      m_bufferList(*this) {}

SimDataStream::~SimDataStream() {
    // Buffers the driver never revoked stay its own; they only lose their memory and their stream.
    const std::lock_guard lock(m_mutex);
    for (auto& entry : m_bufferList.m_entries) {
        core::BufferAccess::detach(*entry.second);
    }
}

String SimDataStream::GetID() {
    return String(m_site.objectName());
}

bool SimDataStream::IsOpen() {
    m_site.pass("DataStream::IsOpen");
    return m_bOpen;
}

void SimDataStream::Open() {
    m_site.pass("DataStream::Open");
    if (m_bOpen) {
        Exceptions::raise("ResourceException", "DataStream::Open",
                          "data stream " + m_site.objectName() + " is already open");
    }
    m_bOpen = true;
}

void SimDataStream::Close() {
    m_site.pass("DataStream::Close");
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", "DataStream::Close",
                          "data stream " + m_site.objectName() + " is not open");
    }
    m_bGrabbing = false;
    m_bOpen = false;
}

BufferList* SimDataStream::GetBufferList() {
    m_site.pass("DataStream::GetBufferList");
    return m_device.nullBufferList ? nullptr : &m_bufferList;
}

bool SimDataStream::GetIsGrabbing() {
    m_site.pass("DataStream::GetIsGrabbing");
    return m_bGrabbing;
}

void SimDataStream::StartAcquisitionContinuous() {
    m_site.pass("DataStream::StartAcquisitionContinuous");
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_site.objectName() + " is not open");
    }
    if (m_bGrabbing) {
        Exceptions::raise("ResourceException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_site.objectName() + " is already grabbing");
    }
    m_bGrabbing = true;
}

void SimDataStream::StopAcquisition() {
    m_site.pass("DataStream::StopAcquisition");
    m_bGrabbing = false;
}

uint64_t SimDataStream::GetLostFrameCount() {
    m_site.pass("DataStream::GetLostFrameCount");
    const std::lock_guard lock(m_mutex);
    return m_nLostFrames;
}

void SimDataStream::RegisterNewBufferEventHandler(void* owner, Events::NewBufferEventHandler handler) {
    m_site.pass("DataStream::RegisterNewBufferEventHandler", handler != nullptr ? "bind" : "unbind");
    const std::lock_guard lock(m_mutex);
    m_pHandlerOwner = handler != nullptr ? owner : nullptr;
    m_pHandler = handler;
}

void SimDataStream::announce(Buffer* buffer) {
    m_site.pass("BufferList::Add");
    if (buffer == nullptr) {
        Exceptions::raise("InvalidArgumentException", "BufferList::Add", "null buffer");
    }
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", "BufferList::Add",
                          "data stream " + m_site.objectName() + " is not open");
    }
    if (core::BufferAccess::owner(*buffer) != nullptr) {
        Exceptions::raise("ResourceException", "BufferList::Add", "the buffer is announced already");
    }
    core::BufferAccess::attach(*buffer, *this, m_nPayloadSize);
    const std::lock_guard lock(m_mutex);
    m_bufferList.m_entries.emplace_back("Buffer" + std::to_string(m_bufferList.m_nNextKey++), buffer);
}

Buffer* SimDataStream::revoke(Buffer* buffer) {
    m_site.pass("BufferList::RevokeBuffer");
    if (m_bGrabbing) {
        Exceptions::raise("AccessDeniedException", "BufferList::RevokeBuffer",
                          "data stream " + m_site.objectName() + " is grabbing");
    }
    const std::lock_guard lock(m_mutex);
    auto& entries = m_bufferList.m_entries;
    const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.second == buffer; });
    if (buffer == nullptr || found == entries.end()) {
        Exceptions::raise("NotFoundException", "BufferList::RevokeBuffer",
                          "the buffer is not in the list of " + m_site.objectName());
    }
    entries.erase(found);
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), buffer), m_queue.end());
    core::BufferAccess::detach(*buffer);
    return buffer;
}

uint64_t SimDataStream::queuedCount() {
    m_site.pass("BufferList::GetQueuedCount");
    const std::lock_guard lock(m_mutex);
    return m_queue.size();
}

void SimDataStream::queueBuffer(Buffer& buffer) {
    const std::lock_guard lock(m_mutex);
    if (std::find(m_queue.begin(), m_queue.end(), &buffer) != m_queue.end()) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
    m_queue.push_back(&buffer);
}

void SimDataStream::forgetBuffer(Buffer& buffer) noexcept {
    const std::lock_guard lock(m_mutex);
    auto& entries = m_bufferList.m_entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const auto& e) { return e.second == &buffer; }),
                  entries.end());
    m_queue.erase(std::remove(m_queue.begin(), m_queue.end(), &buffer), m_queue.end());
    core::BufferAccess::detach(buffer);
}

} // namespace sdk::sim
