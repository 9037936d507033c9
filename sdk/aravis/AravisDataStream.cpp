#include "sdk/aravis/AravisDataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/aravis/AravisGevLink.h"
#include "sdk/aravis/AravisPlatform.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/core/DeliveryThreads.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>

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
                                   std::shared_ptr<const DeviceLink> link)
    : DataStream(gate, std::move(objectName)), m_transport(transport),
      m_pDevice(static_cast<ArvDevice*>(g_object_ref(device))), m_pLink(std::move(link)) {
    if (transport == Transport::Virtual && ARV_IS_FAKE_DEVICE(device)) {
        m_pVirtualCamera = arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(device));
    }
}

// No hand-over is in progress (it would hold the stream); the delivery thread is idle or ending.
AravisDataStream::~AravisDataStream() {
    stopGrabbing();
    m_pWakeup->quit.store(true);
    m_pWakeup->doorbell.ring();
    core::joinOrReap(std::move(m_delivery));
    releaseStream();
    if (m_pLink->silent()) {
        releaseInBackground(g_object_ref(m_pDevice.get())); // the last release of a lost camera waits out timeouts
    }
}

// Talks to the camera: runs on its control channel.
GObjectPtr<ArvStream> AravisDataStream::makeAravisStream(ArvDevice* device, const std::string& serial) {
    if (ARV_IS_GV_DEVICE(device)) {
        const gev::PacketSizeChoice size = gev::negotiatePacketSize(ARV_GV_DEVICE(device), serial);
        if (size.mtu && size.chosen > *size.mtu) {
            gev::receiveThroughUdpSocket(ARV_GV_DEVICE(device));
        }
    }
    ErrorSlot error;
    GObjectPtr<ArvStream> stream(arv_device_create_stream(device, nullptr, nullptr, error.out()));
    error.check("DataStream::Open", "a stream of camera " + serial);
    if (stream == nullptr) {
        Exceptions::raise("ResourceException", "DataStream::Open", "camera " + serial + " gave no stream");
    }
    if (ARV_IS_GV_STREAM(stream.get())) {
        gev::configureReception(device, stream.get());
    }
    return stream;
}

void AravisDataStream::doOpen() {
    m_pLink->requireConnected("DataStream::Open");
    // What the signal connection will hold is made before Aravis's receiving thread exists, so that the thread
    // that rings finds it written (GLib's own locks order the rest, unseen by the thread checker).
    auto wakeup = std::make_unique<std::shared_ptr<Wakeup>>(m_pWakeup);
    GObjectPtr<ArvStream> stream =
        m_pLink->control->run("DataStream::Open", [device = m_pDevice.get(), serial = m_pLink->serial] {
            return makeAravisStream(device, serial);
        });
    if (ARV_IS_GV_STREAM(stream.get())) {
        // Waits for Aravis's receiving thread, not for the camera: outside the control channel's deadline.
        static_cast<void>(gev::admitOnlyTheCamerasStreamPackets(ARV_GV_DEVICE(m_pDevice.get()),
                                                                ARV_GV_STREAM(stream.get()), m_pLink->serial));
    }
    // One wake-up per frame, with no lock held: waiting in Aravis's output queue instead would wake the delivery
    // thread while the receiving thread still holds the queue's lock, and each would then wait for the other.
    // The connection holds the wake-up state, so that a signal in emission never rings freed memory.
    m_nNewBufferHandler =
        connectHolding(stream.get(), "new-buffer", G_CALLBACK(&AravisDataStream::onNewBuffer), std::move(wakeup));
    setEmitSignals(stream.get(), TRUE);
    const std::lock_guard lock(m_mutex);
    m_pStream = std::move(stream);
}

void AravisDataStream::doClose() {
    stopGrabbing();
    releaseStream();
}

// Through the property rather than arv_stream_set_emit_signals(): the thread-checking build ignores calls made
// from inside Aravis and GLib, but that function unlocks its mutex in a tail call, which seems to come from our
// code; the checker would then report the unlock of a mutex it never saw locked.
void AravisDataStream::setEmitSignals(ArvStream* stream, gboolean emit) noexcept {
    g_object_set(stream, "emit-signals", emit, nullptr);
}

