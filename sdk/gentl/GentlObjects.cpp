#include "sdk/gentl/GentlObjects.h"

#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/core/DeliveryThreads.h"
#include "sdk/core/PixelFormats.h"
#include "sdk/gentl/GentlAnswers.h"
#include "sdk/gentl/GentlDescription.h"
#include "sdk/gentl/GentlError.h"
#include "sdk/gentl/GentlPortDevice.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

namespace sdk::gentl {
namespace {

// How long the delivery thread waits for an event before it looks whether to end; EventKill ends the wait at
// once with a producer that honours it.
constexpr uint64_t kEventWaitMs = 500;

// The most pixels a frame's side may have: far beyond any sensor, and small enough that no size made of two
// sides overflows.
constexpr uint64_t kMaxSide = uint64_t{1} << 20U;

// A text answer of a producer's information call; nothing when it gives none, or one that is no text ending
// within its size (GentlAnswers.h).
template <typename Call>
std::optional<std::string> infoAnswer(Call call) {
    std::array<char, 512> text{};
    size_t size = text.size();
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (call(&type, text.data(), &size) != GC_ERR_SUCCESS ||
        (type != INFO_DATATYPE_STRING && type != INFO_DATATYPE_UNKNOWN)) {
        return std::nullopt;
    }
    return producerText(text.data(), text.size(), size);
}

template <typename Call>
std::string infoText(Call call) {
    return infoAnswer(call).value_or(std::string());
}

// A list entry (an ID) of a producer; empty when it gives none, or no text ending within its size.
template <typename Call>
std::string idText(Call call) {
    std::array<char, 512> text{};
    size_t size = text.size();
    if (call(text.data(), &size) != GC_ERR_SUCCESS) {
        return {};
    }
    return producerText(text.data(), text.size(), size).value_or(std::string());
}

// A numeric information value; false when the producer gives none of the expected size and kind.
template <typename T, typename Call>
bool infoNumber(Call call, T& value) {
    T result{};
    size_t size = sizeof result;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (call(&type, &result, &size) != GC_ERR_SUCCESS || !numberFits<T>(type, size)) {
        return false;
    }
    value = result;
    return true;
}

} // namespace

DeviceModule::~DeviceModule() {
    if (const GC_ERROR code = library->fn().DevClose(handle)) {
        qCWarning(lcGentl()).noquote() << "closing a GenTL device failed:"
                                       << QString::fromStdString(library->lastError(code));
    }
}

// ---- data stream -------------------------------------------------------------------------------------------

GentlDataStream::GentlDataStream(core::CallGate& gate, std::string objectName, Library library, DS_HANDLE stream,
                                 EVENT_HANDLE event, ArvDevice* features)
    : DataStream(gate, std::move(objectName)), m_pLibrary(std::move(library)), m_hStream(stream),
      m_pFeatures(static_cast<ArvDevice*>(g_object_ref(features))) {
    m_pWakeup->library = m_pLibrary;
    m_pWakeup->event = event;
}

std::shared_lock<std::shared_timed_mutex> GentlDataStream::holdModule(const char* function) const {
    std::shared_lock hold(m_pWakeup->module);
    if (!m_pWakeup->open) {
        Exceptions::raise("NotAvailableException", function, "data stream " + site().objectName() + " is closed");
    }
    return hold;
}

// EventKill first, so that a wait for an event in progress ends (bounded by its timeout with a producer that
// ignores the kill) and gives the shared hold back.
void GentlDataStream::closeModule() noexcept {
    stopGrabbing();
    m_pWakeup->quit.store(true);
    {
        const std::shared_lock hold(m_pWakeup->module);
        if (!m_pWakeup->open) {
            return;
        }
        static_cast<void>(fn().EventKill(m_pWakeup->event));
    }
    // The delivery thread gives its hold back within its event wait (or at once, killed); one that does not is
    // stuck in the producer, which is then given up: its stream stays open, its thread is left to it.
    std::unique_lock lock(m_pWakeup->module, std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(kEventWaitMs + library().deadlineMs()))) {
        library().markStuck("the delivery of data stream " + site().objectName() + " did not return from the producer");
        return;
    }
    if (!m_pWakeup->open) {
        return;
    }
    m_pWakeup->open = false;
    static_cast<void>(fn().GCUnregisterEvent(m_hStream, EVENT_NEW_BUFFER));
    if (const GC_ERROR code = fn().DSClose(m_hStream)) {
        qCWarning(lcGentl()).noquote() << "closing data stream" << QString::fromStdString(site().objectName())
                                       << "failed:" << QString::fromStdString(library().lastError(code));
    }
}

