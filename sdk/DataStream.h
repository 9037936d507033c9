// A data stream of a device, its buffer list, and its new-buffer event control.
#pragma once

#include "sdk/CallSite.h"
#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"
#include "sdk/core/BufferAccess.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace sdk {

class Buffer;
class DataStream;

// What a stream received since it was opened.
struct StreamStatistics {
    uint64_t framesCompleted = 0;    // arrived whole and went to the new-buffer handler
    uint64_t framesIncomplete = 0;   // arrived with data missing; never reached the handler
    uint64_t framesMissing = 0;      // not one packet of them arrived (0 where the transport cannot tell)
    uint64_t framesLostNoBuffer = 0; // sent while no buffer was queued for them (0 where the transport cannot tell)
    uint64_t packetsNoBuffer = 0;    // stream packets dropped because no buffer was queued (GigE Vision)
    uint64_t packetsMissing = 0;     // packets that did not arrive when expected (resent ones included)
    uint64_t packetsResent = 0;      // packets the camera sent again on request
};

class VXSDK_API BufferList : public ObjectList<Buffer> {
public:
    ~BufferList() override;
    // Announces `buffer` to the stream and gives it memory for one frame of the device's current format.
    // The caller keeps ownership of the Buffer object. Needs an open stream.
    void Add(Buffer* buffer);
    // Takes `buffer` out of the stream (and out of its queue) and frees its memory; returns it so that its
    // allocator can delete it. Refused while the stream is grabbing. Called from inside a handler call, it does
    // not wait for a handler call that may be reading the buffer: the memory then stays with the Buffer object
    // until that object is deleted, which its allocator does once such a call has ended.
    Buffer* RevokeBuffer(Buffer* buffer);
    // Buffers queued and waiting to be filled.
    [[nodiscard]] uint64_t GetQueuedCount();

private:
    friend class DataStream;
    explicit BufferList(DataStream& stream) noexcept;

    DataStream& m_stream;
    uint64_t m_nNextKey = 0; // host thread only
};

namespace Events {

// Called on the stream's delivery thread, once per complete buffer, with the owner given at registration.
using NewBufferEventHandler = void (*)(void* owner, Buffer* buffer);

class VXSDK_API DataStreamEventControl {
public:
    DataStreamEventControl(const DataStreamEventControl&) = delete;
    DataStreamEventControl& operator=(const DataStreamEventControl&) = delete;
    virtual ~DataStreamEventControl();

    // Binds `handler` and `owner` to the stream's new-buffer event, replacing an earlier binding; a null
    // handler unbinds. Returns once no call of the earlier binding is running, unless it is called from inside a
    // handler call (of any stream): then it returns at once, and a call of the earlier binding may still run.
    // `ownerLease`, when given, is held for as long as the binding may call the handler with `owner`: by the
    // binding and by each of its calls in progress. Its release is the owner's sign that no call of the binding
    // runs or will start, whichever thread the release comes on. Thread-safe.
    void RegisterNewBufferEventHandler(void* owner, NewBufferEventHandler handler,
                                       std::shared_ptr<void> ownerLease = {});

protected:
    // `site` is the stream's; it outlives this object.
    explicit DataStreamEventControl(const CallSite& site);

    // What became of a buffer handed to the event.
    enum class HandOver : uint8_t { Delivered, NotComplete, Unbound };
    // Called by the producer on its delivery thread, for every filled buffer, with no lock of its own held that
    // the handler's calls into the stream would need, and with the stream kept alive for the call. Complete buffers go
    // to the bound handler; others, and every buffer while no handler is bound, are not delivered: the caller gets them
    // back (see deliverBuffer).
    [[nodiscard]] HandOver callHandler(Buffer& buffer);
    // The buffer of the handler call that runs on the calling thread, or null.
    [[nodiscard]] const Buffer* bufferInCallOnThisThread() const;

private:
    struct Binding;
    const CallSite& m_eventSite;
    // The handler, its owner and the running calls. Shared with each running call, so that a handler that
    // destroys the stream from inside its call (the session's last release) returns into live state.
    std::shared_ptr<Binding> m_pBinding;
};

} // namespace Events

// The facade keeps what every producer's stream shares: the open state, the buffer list and its memory, the
// new-buffer binding, and what happens to a buffer that is not complete. The producer fills buffers and calls
// deliverBuffer() for each.
//
// The stream model every producer keeps:
// - A stream lives from its device's Device::Open to its Device::Close, whatever its own Close answered; the
//   device's stream list no longer offers it afterwards, and a consumer drops every pointer to it then.
// - One delivery thread per stream hands its buffers over, one at a time; it lives as long as the stream. Start
//   and stop never join it: they change what it does.
// - The stream object outlives every hand-over in progress: the producer keeps it alive while its delivery thread
//   is inside deliverBuffer(), so that a device closed meanwhile from another thread ends the stream only once
//   that call returns (on the delivery thread, which then hands itself to core's reaper).
// - A thread inside a handler call never waits for another handler call (core/DeliveryThreads.h).
class VXSDK_API DataStream : public Events::DataStreamEventControl, private core::BufferOwner {
public:
    // Lets go of every announced buffer that was not revoked (the driver's Buffer objects stay its own).
    ~DataStream() override;