void AravisDataStream::releaseStream() noexcept {
    GObjectPtr<ArvStream> stream;
    {
        const std::lock_guard lock(m_mutex);
        stream = std::move(m_pStream);
    }
    if (stream != nullptr && m_nNewBufferHandler != 0) {
        setEmitSignals(stream.get(), FALSE);
        g_signal_handler_disconnect(stream.get(), m_nNewBufferHandler);
    }
    m_nNewBufferHandler = 0;
    if (m_pLink->silent()) {
        releaseInBackground(stream.release());
    }
}

uint64_t AravisDataStream::doGetBufferSize() {
    m_pLink->requireConnected("BufferList::Add");
    const gint64 payload =
        m_pLink->control->run("BufferList::Add", [device = m_pDevice.get(), serial = m_pLink->serial] {
            ErrorSlot error;
            const gint64 value = arv_device_get_integer_feature_value(device, "PayloadSize", error.out());
            error.check("BufferList::Add", "PayloadSize of camera " + serial);
            return value;
        });
    if (payload <= 0) {
        Exceptions::raise("ResourceException", "BufferList::Add",
                          "camera " + m_pLink->serial + " reports no payload size");
    }
    return static_cast<uint64_t>(payload);
}

bool AravisDataStream::doGetIsGrabbing() {
    const std::lock_guard lock(m_mutex);
    return m_bGrabbing;
}

// The delivery thread is started once, by the first start, and runs until the stream ends; a start made from
// inside a handler call needs nothing else.
void AravisDataStream::doStartAcquisition() {
    m_pLink->requireConnected("DataStream::StartAcquisitionContinuous");
    readFrameFormat();
    {
        const std::lock_guard lock(m_mutex);
        if (m_pStream == nullptr) {
            Exceptions::raise("NotAvailableException", "DataStream::StartAcquisitionContinuous",
                              "data stream " + site().objectName() + " has no Aravis stream");
        }
        m_bGrabbing = true;
        m_frameIds = FrameIdExtender();
        for (auto& slot : m_slots) {
            if (slot.second.place == Place::Queued) {
                pushToAravis(slot.second.arvBuffer.get());
            }
        }
    }
    if (!m_delivery.joinable()) {
        m_delivery = std::thread(&AravisDataStream::run, weak_from_this(), m_pWakeup);
    }
    m_pWakeup->doorbell.ring();
    joinLink();
}

// Before the driver's "AcquisitionStart": the camera sends nothing yet, and starts with its share of the link.
void AravisDataStream::joinLink() {
    if (!ARV_IS_GV_DEVICE(m_pDevice.get())) {
        return;
    }
    ArvGvDevice* device = ARV_GV_DEVICE(m_pDevice.get());
    std::unique_ptr<gev::LinkShare> share = gev::LinkShare::join(device, m_pLink);
    // The trigger is programmed before the stream starts: a camera that is not triggered sends at once. Reading
    // it talks to the camera: on its control channel; a camera that does not answer now is not watched.
    bool freeRun = false;
    std::chrono::milliseconds patience{0};
    try {
        std::tie(freeRun, patience) = m_pLink->control->run("DataStream::WatchLink", [device = m_pDevice.get()] {
            ErrorSlot error;
            const char* triggerMode = arv_device_get_feature(device, "TriggerMode") != nullptr
                                          ? arv_device_get_string_feature_value(device, "TriggerMode", error.out())
                                          : "Off";
            const bool untriggered = !error.failed() && triggerMode != nullptr && std::string(triggerMode) == "Off";
            return std::make_pair(untriggered, patienceForFirstPacket(device));
        });
    } catch (const Exceptions::IException&) {
        freeRun = false;
    }
    std::unique_ptr<gev::SilentLinkWatch> watch;
    if (freeRun) {
        const std::lock_guard lock(m_mutex);
        if (m_pStream != nullptr) {
            watch = std::make_unique<gev::SilentLinkWatch>(device, m_pStream.get(), m_pLink, patience);
        }
    }
    {
        const std::lock_guard lock(m_mutex);
        if (m_bGrabbing) {
            std::swap(m_pLinkShare, share);
            std::swap(m_pSilenceWatch, watch);
        }
    }
    // What is left here (an earlier start's, or this one's when a stop came in between) ends outside the lock.
}

