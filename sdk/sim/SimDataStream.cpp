#include "sdk/sim/SimDataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/sim/SimAcquisition.h"

#include <algorithm>

namespace sdk::sim {

// ---- buffer list -----------------------------------------------------------------------------------------

void SimBufferList::Add(Buffer* buffer) {
    m_stream.announce(buffer);
}
Buffer* SimBufferList::RevokeBuffer(Buffer* buffer) {
    return m_stream.revoke(buffer);
}
uint64_t SimBufferList::GetQueuedCount() {
    m_stream.m_site.pass("BufferList::GetQueuedCount");
    return m_stream.m_pEngine->queuedCount(m_stream.m_nLane);
}
void SimBufferList::onBegin() {
    m_stream.m_site.pass("BufferList::begin");
}
void SimBufferList::onLookup(const std::string& key) {
    m_stream.m_site.pass("BufferList::operator[]", key);
}

// ---- stream ----------------------------------------------------------------------------------------------

SimDataStream::SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                             std::size_t lane, uint64_t payloadSize, bool nullBufferList)
    : m_site(gate, std::move(objectName)), m_pEngine(std::move(engine)), m_nLane(lane), m_nPayloadSize(payloadSize),
      m_bNullBufferList(nullBufferList), m_bufferList(*this) {}

SimDataStream::~SimDataStream() {
    m_pEngine->endLane(m_nLane);
    // Buffers the driver never revoked stay its own; they only lose their memory and their stream.
    const std::lock_guard lock(m_entriesMutex);
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

// Closing stops acquisition first, and returns once no buffer of the stream is in flight.
void SimDataStream::Close() {
    m_site.pass("DataStream::Close");
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", "DataStream::Close",
                          "data stream " + m_site.objectName() + " is not open");
    }
    m_pEngine->stopLane(m_nLane);
    m_bOpen = false;
}

BufferList* SimDataStream::GetBufferList() {
    m_site.pass("DataStream::GetBufferList");
    return m_bNullBufferList ? nullptr : &m_bufferList;
}

bool SimDataStream::GetIsGrabbing() {
    m_site.pass("DataStream::GetIsGrabbing");
    return m_pEngine->grabbing(m_nLane);
}

void SimDataStream::StartAcquisitionContinuous() {
    m_site.pass("DataStream::StartAcquisitionContinuous");
    if (!m_bOpen) {
        Exceptions::raise("NotAvailableException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_site.objectName() + " is not open");
    }
    if (m_pEngine->grabbing(m_nLane)) {
        Exceptions::raise("ResourceException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_site.objectName() + " is already grabbing");
    }
    m_pEngine->startLane(m_nLane);
}

void SimDataStream::StopAcquisition() {
    m_site.pass("DataStream::StopAcquisition");
    m_pEngine->stopLane(m_nLane);
}

uint64_t SimDataStream::GetLostFrameCount() {
    m_site.pass("DataStream::GetLostFrameCount");
    return m_pEngine->lostFrames(m_nLane);
}

void SimDataStream::RegisterNewBufferEventHandler(void* owner, Events::NewBufferEventHandler handler) {
    m_site.pass("DataStream::RegisterNewBufferEventHandler", handler != nullptr ? "bind" : "unbind");
    m_pEngine->bindHandler(m_nLane, owner, handler);
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
    const std::lock_guard lock(m_entriesMutex);
    m_bufferList.m_entries.emplace_back("Buffer" + std::to_string(m_bufferList.m_nNextKey++), buffer);
}

Buffer* SimDataStream::revoke(Buffer* buffer) {
    m_site.pass("BufferList::RevokeBuffer");
    if (m_pEngine->grabbing(m_nLane)) {
        Exceptions::raise("AccessDeniedException", "BufferList::RevokeBuffer",
                          "data stream " + m_site.objectName() + " is grabbing");
    }
    {
        const std::lock_guard lock(m_entriesMutex);
        auto& entries = m_bufferList.m_entries;
        const auto found =
            std::find_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.second == buffer; });
        if (buffer == nullptr || found == entries.end()) {
            Exceptions::raise("NotFoundException", "BufferList::RevokeBuffer",
                              "the buffer is not in the list of " + m_site.objectName());
        }
        entries.erase(found);
    }
    m_pEngine->withdraw(m_nLane, buffer);
    core::BufferAccess::detach(*buffer);
    return buffer;
}

void SimDataStream::queueBuffer(Buffer& buffer) {
    if (!m_pEngine->queue(m_nLane, &buffer)) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
}

void SimDataStream::forgetBuffer(Buffer& buffer) noexcept {
    m_pEngine->withdraw(m_nLane, &buffer);
    {
        const std::lock_guard lock(m_entriesMutex);
        auto& entries = m_bufferList.m_entries;
        entries.erase(
            std::remove_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.second == &buffer; }),
            entries.end());
    }
    core::BufferAccess::detach(buffer);
}

} // namespace sdk::sim