// No hand-over is in progress (it would hold the stream); the delivery thread waits for an event or ends.
GentlDataStream::~GentlDataStream() {
    closeModule();
    if (library().usable()) {
        core::joinOrReap(std::move(m_delivery));
    } else if (m_delivery.joinable()) {
        m_delivery.detach(); // it may be stuck in the producer; it holds what it uses
    }
}

uint64_t GentlDataStream::doGetBufferSize() {
    const auto hold = holdModule("BufferList::Add");
    bool8_t defines = 0;
    size_t payload = 0;
    const bool known =
        infoNumber([&](INFO_DATATYPE* t, void* b,
                       size_t* s) { return fn().DSGetInfo(m_hStream, STREAM_INFO_DEFINES_PAYLOADSIZE, t, b, s); },
                   defines) &&
        defines != 0 &&
        infoNumber([&](INFO_DATATYPE* t, void* b,
                       size_t* s) { return fn().DSGetInfo(m_hStream, STREAM_INFO_PAYLOAD_SIZE, t, b, s); },
                   payload);
    if (known && payload > 0) {
        return payload;
    }
    aravis::ErrorSlot error;
    const gint64 feature = arv_device_get_integer_feature_value(m_pFeatures.get(), "PayloadSize", error.out());
    error.check("BufferList::Add", "PayloadSize of data stream " + site().objectName());
    if (feature <= 0) {
        Exceptions::raise("ResourceException", "BufferList::Add",
                          "data stream " + site().objectName() + " reports no payload size");
    }
    return static_cast<uint64_t>(feature);
}

bool GentlDataStream::doGetIsGrabbing() {
    const std::lock_guard lock(m_mutex);
    return m_bGrabbing;
}

// The producer writes straight into the buffer's memory; the Buffer rides along as the private pointer.
void GentlDataStream::doAnnounceBuffer(Buffer& buffer) {
    const auto hold = holdModule("BufferList::Add");
    BUFFER_HANDLE handle = nullptr;
    check(library(),
          fn().DSAnnounceBuffer(m_hStream, core::BufferAccess::memory(buffer), buffer.GetMemSize(), &buffer, &handle),
          "BufferList::Add", "announcing a buffer to data stream " + site().objectName());
    needHandle(library(), handle, "BufferList::Add", "announcing a buffer to data stream " + site().objectName());
    const std::lock_guard lock(m_mutex);
    m_slots[&buffer] = Slot{handle, Place::Idle};
}

void GentlDataStream::doQueueBuffer(Buffer& buffer) {
    const auto hold = holdModule("Buffer::QueueBuffer");
    const std::lock_guard lock(m_mutex);
    const auto found = m_slots.find(&buffer);
    if (found == m_slots.end()) {
        Exceptions::raise("NotFoundException", "Buffer::QueueBuffer", "the buffer is not announced to this stream");
    }
    Slot& slot = found->second;
    if (slot.place == Place::Queued) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
    if (m_bGrabbing) {
        check(library(), fn().DSQueueBuffer(m_hStream, slot.handle), "Buffer::QueueBuffer",
              "data stream " + site().objectName());
    }
    const bool wasDelivering = slot.place == Place::Delivering;
    slot.place = Place::Queued;
    if (wasDelivering) {
        m_delivered.notify_all();
    }
}

// The producer holds our buffers only while grabbing: a start empties its queues and queues every queued slot.
void GentlDataStream::queueAllToProducer(const char* function) {
    check(library(), fn().DSFlushQueue(m_hStream, ACQ_QUEUE_ALL_DISCARD), function,
          "emptying the queues of data stream " + site().objectName());
    for (const auto& [buffer, slot] : m_slots) {
        if (slot.place == Place::Queued) {
            check(library(), fn().DSQueueBuffer(m_hStream, slot.handle), function,
                  "data stream " + site().objectName());
        }
    }
}

