#include "sdk/aravis/AravisDataStream.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/core/PixelFormats.h"

#include <algorithm>

namespace sdk::aravis {
namespace {

// How long the delivery thread waits for a filled buffer before it looks at the grabbing flag again.
constexpr guint64 kPopTimeoutUs = 20000;

ArvBuffer* newReference(ArvBuffer* buffer) {
    return static_cast<ArvBuffer*>(g_object_ref(buffer));
}

} // namespace

// ---- buffer list -----------------------------------------------------------------------------------------

void AravisBufferList::Add(Buffer* buffer) {
    m_stream.announce(buffer);
}

Buffer* AravisBufferList::RevokeBuffer(Buffer* buffer) {
    return m_stream.revoke(buffer);
}

uint64_t AravisBufferList::GetQueuedCount() {
    const std::lock_guard lock(m_stream.m_mutex);
    uint64_t queued = 0;
    for (const auto& slot : m_stream.m_slots) {
        queued += slot.second.place == AravisDataStream::Place::Queued ? 1 : 0;
    }
    return queued;
}

// ---- stream ----------------------------------------------------------------------------------------------

AravisDataStream::AravisDataStream(Transport transport, ArvDevice* device, const DeviceLink& link, std::string id)
    : m_transport(transport), m_pDevice(device), m_link(link), m_id(std::move(id)), m_bufferList(*this) {
    if (transport == Transport::Virtual && ARV_IS_FAKE_DEVICE(device)) {
        m_pVirtualCamera = arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(device));
    }
}

AravisDataStream::~AravisDataStream() {
    stopGrabbing();
    joinDeliveryThread();
    releaseStream();
    // Buffers the driver never revoked stay its own; they only lose their memory and their stream.
    const std::lock_guard lock(m_mutex);
    for (auto& slot : m_slots) {
        core::BufferAccess::detach(*slot.first);
    }
}

bool AravisDataStream::IsOpen() {
    return m_pStream != nullptr;
}

void AravisDataStream::Open() {
    if (m_pStream != nullptr) {
        Exceptions::raise("ResourceException", "DataStream::Open", "data stream " + m_id + " is already open");
    }
    m_link.requireConnected("DataStream::Open");
    ErrorSlot error;
    m_pStream.reset(arv_device_create_stream(m_pDevice, nullptr, nullptr, error.out()));
    error.check("DataStream::Open", "data stream " + m_id);
    if (m_pStream == nullptr) {
        Exceptions::raise("ResourceException", "DataStream::Open", "camera " + m_link.serial + " gave no stream");
    }
}

void AravisDataStream::Close() {
    if (m_pStream == nullptr) {
        Exceptions::raise("NotAvailableException", "DataStream::Close", "data stream " + m_id + " is not open");
    }
    stopGrabbing();
    joinDeliveryThread();
    releaseStream();
}

void AravisDataStream::releaseStream() noexcept {
    if (m_link.lost.load()) {
        releaseInBackground(m_pStream.release());
    }
    m_pStream.reset();
}

bool AravisDataStream::GetIsGrabbing() {
    const std::lock_guard lock(m_mutex);
    return m_bGrabbing;
}

void AravisDataStream::StartAcquisitionContinuous() {
    if (m_pStream == nullptr) {
        Exceptions::raise("NotAvailableException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_id + " is not open");
    }
    m_link.requireConnected("DataStream::StartAcquisitionContinuous");
    if (GetIsGrabbing()) {
        Exceptions::raise("ResourceException", "DataStream::StartAcquisitionContinuous",
                          "data stream " + m_id + " is already grabbing");
    }
    readFrameFormat();
    joinDeliveryThread(); // a delivery thread that a stop from its own handler left to end by itself
    {
        const std::lock_guard lock(m_mutex);
        m_bGrabbing = true;
        for (auto& slot : m_slots) {
            if (slot.second.place == Place::Queued) {
                pushToAravis(slot.second.arvBuffer.get());
            }
        }
    }
    // A start made from the handler keeps the running delivery thread: it goes on once the handler returns.
    if (!onDeliveryThread()) {
        m_delivery = std::thread([this] { deliveryLoop(); });
    }
}

void AravisDataStream::StopAcquisition() {
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
    // The link stays quiet after a stop: the camera is told to stop sending. The driver's stop does not
    // execute "AcquisitionStop" itself; without this, the camera would go on streaming into a closed door.
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

uint64_t AravisDataStream::GetLostFrameCount() {
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

void AravisDataStream::RegisterNewBufferEventHandler(void* owner, Events::NewBufferEventHandler handler) {
    std::unique_lock lock(m_mutex);
    m_pHandlerOwner = owner;
    m_handler = handler;
    if (!onDeliveryThread()) {
        m_deliveryEnded.wait(lock, [this] { return m_nDeliveries == 0; });
    }
}

void AravisDataStream::announce(Buffer* buffer) {
    if (buffer == nullptr) {
        Exceptions::raise("InvalidArgumentException", "BufferList::Add", "null buffer");
    }
    if (m_pStream == nullptr) {
        Exceptions::raise("NotAvailableException", "BufferList::Add", "data stream " + m_id + " is not open");
    }
    if (core::BufferAccess::owner(*buffer) != nullptr) {
        Exceptions::raise("ResourceException", "BufferList::Add", "the buffer is announced already");
    }
    m_link.requireConnected("BufferList::Add");
    ErrorSlot error;
    const gint64 payload = arv_device_get_integer_feature_value(m_pDevice, "PayloadSize", error.out());
    error.check("BufferList::Add", "PayloadSize of camera " + m_link.serial);
    if (payload <= 0) {
        Exceptions::raise("ResourceException", "BufferList::Add",
                          "camera " + m_link.serial + " reports no payload size");
    }
    m_nPayloadSize = static_cast<uint64_t>(payload);
    core::BufferAccess::attach(*buffer, *this, m_nPayloadSize);
    // Aravis writes straight into the buffer's memory; the Buffer rides along as the user data.
    Slot slot;
    slot.arvBuffer.reset(arv_buffer_new_full(m_nPayloadSize, core::BufferAccess::memory(*buffer), buffer, nullptr));
    const std::lock_guard lock(m_mutex);
    m_slots.emplace(buffer, std::move(slot));
    m_bufferList.m_entries.emplace_back("Buffer" + std::to_string(m_bufferList.m_nNextKey++), buffer);
}

Buffer* AravisDataStream::revoke(Buffer* buffer) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_bGrabbing) {
            Exceptions::raise("AccessDeniedException", "BufferList::RevokeBuffer",
                              "data stream " + m_id + " is grabbing");
        }
        const auto found = m_slots.find(buffer);
        if (buffer == nullptr || found == m_slots.end()) {
            Exceptions::raise("NotFoundException", "BufferList::RevokeBuffer",
                              "the buffer is not in the list of " + m_id);
        }
        m_slots.erase(found);
        auto& entries = m_bufferList.m_entries;
        entries.erase(
            std::remove_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.second == buffer; }),
            entries.end());
    }
    core::BufferAccess::detach(*buffer);
    return buffer;
}