    [[nodiscard]] String GetID() const { return String(m_site.objectName()); }
    [[nodiscard]] bool IsOpen();
    // Opening an open stream is an SDK error.
    void Open();
    // Closing stops acquisition first; announced buffers stay in the buffer list until revoked.
    void Close();
    // The stream's buffer list, or null when the stream has none.
    [[nodiscard]] BufferList* GetBufferList();
    [[nodiscard]] bool GetIsGrabbing();
    // Needs an open stream that is not grabbing.
    void StartAcquisitionContinuous();
    // Stops filling buffers: no handler call starts afterwards. Returns once no handler call is running, unless
    // it is called from inside a handler call (of any stream), which never waits for another one.
    void StopAcquisition();
    // Frames the camera sent while no buffer was queued for them.
    [[nodiscard]] uint64_t GetLostFrameCount();
    // Buffers that came back incomplete or failed: they never reached the handler and were queued again.
    [[nodiscard]] uint64_t GetIncompleteFrameCount();
    // Frames and packets since the stream was opened: counted by the transport, not inferred from frame IDs.
    [[nodiscard]] StreamStatistics GetStatistics();

protected:
    // `objectName` names the stream in the trace and in fault rules ("serial/index").
    DataStream(core::CallGate& gate, std::string objectName);
    [[nodiscard]] const CallSite& site() const noexcept { return m_site; }

    // For the producer's delivery thread: hands one filled buffer on. A complete buffer goes to the handler
    // (which queues it again); any other is queued again here and counted. Returns what became of it; an
    // undelivered buffer is back in the producer's queue already.
    HandOver deliverBuffer(Buffer& buffer);

    virtual void doOpen() {}
    // Stops acquisition and ends the stream's use of the transport.
    virtual void doClose() = 0;
    // False makes GetBufferList() answer null.
    [[nodiscard]] virtual bool doHasBufferList() { return true; }
    // Bytes each announced buffer gets.
    [[nodiscard]] virtual uint64_t doGetBufferSize() = 0;
    [[nodiscard]] virtual bool doGetIsGrabbing() = 0;
    virtual void doStartAcquisition() = 0;
    // Returns once no buffer is in flight, unless called from inside a handler call (core::insideHandlerCall()).
    virtual void doStopAcquisition() = 0;
    [[nodiscard]] virtual uint64_t doGetLostFrameCount() = 0;
    // The transport's counts: frames lost for want of a buffer (by default doGetLostFrameCount()), frames and
    // packets missing, packets resent. The facade fills in the frames completed and incomplete.
    virtual void doGetTransportStatistics(StreamStatistics& statistics) {
        statistics.framesLostNoBuffer = doGetLostFrameCount();
    }
    // A buffer was announced: it has its memory and is in the buffer list, not yet queued.
    virtual void doAnnounceBuffer(Buffer& buffer) { static_cast<void>(buffer); }
    // Puts the buffer into the input queue; raises an SDK error when it is queued already. Thread-safe.
    virtual void doQueueBuffer(Buffer& buffer) = 0;
    // Takes the buffer out of every queue, waiting while it is being filled or with the handler (unless called
    // from inside a handler call). Thread-safe.
    virtual void doWithdrawBuffer(Buffer& buffer) noexcept = 0;
    [[nodiscard]] virtual uint64_t doGetQueuedCount() = 0;

private:
    friend class BufferList;
    void requireOpen(const char* call) const;
    // core::BufferOwner: Buffer::QueueBuffer() and a destroyed announced buffer.
    void queueBuffer(Buffer& buffer) override;
    void forgetBuffer(Buffer& buffer) noexcept override;

    // A stream may outlive its session (a hand-over in progress holds it): it keeps the session's gate alive,
    // which its site and its buffers' calls pass. Empty for a gate no session shares (a test's own).
    std::shared_ptr<core::CallGate> m_pGate;
    CallSite m_site;
    std::atomic<bool> m_bOpen{false};
    std::atomic<uint64_t> m_nIncomplete{0};
    std::atomic<uint64_t> m_nCompleted{0}; // frames handed to the handler; counted on the delivery thread
    BufferList m_bufferList;
    // Guards the buffer list's entries: the host's thread announces and revokes, and a destroyed buffer leaves
    // the list from whatever thread destroys it.
    std::mutex m_entriesMutex;
};

} // namespace sdk
