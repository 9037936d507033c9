#include "sdk/aravis/AravisDataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/aravis/AravisPlatform.h"
#include "sdk/core/BufferAccess.h"

namespace sdk::aravis {
namespace {

ArvBuffer* newReference(ArvBuffer* buffer) {
    return static_cast<ArvBuffer*>(g_object_ref(buffer));
}

BufferStatus statusOf(ArvBufferStatus status) noexcept {
    switch (status) {
    case ARV_BUFFER_STATUS_SUCCESS:
        return BufferStatus::Complete;
    case ARV_BUFFER_STATUS_MISSING_PACKETS:
    case ARV_BUFFER_STATUS_WRONG_PACKET_ID:
    case ARV_BUFFER_STATUS_TIMEOUT:
        return BufferStatus::Incomplete;
    default:
        return BufferStatus::Failed;
    }
}

} // namespace

AravisDataStream::AravisDataStream(core::CallGate& gate, std::string objectName, Transport transport, ArvDevice* device,
                                   const DeviceLink& link)
    : DataStream(gate, std::move(objectName)), m_transport(transport), m_pDevice(device), m_link(link) {
    if (transport == Transport::Virtual && ARV_IS_FAKE_DEVICE(device)) {
        m_pVirtualCamera = arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(device));
    }
}

AravisDataStream::~AravisDataStream() {
    m_pAlive->store(false);
    stopGrabbing();
    if (onDeliveryThread()) {
        m_delivery.detach(); // destroyed from inside a handler call: the thread ends once that call returns
    } else {
        joinDeliveryThread();
    }
    releaseStream();
}

void AravisDataStream::doOpen() {
    m_link.requireConnected("DataStream::Open");
    ErrorSlot error;
    m_pStream.reset(arv_device_create_stream(m_pDevice, nullptr, nullptr, error.out()));
    error.check("DataStream::Open", "a stream of camera " + m_link.serial);
    if (m_pStream == nullptr) {
        Exceptions::raise("ResourceException", "DataStream::Open", "camera " + m_link.serial + " gave no stream");
    }
    // One wake-up per frame, with no lock held: waiting in Aravis's output queue instead would wake the delivery
    // thread while the receiving thread still holds the queue's lock, and each would then wait for the other.
    m_nNewBufferHandler =
        g_signal_connect(m_pStream.get(), "new-buffer", G_CALLBACK(&AravisDataStream::onNewBuffer), &m_doorbell);
    setEmitSignals(TRUE);
}

void AravisDataStream::doClose() {
    stopGrabbing();
    joinDeliveryThread();
    releaseStream();
}

// Through the property rather than arv_stream_set_emit_signals(): the thread-checking build ignores calls made
// from inside Aravis and GLib, but that function unlocks its mutex in a tail call, which seems to come from our
// code; the checker would then report the unlock of a mutex it never saw locked.
void AravisDataStream::setEmitSignals(gboolean emit) noexcept {
    g_object_set(m_pStream.get(), "emit-signals", emit, nullptr);
}

void AravisDataStream::releaseStream() noexcept {
    if (m_pStream != nullptr && m_nNewBufferHandler != 0) {
        setEmitSignals(FALSE);
        g_signal_handler_disconnect(m_pStream.get(), m_nNewBufferHandler);
    }
    m_nNewBufferHandler = 0;
    if (m_link.lost.load()) {
        releaseInBackground(m_pStream.release());
    }
    m_pStream.reset();
}

uint64_t AravisDataStream::doGetBufferSize() {
    m_link.requireConnected("BufferList::Add");
    ErrorSlot error;
    const gint64 payload = arv_device_get_integer_feature_value(m_pDevice, "PayloadSize", error.out());
    error.check("BufferList::Add", "PayloadSize of camera " + m_link.serial);
    if (payload <= 0) {
        Exceptions::raise("ResourceException", "BufferList::Add",
                          "camera " + m_link.serial + " reports no payload size");
    }
    return static_cast<uint64_t>(payload);
}

bool AravisDataStream::doGetIsGrabbing() {
    const std::lock_guard lock(m_mutex);
    return m_bGrabbing;
}

void AravisDataStream::doStartAcquisition() {
    m_link.requireConnected("DataStream::StartAcquisitionContinuous");
    readFrameFormat();
    {
        const std::lock_guard lock(m_mutex);
        m_bGrabbing = true;
        for (auto& slot : m_slots) {
            if (slot.second.place == Place::Queued) {
                pushToAravis(slot.second.arvBuffer.get());
            }
        }
    }
    // A start made from inside a handler call keeps the running delivery thread: it goes on once the call
    // returns. Otherwise a stop from inside a handler call left the old thread to end by itself: join it.
    if (!onDeliveryThread()) {
        joinDeliveryThread();
        m_delivery = std::thread([this, alive = m_pAlive] { deliveryLoop(alive); });
    }
}