void GentlDataStream::doStartAcquisition() {
    const auto hold = holdModule("DataStream::StartAcquisitionContinuous");
    aravis::ErrorSlot error;
    const char* name = arv_device_get_string_feature_value(m_pFeatures.get(), "PixelFormat", error.out());
    error.check("DataStream::StartAcquisitionContinuous", "PixelFormat of data stream " + site().objectName());
    const char* interned = core::internPixelFormatName(name != nullptr ? name : "");
    const core::PixelFormatInfo* known = core::findPixelFormat(interned);
    {
        const std::lock_guard lock(m_mutex);
        m_formatName = interned;
        m_formatInfo = known;
        queueAllToProducer("DataStream::StartAcquisitionContinuous");
        check(library(), fn().DSStartAcquisition(m_hStream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
              "DataStream::StartAcquisitionContinuous", "data stream " + site().objectName());
        m_bGrabbing = true;
    }
    if (!m_delivery.joinable()) {
        m_delivery = std::thread(&GentlDataStream::run, weak_from_this(), m_pWakeup);
    }
}

// Stop order: no more hand-overs, the producer stops filling and lets go of our buffers, the camera stops
// sending, then the hand-over in progress is waited for (not from inside a handler call).
void GentlDataStream::stopGrabbing() noexcept {
    {
        const std::shared_lock hold(m_pWakeup->module);
        {
            const std::lock_guard lock(m_mutex);
            if (!m_bGrabbing) {
                return;
            }
            m_bGrabbing = false;
            if (m_pWakeup->open) {
                if (const GC_ERROR code = fn().DSStopAcquisition(m_hStream, ACQ_STOP_FLAGS_DEFAULT)) {
                    qCWarning(lcGentl()).noquote()
                        << "data stream" << QString::fromStdString(site().objectName())
                        << "did not stop:" << QString::fromStdString(library().lastError(code));
                }
                static_cast<void>(fn().DSFlushQueue(m_hStream, ACQ_QUEUE_ALL_DISCARD));
            }
        }
        // The link stays quiet after a stop, as with every transport: the camera is told to stop sending.
        if (m_pWakeup->open && arv_device_get_feature(m_pFeatures.get(), "AcquisitionStop") != nullptr) {
            aravis::ErrorSlot error;
            arv_device_execute_command(m_pFeatures.get(), "AcquisitionStop", error.out());
            if (error.failed()) {
                qCWarning(lcGentl()) << "camera of data stream" << site().objectName().c_str()
                                     << "did not stop sending frames";
            }
        }
    }
    std::unique_lock lock(m_mutex);
    awaitNoDelivery(lock);
}

void GentlDataStream::awaitNoDelivery(std::unique_lock<std::mutex>& lock) {
    if (core::insideHandlerCall()) {
        return;
    }
    m_delivered.wait(lock, [this] {
        return std::none_of(m_slots.begin(), m_slots.end(),
                            [](const auto& slot) { return slot.second.place == Place::Delivering; });
    });
}

uint64_t GentlDataStream::doGetLostFrameCount() {
    const std::shared_lock hold(m_pWakeup->module);
    uint64_t underrun = 0;
    if (!m_pWakeup->open) {
        return underrun;
    }
    static_cast<void>(
        infoNumber([&](INFO_DATATYPE* t, void* b,
                       size_t* s) { return fn().DSGetInfo(m_hStream, STREAM_INFO_NUM_UNDERRUN, t, b, s); },
                   underrun));
    return underrun;
}

// The buffer leaves the producer: while grabbing, acquisition pauses so that no filling of it is in progress
// (a conforming producer's stop returns only then), its queues restart without it.
void GentlDataStream::doWithdrawBuffer(Buffer& buffer) noexcept {
    if (!core::insideHandlerCall()) {
        std::unique_lock lock(m_mutex);
        m_delivered.wait(lock, [&] {
            const auto found = m_slots.find(&buffer);
            return found == m_slots.end() || found->second.place != Place::Delivering;
        });
    }
    const std::shared_lock hold(m_pWakeup->module);
    const std::lock_guard lock(m_mutex);
    const auto found = m_slots.find(&buffer);
    if (found == m_slots.end()) {
        return;
    }
    BUFFER_HANDLE handle = found->second.handle;
    const bool withProducer = m_bGrabbing && found->second.place == Place::Queued;
    m_slots.erase(found);
    if (!m_pWakeup->open) {
        return; // the closed GenTL stream let go of every buffer
    }
    if (withProducer) {
        static_cast<void>(fn().DSStopAcquisition(m_hStream, ACQ_STOP_FLAGS_DEFAULT));
        static_cast<void>(fn().DSFlushQueue(m_hStream, ACQ_QUEUE_ALL_DISCARD));
    }
    if (const GC_ERROR code = fn().DSRevokeBuffer(m_hStream, handle, nullptr, nullptr)) {
        qCWarning(lcGentl()).noquote() << "data stream" << QString::fromStdString(site().objectName())
                                       << "did not give a buffer back:"
                                       << QString::fromStdString(library().lastError(code));
    }
    if (withProducer) {
        try {
            queueAllToProducer("BufferList::RevokeBuffer");
            check(library(), fn().DSStartAcquisition(m_hStream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE),
                  "BufferList::RevokeBuffer", "data stream " + site().objectName());
        } catch (const Exceptions::IException& error) {
            qCWarning(lcGentl()).noquote() << "data stream" << QString::fromStdString(site().objectName())
                                           << "did not restart after a buffer left it:"
                                           << QString::fromStdString(error.GetErrorDescription().str());
        }
    }
}

uint64_t GentlDataStream::doGetQueuedCount() {
    const std::lock_guard lock(m_mutex);
    return static_cast<uint64_t>(std::count_if(m_slots.begin(), m_slots.end(),
                                               [](const auto& slot) { return slot.second.place == Place::Queued; }));
}

// The delivery thread: waits for the next new-buffer event and, holding the stream, hands the buffer over. When
// the hand-over held the stream's last reference, the stream ends on this thread, which then returns.
void GentlDataStream::run(const std::weak_ptr<GentlDataStream>& stream, const std::shared_ptr<Wakeup>& wakeup) {
    // The frame path calls the producer straight: no thread or deadline of ours per frame.
    const GentlLibrary::DirectCalls direct;
    const GentlFunctions& f = wakeup->library->fn();
    std::mutex pauseMutex;
    std::condition_variable pause; // never notified: a bounded wait after a failing producer's answer
    while (!wakeup->quit.load()) {
        EVENT_NEW_BUFFER_DATA event{};
        size_t size = sizeof event;
        GC_ERROR code = GC_ERR_ABORT;
        {
            const std::shared_lock hold(wakeup->module);
            if (!wakeup->open) {
                return;
            }
            code = f.EventGetData(wakeup->event, &event, &size, kEventWaitMs);
        }
        if (code == GC_ERR_TIMEOUT || code == GC_ERR_ABORT) {
            continue;
        }
        if (code != GC_ERR_SUCCESS || size < sizeof event) {
            // A producer that answers errors: said once a second at most, without spinning.
            std::unique_lock lock(pauseMutex);
            pause.wait_for(lock, std::chrono::milliseconds(kEventWaitMs), [&] { return wakeup->quit.load(); });
            continue;
        }
        const std::shared_ptr<GentlDataStream> self = stream.lock();
        if (self == nullptr) {
            return;
        }
        self->handOver(event);
    }
}

// The buffer's own word wins: a producer may change the format from one buffer to the next, or its "PixelFormat"
// may lag behind what it sends. A code of the naming convention (or of GigE Vision's, whose codes it took over)
// that the table lacks, or of another namespace, cannot be read: the frame is not passed off as something it
// is not. Only a buffer that gives no code leaves the camera's "PixelFormat" in charge.
GentlDataStream::FrameFormat GentlDataStream::formatOf(const ReportedFormat& reported) const noexcept {
    const FrameFormat camera{m_formatName, m_formatInfo};
    if (!reported.given || reported.code == 0) {
        return camera; // no code: 0 is none of the convention's
    }
    const bool convention = !reported.spaceGiven || reported.space == PIXELFORMAT_NAMESPACE_PFNC_32BIT ||
                            reported.space == PIXELFORMAT_NAMESPACE_GEV;
    if (!convention || reported.code > UINT32_MAX) {
        return {};
    }
    const auto code = static_cast<uint32_t>(reported.code);
    if (m_formatInfo != nullptr && code == m_formatInfo->code) {
        return camera; // the camera's own name for it ("RGB8Packed" stays so)
    }
    const core::PixelFormatInfo* known = core::findPixelFormatByCode(code);
    return known != nullptr ? FrameFormat{known->name, known} : FrameFormat{};
}

void GentlDataStream::handOver(const EVENT_NEW_BUFFER_DATA& event) {
    Buffer* buffer = nullptr;
    {
        const std::lock_guard lock(m_mutex);
        // The producer's handle, not its private pointer, finds the buffer: a producer's garbage finds nothing.
        const auto found = std::find_if(m_slots.begin(), m_slots.end(),
                                        [&](const auto& slot) { return slot.second.handle == event.BufferHandle; });
        if (found == m_slots.end() || !m_bGrabbing || found->second.place != Place::Queued) {
            return; // stays queued; a later start gives it to the producer again
        }
        found->second.place = Place::Delivering;
        buffer = found->first;
    }
    const auto info = [&](BUFFER_INFO_CMD command, auto& value) {
        return infoNumber(
            [&](INFO_DATATYPE* t, void* b, size_t* s) {
                return fn().DSGetBufferInfo(m_hStream, event.BufferHandle, command, t, b, s);
            },
            value);
    };
    core::FrameDescription frame;
    size_t width = 0;
    size_t height = 0;
    size_t filled = 0;
    bool8_t incomplete = 0;
    bool described = false;
    ReportedFormat reported;
    {
        const std::shared_lock hold(m_pWakeup->module);
        described = m_pWakeup->open && info(BUFFER_INFO_FRAMEID, frame.frameId) &&
                    info(BUFFER_INFO_SIZE_FILLED, filled) && info(BUFFER_INFO_IS_INCOMPLETE, incomplete) &&
                    info(BUFFER_INFO_WIDTH, width) && info(BUFFER_INFO_HEIGHT, height);
        if (described && !info(BUFFER_INFO_TIMESTAMP_NS, frame.timestamp)) {
            static_cast<void>(info(BUFFER_INFO_TIMESTAMP, frame.timestamp));
        }
        if (described) {
            reported.given = info(BUFFER_INFO_PIXELFORMAT, reported.code);
            reported.spaceGiven = reported.given && info(BUFFER_INFO_PIXELFORMAT_NAMESPACE, reported.space);
        }
    }
    frame.width = width;
    frame.height = height;
    bool warnUnreadable = false;
    {
        // The buffer is touched only while its slot says it is being delivered: a revocation made from inside a
        // handler call waits for no delivery, and the buffer's owner may free it as soon as the slot is gone.
        const std::lock_guard lock(m_mutex);
        if (const auto found = m_slots.find(buffer);
            found == m_slots.end() || found->second.place != Place::Delivering) {
            m_delivered.notify_all();
            return;
        }
        const uint64_t memSize = buffer->GetMemSize();
        const FrameFormat format = formatOf(reported);
        // Sides no sensor has (a producer's garbage) make no frame: sizes computed from them would overflow.
        // A frame merely larger than its buffer goes on, cut to the buffer, as on every transport.
        const bool fits = width <= kMaxSide && height <= kMaxSide;
        frame.payloadSize = std::min<uint64_t>(filled, memSize);
        frame.status = !described || format.name == nullptr || !fits ? BufferStatus::Failed
                       : (incomplete != 0 || filled > memSize)       ? BufferStatus::Incomplete
                                                                     : BufferStatus::Complete;
        frame.pixelFormat = format.name != nullptr ? format.name : m_formatName;
        core::BufferAccess::describeFrame(*buffer, frame);
        if (format.name == nullptr) {
            const std::pair<uint64_t, uint64_t> key(reported.space, reported.code);
            if (std::find(m_unreadableFormats.begin(), m_unreadableFormats.end(), key) == m_unreadableFormats.end()) {
                m_unreadableFormats.push_back(key);
                warnUnreadable = true;
            }
        }
    }
    if (warnUnreadable) {
        qCWarning(lcGentl()).noquote() << "data stream" << QString::fromStdString(site().objectName())
                                       << "drops frames of pixel format code"
                                       << QStringLiteral("0x%1").arg(reported.code, 8, 16, QLatin1Char('0'))
                                       << "in namespace" << reported.space
                                       << "- the code is not one of the pixel-format naming convention's it knows";
    }
    // The handler queues the buffer again from inside its call (an undelivered one is queued by the facade).
    static_cast<void>(deliverBuffer(*buffer));
    const std::lock_guard lock(m_mutex);
    if (const auto found = m_slots.find(buffer); found != m_slots.end() && found->second.place == Place::Delivering) {
        found->second.place = Place::Idle; // kept by the handler's side
    }
    m_delivered.notify_all();
}

// ---- device ------------------------------------------------------------------------------------------------

GentlDataStreamList::GentlDataStreamList(GentlDevice& device) : DataStreamList(device.site()), m_device(device) {}

void GentlDataStreamList::doRefresh() {
    m_entries.clear();
    m_device.makeStreams();
    for (const auto& stream : m_device.m_streams) {
        m_entries.emplace_back(stream->GetID().str(), stream.get());
    }
}

GentlDevice::GentlDevice(core::CallGate& gate, Library library, IF_HANDLE iface, std::string id, std::string serial,
                         std::string model)
    : Device(gate, id, serial, std::move(model)), m_gate(gate), m_pLibrary(std::move(library)), m_hInterface(iface),
      m_id(std::move(id)), m_streamList(*this) {
    m_pLink->serial = std::move(serial);
}

GentlDevice::~GentlDevice() {
    release();
}

void GentlDevice::doOpen() {
    const GentlFunctions& f = m_pLibrary->fn();
    DEV_HANDLE handle = nullptr;
    check(*m_pLibrary, f.IFOpenDevice(m_hInterface, m_id.c_str(), DEVICE_ACCESS_EXCLUSIVE, &handle), "Device::Open",
          "camera " + m_pLink->serial);
    needHandle(*m_pLibrary, handle, "Device::Open", "camera " + m_pLink->serial);
    auto module = std::make_shared<DeviceModule>(m_pLibrary, handle);
    PORT_HANDLE port = nullptr;
    check(*m_pLibrary, f.DevGetPort(handle, &port), "Device::Open", "the port of camera " + m_pLink->serial);
    needHandle(*m_pLibrary, port, "Device::Open", "the port of camera " + m_pLink->serial);
    const std::string description = readDescription(port);
    std::string error;
    aravis::GObjectPtr<ArvDevice> device(newPortDevice(m_pLibrary, port, description, error));
    if (device == nullptr) {
        Exceptions::raise("InvalidArgumentException", "Device::Open",
                          "the GenICam description of camera " + m_pLink->serial + ": " + error);
    }
    // Writes outside a feature's limits or to a read-only feature fail as they would on the camera itself.
    arv_device_set_range_check_policy(device.get(), ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_device_set_access_check_policy(device.get(), ARV_ACCESS_CHECK_POLICY_ENABLE);
    m_pFeatures = std::make_unique<aravis::AravisNodeMap>(site(), *m_pLink, arv_device_get_genicam(device.get()));
    m_pPortDevice = std::move(device);
    m_pModule = std::move(module);
}

// The description where the port's first URL says (GentlDescription.h); what cannot be had is refused with the
// URL and the reason.
std::string GentlDevice::readDescription(PORT_HANDLE port) const {
    const GentlFunctions& f = m_pLibrary->fn();
    std::string url = infoText(
        [&](INFO_DATATYPE* t, void* b, size_t* s) { return f.GCGetPortURLInfo(port, 0, URL_INFO_URL, t, b, s); });
    if (url.empty()) {
        url = idText([&](char* b, size_t* s) { return f.GCGetPortURL(port, b, s); });
    }
    const PortRead read = [&](uint64_t address, uint64_t length, std::string& bytes, std::string& error) {
        bytes.assign(length, '\0');
        size_t size = length;
        if (const GC_ERROR code = f.GCReadPort(port, address, bytes.data(), &size)) {
            error = "cannot be read from the port: GenTL " + m_pLibrary->lastError(code);
            return false;
        }
        bytes.resize(std::min<size_t>(size, length));
        return true;
    };
    std::string error;
    std::optional<std::string> description = fetchDescription(url, read, error);
    if (!description) {
        Exceptions::raise("NotAvailableException", "Device::Open",
                          "the GenICam description of camera " + m_pLink->serial + " (" + url + ") " + error);
    }
    return std::move(*description);
}

void GentlDevice::makeStreams() {
    if (!m_streams.empty() || m_pModule == nullptr) {
        return;
    }
    const GentlFunctions& f = m_pLibrary->fn();
    uint32_t count = 0;
    check(*m_pLibrary, f.DevGetNumDataStreams(m_pModule->handle, &count), "DataStreamList::Refresh",
          "camera " + m_pLink->serial);
    needSaneCount(*m_pLibrary, count, "DataStreamList::Refresh", "the data streams of camera " + m_pLink->serial);
    for (uint32_t index = 0; index < count; ++index) {
        const std::string id =
            idText([&](char* b, size_t* s) { return f.DevGetDataStreamID(m_pModule->handle, index, b, s); });
        DS_HANDLE stream = nullptr;
        check(*m_pLibrary, f.DevOpenDataStream(m_pModule->handle, id.c_str(), &stream), "DataStreamList::Refresh",
              "data stream " + id + " of camera " + m_pLink->serial);
        needHandle(*m_pLibrary, stream, "DataStreamList::Refresh",
                   "data stream " + id + " of camera " + m_pLink->serial);
        EVENT_HANDLE event = nullptr;
        if (const GC_ERROR code = f.GCRegisterEvent(stream, EVENT_NEW_BUFFER, &event);
            code != GC_ERR_SUCCESS || event == nullptr) {
            static_cast<void>(f.DSClose(stream));
            check(*m_pLibrary, code, "DataStreamList::Refresh", "the new-buffer event of camera " + m_pLink->serial);
            needHandle(*m_pLibrary, event, "DataStreamList::Refresh",
                       "the new-buffer event of camera " + m_pLink->serial);
        }
        m_streams.push_back(std::make_shared<GentlDataStream>(m_gate, m_pLink->serial + "/" + std::to_string(index),
                                                              m_pLibrary, stream, event, m_pPortDevice.get()));
    }
}

// Each stream's GenTL module closes now; the object ends once no hand-over of it is in progress.
void GentlDevice::doEndStreams() noexcept {
    m_streamList.forget();
    for (const auto& stream : m_streams) {
        stream->closeModule();
    }
    m_streams.clear();
}

// Streams go first, then the features and the port's device, then the device module: the camera is closed
// when the close returns, and can be opened again at once.
void GentlDevice::release() noexcept {
    doEndStreams();
    m_pFeatures.reset();
    m_pPortDevice.reset();
    m_pModule.reset();
}

// ---- interface ---------------------------------------------------------------------------------------------

GentlDeviceList::GentlDeviceList(GentlInterface& owner) : DeviceList(owner.site()), m_interface(owner) {}

void GentlDeviceList::doRefresh(uint64_t timeout) {
    m_interface.openModule();
    const GentlLibrary& lib = *m_interface.m_pLibrary;
    const GentlFunctions& f = lib.fn();
    IF_HANDLE iface = m_interface.m_hInterface;
    bool8_t changed = 0;
    check(lib, f.IFUpdateDeviceList(iface, &changed, timeout), "DeviceList::Refresh",
          "interface " + m_interface.site().objectName());
    uint32_t count = 0;
    check(lib, f.IFGetNumDevices(iface, &count), "DeviceList::Refresh", "interface " + m_interface.site().objectName());
    needSaneCount(lib, count, "DeviceList::Refresh", "the devices of interface " + m_interface.site().objectName());
    m_entries.clear();
    for (uint32_t index = 0; index < count; ++index) {
        const std::string id = idText([&](char* b, size_t* s) { return f.IFGetDeviceID(iface, index, b, s); });
        if (id.empty()) {
            qCWarning(lcGentl()).noquote()
                << "GenTL producer" << lib.path() << "gives device" << index << "of interface"
                << QString::fromStdString(m_interface.site().objectName()) << "no readable ID; it is left out";
            continue;
        }
        auto& device = m_interface.m_known[id];
        if (device == nullptr) {
            const auto info = [&](DEVICE_INFO_CMD command) {
                return infoAnswer([&](INFO_DATATYPE* t, void* b, size_t* s) {
                    return f.IFGetDeviceInfo(iface, id.c_str(), command, t, b, s);
                });
            };
            // The serial as the producer reports it, even empty; its device ID only when it reports none.
            std::string serial = info(DEVICE_INFO_SERIAL_NUMBER).value_or(id);
            device = std::make_unique<GentlDevice>(m_interface.m_gate, m_interface.m_pLibrary, iface, id,
                                                   std::move(serial), info(DEVICE_INFO_MODEL).value_or(std::string()));
        }
        m_entries.emplace_back(id, device.get());
    }
    // A device that is open but not listed this time stays listed: the driver holds it.
    for (auto& known : m_interface.m_known) {
        const bool listed = std::any_of(m_entries.begin(), m_entries.end(),
                                        [&](const Entry& entry) { return entry.first == known.first; });
        if (!listed && known.second->IsOpen()) {
            m_entries.emplace_back(known.first, known.second.get());
        }
    }
}

GentlInterface::GentlInterface(core::CallGate& gate, Library library, TL_HANDLE system, std::string id)
    : Interface(gate, std::move(id)), m_gate(gate), m_pLibrary(std::move(library)), m_hSystem(system),
      m_devices(*this) {}

GentlInterface::~GentlInterface() {
    m_known.clear();
    if (m_hInterface != nullptr) {
        static_cast<void>(m_pLibrary->fn().IFClose(m_hInterface));
    }
}

void GentlInterface::openModule() {
    if (m_hInterface != nullptr) {
        return;
    }
    IF_HANDLE handle = nullptr;
    check(*m_pLibrary, m_pLibrary->fn().TLOpenInterface(m_hSystem, site().objectName().c_str(), &handle),
          "Interface::Open", "interface " + site().objectName());
    needHandle(*m_pLibrary, handle, "Interface::Open", "interface " + site().objectName());
    m_hInterface = handle;
}

// ---- system ------------------------------------------------------------------------------------------------

GentlInterfaceList::GentlInterfaceList(GentlSystem& system) : InterfaceList(system.site()), m_system(system) {}

void GentlInterfaceList::doRefresh(uint64_t timeout) {
    const GentlLibrary& lib = *m_system.m_pLibrary;
    const GentlFunctions& f = lib.fn();
    bool8_t changed = 0;
    check(lib, f.TLUpdateInterfaceList(m_system.m_hSystem, &changed, timeout), "InterfaceList::Refresh",
          "system " + m_system.site().objectName());
    uint32_t count = 0;
    check(lib, f.TLGetNumInterfaces(m_system.m_hSystem, &count), "InterfaceList::Refresh",
          "system " + m_system.site().objectName());
    needSaneCount(lib, count, "InterfaceList::Refresh", "the interfaces of system " + m_system.site().objectName());
    m_entries.clear();
    for (uint32_t index = 0; index < count; ++index) {
        const std::string id =
            idText([&](char* b, size_t* s) { return f.TLGetInterfaceID(m_system.m_hSystem, index, b, s); });
        if (id.empty()) {
            qCWarning(lcGentl()).noquote()
                << "GenTL producer" << lib.path() << "gives interface" << index << "no readable ID; it is left out";
            continue;
        }
        auto& iface = m_system.m_known[id];
        if (iface == nullptr) {
            iface = std::make_unique<GentlInterface>(m_system.m_gate, m_system.m_pLibrary, m_system.m_hSystem, id);
        }
        m_entries.emplace_back(id, iface.get());
    }
}

GentlSystem::GentlSystem(core::CallGate& gate, Library library, TL_HANDLE system, std::string id, std::string tlType)
    : System(gate, std::move(id), std::move(tlType)), m_gate(gate), m_pLibrary(std::move(library)), m_hSystem(system),
      m_interfaceList(*this) {}

GentlSystem::~GentlSystem() {
    m_known.clear();
    static_cast<void>(m_pLibrary->fn().TLClose(m_hSystem));
}

} // namespace sdk::gentl
