// The facade's gate for streams and buffer lists, and what every producer's stream shares: the open state, the
// buffer list with its memory, the new-buffer binding, and the fate of a buffer that is not complete.
#include "sdk/DataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/core/CallGate.h"
#include "sdk/core/DeliveryThreads.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace sdk {

// ---- buffer list ---------------------------------------------------------------------------------------

BufferList::BufferList(DataStream& stream) noexcept
    : ObjectList(stream.m_site, "BufferList::begin", "BufferList::operator[]"), m_stream(stream) {}

BufferList::~BufferList() = default;

void BufferList::Add(Buffer* buffer) {
    site().pass("BufferList::Add");
    if (buffer == nullptr) {
        Exceptions::raise("InvalidArgumentException", "BufferList::Add", "null buffer");
    }
    m_stream.requireOpen("BufferList::Add");
    if (core::BufferAccess::owner(*buffer) != nullptr) {
        Exceptions::raise("ResourceException", "BufferList::Add", "the buffer is announced already");
    }
    core::BufferAccess::attach(*buffer, m_stream, m_stream.doGetBufferSize());
    {
        const std::lock_guard lock(m_stream.m_entriesMutex);
        m_entries.emplace_back("Buffer" + std::to_string(m_nNextKey++), buffer);
    }
    m_stream.doAnnounceBuffer(*buffer);
}

Buffer* BufferList::RevokeBuffer(Buffer* buffer) {
    site().pass("BufferList::RevokeBuffer");
    if (m_stream.doGetIsGrabbing()) {
        Exceptions::raise("AccessDeniedException", "BufferList::RevokeBuffer",
                          "data stream " + site().objectName() + " is grabbing");
    }
    {
        const std::lock_guard lock(m_stream.m_entriesMutex);
        const auto found = std::find_if(m_entries.begin(), m_entries.end(),
                                        [&](const Entry& entry) { return entry.second == buffer; });
        if (buffer == nullptr || found == m_entries.end()) {
            Exceptions::raise("NotFoundException", "BufferList::RevokeBuffer",
                              "the buffer is not in the list of " + site().objectName());
        }
        m_entries.erase(found);
    }
    m_stream.doWithdrawBuffer(*buffer);
    if (core::insideHandlerCall()) {
        core::BufferAccess::orphan(*buffer); // another handler call may still read it: the memory stays
    } else {
        core::BufferAccess::detach(*buffer);
    }
    return buffer;
}

uint64_t BufferList::GetQueuedCount() {
    site().pass("BufferList::GetQueuedCount");
    return m_stream.doGetQueuedCount();
}

// ---- new-buffer event ----------------------------------------------------------------------------------

struct Events::DataStreamEventControl::Binding {
    // Guards the members below: the host's thread binds while the delivery thread calls.
    std::mutex mutex;
    std::condition_variable callsEnded;
    void* pOwner = nullptr;
    NewBufferEventHandler pHandler = nullptr;
    std::shared_ptr<void> ownerLease; // the owner's, held while the binding may call it; copied by each call
    int nRunningCalls = 0;
    std::thread::id callingThread;   // the thread of the running call
    const Buffer* pBuffer = nullptr; // the buffer of the running call
};

Events::DataStreamEventControl::DataStreamEventControl(const CallSite& site)
    : m_eventSite(site), m_pBinding(std::make_shared<Binding>()) {}

void Events::DataStreamEventControl::RegisterNewBufferEventHandler(void* owner, NewBufferEventHandler handler,
                                                                   std::shared_ptr<void> ownerLease) {
    m_eventSite.pass("DataStream::RegisterNewBufferEventHandler", handler != nullptr ? "bind" : "unbind");
    Binding& binding = *m_pBinding;
    std::shared_ptr<void> earlierLease; // released after the lock: its owner may do anything then
    std::unique_lock lock(binding.mutex);
    // The earlier binding may be in a call right now; it must be over before the caller lets go of its owner.
    // A thread inside a handler call waits for none: the earlier owner's lease tells it when the calls ended.
    if (!core::insideHandlerCall()) {
        binding.callsEnded.wait(lock, [&binding] { return binding.nRunningCalls == 0; });
    }
    binding.pOwner = handler != nullptr ? owner : nullptr;
    binding.pHandler = handler;
    earlierLease = std::exchange(binding.ownerLease, handler != nullptr ? std::move(ownerLease) : nullptr);
    lock.unlock();
}

// The buffer is touched only while the binding holds its owner's lease: a buffer the owner revoked from inside
// another handler call (which waits for no delivery) may belong to an owner that is already let go, and its
// memory with it.
Events::DataStreamEventControl::HandOver Events::DataStreamEventControl::callHandler(Buffer& buffer) {
    const std::shared_ptr<Binding> binding = m_pBinding; // `this` may be gone when the handler returns
    void* owner = nullptr;
    NewBufferEventHandler handler = nullptr;
    std::shared_ptr<void> lease; // the owner stays valid for this call, even when it is unbound meanwhile
    {
        const std::lock_guard lock(binding->mutex);
        if (binding->pHandler == nullptr) {
            return HandOver::Unbound;
        }
        if (!buffer.IsComplete()) {
            return HandOver::NotComplete;
        }
        owner = binding->pOwner;
        handler = binding->pHandler;
        lease = binding->ownerLease;
        ++binding->nRunningCalls;
        binding->callingThread = std::this_thread::get_id();
        binding->pBuffer = &buffer;
    }
    {
        // Without the lock: the handler may bind, unbind, stop, close or release from inside its call.
        const core::HandlerCallScope inside;
        handler(owner, &buffer);
    }
    {
        const std::lock_guard lock(binding->mutex);
        --binding->nRunningCalls;
        if (binding->nRunningCalls == 0) {
            binding->callingThread = std::thread::id();
            binding->pBuffer = nullptr;
        }
    }
    binding->callsEnded.notify_all();
    lease.reset(); // last: its release may end the owner, and with it the stream (kept alive by the producer)
    return HandOver::Delivered;
}