void AravisDataStream::doStopAcquisition() {
    stopGrabbing();
}

// Stop order: no more hand-overs, the camera stops sending, Aravis's thread stops and lets go of our buffers,
// then the delivery thread ends (unless this is it: it ends after its handler call returns).
void AravisDataStream::stopGrabbing() noexcept {
    {
        const std::lock_guard lock(m_mutex);
        if (!m_bGrabbing) {
            return;
        }
        m_bGrabbing = false;
    }
    m_doorbell.ring();
    // The link stays quiet after a stop: the camera is told to stop sending. The driver's stop does not
    // execute "AcquisitionStop" itself; without this, the camera would stream on into a closed door.
    if (!m_link.lost.load() && arv_device_get_feature(m_pDevice, "AcquisitionStop") != nullptr) {
        ErrorSlot error;
        arv_device_execute_command(m_pDevice, "AcquisitionStop", error.out());
        if (error.failed()) {
            qCWarning(lcAravis()) << "camera" << m_link.serial.c_str() << "did not stop sending frames";
        }
    }
    // Restarting Aravis's receiving thread is the one way to take every buffer back out of its queues; it
    // then idles until buffers are queued again.
    arv_stream_stop_thread(m_pStream.get(), TRUE);
    arv_stream_start_thread(m_pStream.get());
    if (!onDeliveryThread()) {
        joinDeliveryThread();
    }
}

void AravisDataStream::joinDeliveryThread() noexcept {
    if (m_delivery.joinable() && !onDeliveryThread()) {
        m_delivery.join();
        m_deliveryId.store(std::thread::id());
    }
}

uint64_t AravisDataStream::doGetLostFrameCount() {
    if (m_pStream == nullptr) {
        return 0;
    }
    guint64 completed = 0;
    guint64 failures = 0;
    guint64 underruns = 0;
    arv_stream_get_statistics(m_pStream.get(), &completed, &failures, &underruns);
    uint64_t lost = underruns;
    if (m_transport == Transport::GigEVision) {
        lost += arv_stream_get_info_uint64_by_name(m_pStream.get(), "n_missing_frames");
    }
    return lost;
}

// Aravis writes straight into the buffer's memory; the Buffer rides along as the user data.
void AravisDataStream::doAnnounceBuffer(Buffer& buffer) {
    Slot slot;
    slot.arvBuffer.reset(
        arv_buffer_new_full(buffer.GetMemSize(), core::BufferAccess::memory(buffer), &buffer, nullptr));
    const std::lock_guard lock(m_mutex);
    m_slots[&buffer] = std::move(slot);
}

void AravisDataStream::doQueueBuffer(Buffer& buffer) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_slots.find(&buffer);
    if (found == m_slots.end()) {
        Exceptions::raise("NotFoundException", "Buffer::QueueBuffer", "the buffer is not announced to this stream");
    }
    Slot& slot = found->second;
    if (slot.place == Place::Queued) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
    const bool wasDelivering = slot.place == Place::Delivering;
    slot.place = Place::Queued;
    if (m_bGrabbing) {
        pushToAravis(slot.arvBuffer.get());
    }
    if (wasDelivering) {
        m_delivered.notify_all();
    }
}

// A buffer leaves the stream. While grabbing, Aravis may hold it: its queues are emptied and filled again
// without it.
void AravisDataStream::doWithdrawBuffer(Buffer& buffer) noexcept {
    std::unique_lock lock(m_mutex);
    if (!onDeliveryThread()) {
        m_delivered.wait(lock, [&] {
            const auto found = m_slots.find(&buffer);
            return found == m_slots.end() || found->second.place != Place::Delivering;
        });
    }
    const auto found = m_slots.find(&buffer);
    if (found == m_slots.end()) {
        return;
    }
    const bool withAravis = m_bGrabbing && found->second.place == Place::Queued;
    m_slots.erase(found);
    if (withAravis) {
        requeueAll();
    }
}

// Called with m_mutex held, while grabbing: Aravis's queues start again from the queued slots.
void AravisDataStream::requeueAll() {
    arv_stream_stop_thread(m_pStream.get(), TRUE);
    arv_stream_start_thread(m_pStream.get());
    for (auto& slot : m_slots) {
        if (slot.second.place == Place::Queued) {
            pushToAravis(slot.second.arvBuffer.get());
        }
    }
}

uint64_t AravisDataStream::doGetQueuedCount() {
    const std::lock_guard lock(m_mutex);
    uint64_t queued = 0;
    for (const auto& slot : m_slots) {
        queued += slot.second.place == Place::Queued ? 1 : 0;
    }
    return queued;
}