// A second, plus three frames of the camera's rate: the first frame leaves the camera within one frame time of
// its start.
std::chrono::milliseconds AravisDataStream::patienceForFirstPacket(ArvDevice* device) {
    constexpr std::chrono::milliseconds kBase{1000};
    constexpr std::chrono::milliseconds kLongest{10000};
    if (arv_device_get_feature(device, "AcquisitionFrameRate") == nullptr) {
        return kBase * 3;
    }
    ErrorSlot error;
    const double rate = arv_device_get_float_feature_value(device, "AcquisitionFrameRate", error.out());
    if (error.failed() || !(rate > 0)) {
        return kBase * 3;
    }
    const auto frames = std::chrono::milliseconds(static_cast<int64_t>(std::min(3000.0 / rate, 1e7)));
    return std::min(kBase + frames, kLongest);
}

void AravisDataStream::doStopAcquisition() {
    stopGrabbing();
}

// Stop order: no more hand-overs, the camera stops sending, Aravis's thread stops and lets go of our buffers,
// then the hand-over in progress is waited for (not from inside a handler call: that one finishes on its own).
void AravisDataStream::stopGrabbing() noexcept {
    ArvStream* stream = nullptr;
    std::unique_ptr<gev::SilentLinkWatch> watch;
    std::unique_ptr<gev::LinkShare> share;
    {
        const std::lock_guard lock(m_mutex);
        watch = std::move(m_pSilenceWatch);
        share = std::move(m_pLinkShare);
        if (!m_bGrabbing) {
            return;
        }
        m_bGrabbing = false;
        stream = m_pStream.get(); // host's side: only this side replaces it
    }
    watch.reset();
    m_pWakeup->doorbell.ring();
    // The link stays quiet after a stop: the camera is told to stop sending. The driver's stop does not
    // execute "AcquisitionStop" itself; without this, the camera would stream on into a closed door.
    if (!m_pLink->silent()) {
        bool stopped = false;
        try {
            stopped = m_pLink->control->run("DataStream::StopAcquisition", [device = m_pDevice.get()] {
                if (arv_device_get_feature(device, "AcquisitionStop") == nullptr) {
                    return true;
                }
                ErrorSlot error;
                arv_device_execute_command(device, "AcquisitionStop", error.out());
                return !error.failed();
            });
        } catch (const Exceptions::IException&) {
            // Did not answer in time or is closed: said below.
        }
        if (!stopped) {
            qCWarning(lcAravis()) << "camera" << m_pLink->serial.c_str() << "did not stop sending frames";
        }
    }
    // Restarting Aravis's receiving thread is the one way to take every buffer back out of its queues; it
    // then idles until buffers are queued again.
    if (stream != nullptr) {
        arv_stream_stop_thread(stream, TRUE);
        arv_stream_start_thread(stream);
    }
    // The camera is quiet: the others on its link get its share.
    share.reset();
    std::unique_lock lock(m_mutex);
    awaitNoDelivery(lock);
}

void AravisDataStream::awaitNoDelivery(std::unique_lock<std::mutex>& lock) {
    if (core::insideHandlerCall()) {
        return;
    }
    m_delivered.wait(lock, [this] {
        return std::none_of(m_slots.begin(), m_slots.end(),
                            [](const auto& slot) { return slot.second.place == Place::Delivering; });
    });
}