void AravisDataStream::queueBuffer(Buffer& buffer) {
    const std::lock_guard lock(m_mutex);
    const auto found = m_slots.find(&buffer);
    if (found == m_slots.end()) {
        Exceptions::raise("NotFoundException", "Buffer::QueueBuffer", "the buffer is not in the list of " + m_id);
    }
    Slot& slot = found->second;
    if (slot.place == Place::Queued) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
    slot.place = Place::Queued;
    if (m_bGrabbing) {
        pushToAravis(slot.arvBuffer.get());
    }
}

// A buffer destroyed while announced: only legal while Aravis does not hold it (not grabbing).
void AravisDataStream::forgetBuffer(Buffer& buffer) noexcept {
    {
        const std::lock_guard lock(m_mutex);
        m_slots.erase(&buffer);
        auto& entries = m_bufferList.m_entries;
        entries.erase(
            std::remove_if(entries.begin(), entries.end(), [&](const auto& entry) { return entry.second == &buffer; }),
            entries.end());
    }
    core::BufferAccess::detach(buffer);
}

// Called with m_mutex held, while grabbing.
void AravisDataStream::pushToAravis(ArvBuffer* arvBuffer) {
    arv_stream_push_buffer(m_pStream.get(), newReference(arvBuffer));
}

void AravisDataStream::readFrameFormat() {
    ErrorSlot nameError;
    const char* name = arv_device_get_string_feature_value(m_pDevice, "PixelFormat", nameError.out());
    nameError.check("DataStream::StartAcquisitionContinuous", "PixelFormat of camera " + m_link.serial);
    ErrorSlot codeError;
    m_nFormatCode = arv_device_get_integer_feature_value(m_pDevice, "PixelFormat", codeError.out());
    codeError.check("DataStream::StartAcquisitionContinuous", "PixelFormat of camera " + m_link.serial);
    const core::PixelFormatInfo* format = core::findPixelFormat(name != nullptr ? name : "");
    m_pFormatName = format != nullptr ? format->name : "";
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

// The producer's delivery thread: runs from a start until the stop that ends grabbing.
void AravisDataStream::deliveryLoop() {
    m_deliveryId.store(std::this_thread::get_id());
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_bGrabbing) {
                return;
            }
        }
        if (ArvBuffer* filled = arv_stream_timeout_pop_buffer(m_pStream.get(), kPopTimeoutUs)) {
            handOver(filled);
        }
    }
}

void AravisDataStream::handOver(ArvBuffer* filled) {
    const GObjectPtr<ArvBuffer> popped(filled); // the queue's reference; the slot keeps its own
    auto* buffer = static_cast<Buffer*>(const_cast<void*>(arv_buffer_get_user_data(filled)));
    const bool complete = arv_buffer_get_status(filled) == ARV_BUFFER_STATUS_SUCCESS;
    const bool sent = virtualCameraSends();
    void* owner = nullptr;
    Events::NewBufferEventHandler handler = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        const auto found = m_slots.find(buffer);
        if (found == m_slots.end() || !m_bGrabbing || m_link.lost.load()) {
            return; // stays queued; a later start gives it to Aravis again
        }
        if (!sent || !complete || m_handler == nullptr) {
            m_nIncomplete += complete ? 0 : 1;
            pushToAravis(filled);
            return;
        }
        found->second.place = Place::WithHandler;
        owner = m_pHandlerOwner;
        handler = m_handler;
        ++m_nDeliveries;
    }
    uint64_t frameId = arv_buffer_get_frame_id(filled);
    if (m_transport == Transport::GigEVision) {
        frameId = m_frameIds.extend(frameId);
    }
    const ArvPixelFormat code = arv_buffer_get_image_pixel_format(filled);
    core::BufferAccess::describeFrame(*buffer, static_cast<uint64_t>(arv_buffer_get_image_width(filled)),
                                      static_cast<uint64_t>(arv_buffer_get_image_height(filled)), frameId,
                                      static_cast<int64_t>(code) == m_nFormatCode ? m_pFormatName : "",
                                      arv_buffer_get_timestamp(filled));
    handler(owner, buffer);
    const std::lock_guard lock(m_mutex);
    --m_nDeliveries;
    m_deliveryEnded.notify_all();
}

} // namespace sdk::aravis