// Called with m_mutex held, while grabbing.
void AravisDataStream::pushToAravis(ArvBuffer* arvBuffer) {
    arv_stream_push_buffer(m_pStream.get(), newReference(arvBuffer));
}

void AravisDataStream::readFrameFormat() {
    ErrorSlot error;
    const char* name = arv_device_get_string_feature_value(m_pDevice, "PixelFormat", error.out());
    error.check("DataStream::StartAcquisitionContinuous", "PixelFormat of camera " + m_link.serial);
    const std::lock_guard lock(m_mutex);
    m_formatName = name != nullptr ? name : "";
}

// A real camera sends while acquisition runs: freely, or once per software trigger. Delivery thread only.
bool AravisDataStream::virtualCameraSends() const {
    if (m_pVirtualCamera == nullptr) {
        return true;
    }
    if (arv_fake_camera_get_acquisition_status(m_pVirtualCamera) == 0) {
        return false;
    }
    if (arv_fake_camera_is_in_free_running_mode(m_pVirtualCamera)) {
        return true;
    }
    return arv_fake_camera_is_in_software_trigger_mode(m_pVirtualCamera) &&
           arv_fake_camera_check_and_acknowledge_software_trigger(m_pVirtualCamera);
}

void AravisDataStream::onNewBuffer(ArvStream* /*stream*/, gpointer doorbell) {
    static_cast<Doorbell*>(doorbell)->ring();
}

// The producer's delivery thread: runs from a start until the stop that ends grabbing. It sleeps until the
// doorbell rings, then hands over every filled buffer waiting in Aravis's output queue. A buffer whose ring
// comes after it was taken costs one empty round, never a lost frame: each ring follows its buffer's arrival.
void AravisDataStream::deliveryLoop(const std::shared_ptr<std::atomic<bool>>& alive) {
    m_deliveryId.store(std::this_thread::get_id());
    if (!platform::deferWakeUpsToRunningThreads()) {
        qCDebug(lcAravis()) << "stream" << site().objectName().c_str()
                            << ": the delivery thread wakes up as any other (the system refused to defer it)";
    }
    for (;;) {
        ArvStream* stream = nullptr;
        {
            const std::lock_guard lock(m_mutex);
            if (!m_bGrabbing) {
                return;
            }
            stream = m_pStream.get();
        }
        while (ArvBuffer* filled = arv_stream_try_pop_buffer(stream)) {
            if (!handOver(filled, alive)) {
                return;
            }
        }
        m_doorbell.waitForRing();
    }
}

bool AravisDataStream::handOver(ArvBuffer* filled, const std::shared_ptr<std::atomic<bool>>& alive) {
    const GObjectPtr<ArvBuffer> popped(filled); // the queue's reference; the slot keeps its own
    auto* buffer = static_cast<Buffer*>(const_cast<void*>(arv_buffer_get_user_data(filled)));
    const bool sent = virtualCameraSends();
    std::string_view format; // the camera's format since the start; it cannot change while grabbing
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_slots.find(buffer);
        if (found == m_slots.end() || !m_bGrabbing || m_link.lost.load()) {
            return true; // stays queued; a later start gives it to Aravis again
        }
        if (!sent) {
            pushToAravis(filled); // a frame the camera would not have sent: no one sees it
            return true;
        }
        found->second.place = Place::Delivering;
        format = m_formatName;
    }
    uint64_t frameId = arv_buffer_get_frame_id(filled);
    if (m_transport == Transport::GigEVision) {
        frameId = m_frameIds.extend(frameId);
    }
    core::FrameDescription frame;
    frame.frameId = frameId;
    frame.timestamp = arv_buffer_get_timestamp(filled);
    frame.status = statusOf(arv_buffer_get_status(filled));
    // Aravis knows a frame's image only when the frame arrived whole.
    if (frame.status == BufferStatus::Complete) {
        frame.width = static_cast<uint64_t>(arv_buffer_get_image_width(filled));
        frame.height = static_cast<uint64_t>(arv_buffer_get_image_height(filled));
        frame.pixelFormat = format;
    } else {
        frame.payloadSize = 0;
    }
    core::BufferAccess::describeFrame(*buffer, frame);
    // The handler queues the buffer again from inside its call (an undelivered one is queued by the facade).
    static_cast<void>(deliverBuffer(*buffer));
    // The handler may have destroyed the stream; then nothing of it may be touched.
    if (!alive->load()) {
        return false;
    }
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_slots.find(buffer); found != m_slots.end() && found->second.place == Place::Delivering) {
        found->second.place = Place::Idle; // kept by the handler's side
    }
    m_delivered.notify_all();
    return true;
}

} // namespace sdk::aravis