const Buffer* Events::DataStreamEventControl::bufferInCallOnThisThread() const {
    const std::lock_guard lock(m_pBinding->mutex);
    return m_pBinding->callingThread == std::this_thread::get_id() ? m_pBinding->pBuffer : nullptr;
}

// ---- stream --------------------------------------------------------------------------------------------

DataStream::DataStream(core::CallGate& gate, std::string objectName)
    : DataStreamEventControl(m_site), m_pGate(gate.weak_from_this().lock()), m_site(gate, std::move(objectName)),
      m_bufferList(*this) {
    core::streamMade();
}

// A stream destroyed from inside a handler call (the host closed the camera or ended the session there) leaves
// that call's buffer its memory: the host reads the frame until its call returns, and the memory goes with the
// Buffer object.
DataStream::~DataStream() {
    {
        const Buffer* inCall = bufferInCallOnThisThread();
        const std::lock_guard lock(m_entriesMutex);
        for (auto& entry : m_bufferList.m_entries) {
            if (entry.second == inCall) {
                core::BufferAccess::orphan(*entry.second);
            } else {
                core::BufferAccess::detach(*entry.second);
            }
        }
    }
    // The producer's part ended its delivery thread already: joined, or handed to the reaper.
    core::streamGone();
}

void DataStream::requireOpen(const char* call) const {
    if (!m_bOpen.load()) {
        Exceptions::raise("NotAvailableException", call, "data stream " + m_site.objectName() + " is not open");
    }
}

bool DataStream::IsOpen() {
    m_site.pass("DataStream::IsOpen");
    return m_bOpen.load();
}

void DataStream::Open() {
    m_site.pass("DataStream::Open");
    if (m_bOpen.load()) {
        Exceptions::raise("ResourceException", "DataStream::Open",
                          "data stream " + m_site.objectName() + " is already open");
    }
    doOpen();
    m_bOpen.store(true);
}

void DataStream::Close() {
    m_site.pass("DataStream::Close");
    requireOpen("DataStream::Close");
    doClose();
    m_bOpen.store(false);
}

BufferList* DataStream::GetBufferList() {
    m_site.pass("DataStream::GetBufferList");
    return doHasBufferList() ? &m_bufferList : nullptr;
}

bool DataStream::GetIsGrabbing() {
    m_site.pass("DataStream::GetIsGrabbing");
    return doGetIsGrabbing();
}

void DataStream::StartAcquisitionContinuous() {
    m_site.pass("DataStream::StartAcquisitionContinuous");
    requireOpen("DataStream::StartAcquisitionContinuous");
    if (doGetIsGrabbing()) {
        Exceptions::raise("ResourceException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_site.objectName() + " is already grabbing");
    }
    doStartAcquisition();
}

void DataStream::StopAcquisition() {
    m_site.pass("DataStream::StopAcquisition");
    doStopAcquisition();
}

uint64_t DataStream::GetLostFrameCount() {
    m_site.pass("DataStream::GetLostFrameCount");
    return doGetLostFrameCount();
}

uint64_t DataStream::GetIncompleteFrameCount() {
    m_site.pass("DataStream::GetIncompleteFrameCount");
    return m_nIncomplete.load();
}

StreamStatistics DataStream::GetStatistics() {
    m_site.pass("DataStream::GetStatistics");
    StreamStatistics statistics;
    doGetTransportStatistics(statistics);
    statistics.framesCompleted = m_nCompleted.load();
    statistics.framesIncomplete = m_nIncomplete.load();
    return statistics;
}

DataStream::HandOver DataStream::deliverBuffer(Buffer& buffer) {
    const HandOver result = callHandler(buffer);
    if (result == HandOver::Delivered) {
        m_nCompleted.fetch_add(1);
        return result;
    }
    if (result == HandOver::NotComplete) {
        m_nIncomplete.fetch_add(1);
    }
    // The frame is not the handler's: the buffer goes straight back to be filled again. It was out of the
    // input queue, so queueing it cannot be refused as a duplicate.
    try {
        doQueueBuffer(buffer);
    } catch (const Exceptions::IException&) {
        // Only a buffer queued twice is refused, and this one was with the delivery side; nothing is lost.
    }
    return result;
}

void DataStream::queueBuffer(Buffer& buffer) {
    m_site.passUntraced("Buffer::QueueBuffer");
    doQueueBuffer(buffer);
}

void DataStream::forgetBuffer(Buffer& buffer) noexcept {
    doWithdrawBuffer(buffer);
    {
        const std::lock_guard lock(m_entriesMutex);
        auto& entries = m_bufferList.m_entries;
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const BufferList::Entry& entry) { return entry.second == &buffer; }),
                      entries.end());
    }
    core::BufferAccess::detach(buffer);
}

} // namespace sdk