uint64_t AravisDataStream::doGetLostFrameCount() {
    const std::lock_guard lock(m_mutex);
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

void AravisDataStream::doGetTransportStatistics(StreamStatistics& statistics) {
    const std::lock_guard lock(m_mutex);
    if (m_pStream == nullptr) {
        return;
    }
    guint64 completed = 0;
    guint64 failures = 0;
    guint64 underruns = 0;
    arv_stream_get_statistics(m_pStream.get(), &completed, &failures, &underruns);
    statistics.packetsNoBuffer = underruns; // Aravis counts each packet it had no buffer for
    if (ARV_IS_GV_STREAM(m_pStream.get())) {
        statistics.framesMissing = arv_stream_get_info_uint64_by_name(m_pStream.get(), "n_missing_frames");
        guint64 resent = 0;
        guint64 missing = 0;
        arv_gv_stream_get_statistics(ARV_GV_STREAM(m_pStream.get()), &resent, &missing);
        statistics.packetsResent = resent;
        statistics.packetsMissing = missing;
    }
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
    if (!core::insideHandlerCall()) {
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
    const std::string name = m_pLink->control->run(
        "DataStream::StartAcquisitionContinuous", [device = m_pDevice.get(), serial = m_pLink->serial] {
            ErrorSlot error;
            const char* value = arv_device_get_string_feature_value(device, "PixelFormat", error.out());
            error.check("DataStream::StartAcquisitionContinuous", "PixelFormat of camera " + serial);
            return std::string(value != nullptr ? value : "");
        });
    const char* interned = core::internPixelFormatName(name.c_str());
    const std::lock_guard lock(m_mutex);
    m_formatName = interned;
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

void AravisDataStream::onNewBuffer(ArvStream* /*stream*/, gpointer wakeup) {
    (*static_cast<std::shared_ptr<Wakeup>*>(wakeup))->doorbell.ring();
}

// The delivery thread: sleeps until the doorbell rings, then, holding the stream, hands over every filled buffer
// waiting in Aravis's output queue. A buffer whose ring comes after it was taken costs one empty round, never a
// lost frame: each ring follows its buffer's arrival. When the round held the stream's last reference, the
// stream ends on this thread, which then returns at its next wake-up (the end rings it).
void AravisDataStream::run(const std::weak_ptr<AravisDataStream>& stream, const std::shared_ptr<Wakeup>& wakeup) {
    for (;;) {
        wakeup->doorbell.waitForRing();
        if (wakeup->quit.load()) {
            return;
        }
        if (const std::shared_ptr<AravisDataStream> self = stream.lock()) {
            self->deliverFilled();
        } else {
            return;
        }
    }
}

void AravisDataStream::deliverFilled() {
    for (;;) {
        GObjectPtr<ArvStream> stream; // a reference of this round's: a close may release the stream meanwhile
        {
            const std::lock_guard lock(m_mutex);
            if (!m_bGrabbing || m_pStream == nullptr) {
                return;
            }
            stream.reset(static_cast<ArvStream*>(g_object_ref(m_pStream.get())));
        }
        ArvBuffer* filled = arv_stream_try_pop_buffer(stream.get());
        if (filled == nullptr) {
            return;
        }
        handOver(filled);
    }
}

void AravisDataStream::handOver(ArvBuffer* filled) {
    const GObjectPtr<ArvBuffer> popped(filled); // the queue's reference; the slot keeps its own
    auto* buffer = static_cast<Buffer*>(const_cast<void*>(arv_buffer_get_user_data(filled)));
    const bool sent = virtualCameraSends();
    core::FrameDescription frame;
    frame.timestamp = arv_buffer_get_timestamp(filled);
    frame.status = statusOf(arv_buffer_get_status(filled));
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_slots.find(buffer);
        if (found == m_slots.end() || !m_bGrabbing || m_pLink->lost.load()) {
            return; // stays queued; a later start gives it to Aravis again
        }
        if (!sent) {
            pushToAravis(filled); // a frame the camera would not have sent: no one sees it
            return;
        }
        found->second.place = Place::Delivering;
        // Aravis knows a frame's image only when the frame arrived whole; only such a frame's block ID moves
        // the count on (an incomplete one may come late, after a newer complete one).
        const uint64_t blockId = arv_buffer_get_frame_id(filled);
        if (frame.status == BufferStatus::Complete) {
            frame.frameId = extendsBlockIds() ? m_frameIds.extend(blockId) : blockId;
            frame.width = static_cast<uint64_t>(arv_buffer_get_image_width(filled));
            frame.height = static_cast<uint64_t>(arv_buffer_get_image_height(filled));
            frame.pixelFormat = m_formatName; // cannot change while grabbing
        } else {
            frame.frameId = blockId;
            frame.payloadSize = 0;
        }
        // Described under the lock, while the slot says it is being delivered: a revocation made from inside a
        // handler call waits for no delivery, and the buffer's owner may free it once the slot is gone.
        core::BufferAccess::describeFrame(*buffer, frame);
    }
    // The handler queues the buffer again from inside its call (an undelivered one is queued by the facade).
    static_cast<void>(deliverBuffer(*buffer));
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_slots.find(buffer); found != m_slots.end() && found->second.place == Place::Delivering) {
        found->second.place = Place::Idle; // kept by the handler's side
    }
    m_delivered.notify_all();
}

} // namespace sdk::aravis
