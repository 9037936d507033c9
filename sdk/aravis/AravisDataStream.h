// A data stream of an Aravis camera.
//
// Aravis fills the memory of the buffers the driver announces (no copy per frame). Its own receiving thread
// only fills buffers and rings a doorbell for each; a delivery thread of this producer, woken by it, takes the
// filled ones from Aravis's output queue and hands them to the facade, which calls the new-buffer handler, so
// that a slow host never holds up packet reception; woken, the delivery thread lets a running receiving thread
// finish its burst of packets before it runs (AravisPlatform.h). Only complete frames reach the handler; the facade
// queues incomplete ones again and counts them.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/aravis/AravisDoorbell.h"
#include "sdk/aravis/AravisFrameId.h"
#include "sdk/aravis/AravisObjects.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sdk::aravis {

class AravisDataStream final : public DataStream {
public:
    // `device` and `link` belong to the open camera and outlive the stream; `objectName` is "serial/index".
    AravisDataStream(core::CallGate& gate, std::string objectName, Transport transport, ArvDevice* device,
                     const DeviceLink& link);
    // Stops and ends the delivery thread (joined, unless this runs on it).
    ~AravisDataStream() override;

protected:
    void doOpen() override;
    void doClose() override;
    uint64_t doGetBufferSize() override;
    bool doGetIsGrabbing() override;
    void doStartAcquisition() override;
    void doStopAcquisition() override;
    uint64_t doGetLostFrameCount() override;
    void doAnnounceBuffer(Buffer& buffer) override;
    void doQueueBuffer(Buffer& buffer) override;
    void doWithdrawBuffer(Buffer& buffer) noexcept override;
    uint64_t doGetQueuedCount() override;

private:
    // Where a buffer is: with no one, queued for filling (with Aravis while grabbing), or being delivered.
    enum class Place { Idle, Queued, Delivering };
    struct Slot {
        GObjectPtr<ArvBuffer> arvBuffer; // wraps the Buffer's memory; Aravis holds its own reference while queued
        Place place = Place::Idle;
    };

    void stopGrabbing() noexcept;
    void releaseStream() noexcept;
    void setEmitSignals(gboolean emit) noexcept;
    // Aravis's "new-buffer" signal, on its receiving thread, after the buffer entered the output queue.
    static void onNewBuffer(ArvStream* stream, gpointer doorbell);
    void deliveryLoop(const std::shared_ptr<std::atomic<bool>>& alive);
    // Takes one filled buffer from Aravis; false when the stream went away during the hand-over.
    [[nodiscard]] bool handOver(ArvBuffer* filled, const std::shared_ptr<std::atomic<bool>>& alive);
    void pushToAravis(ArvBuffer* arvBuffer);
    void requeueAll();
    void readFrameFormat();
    [[nodiscard]] bool virtualCameraSends() const;
    [[nodiscard]] bool onDeliveryThread() const noexcept { return std::this_thread::get_id() == m_deliveryId.load(); }
    void joinDeliveryThread() noexcept;

    Transport m_transport;
    ArvDevice* m_pDevice; // owned by the camera
    const DeviceLink& m_link;
    // The in-process fake camera behind a "virtual" device, else null. Its stream fills buffers at the frame
    // rate whatever the camera's acquisition and trigger state; the delivery thread asks the camera (which
    // guards its own state) whether a real one would have sent the frame.
    ArvFakeCamera* m_pVirtualCamera = nullptr;

    // Outlives the Aravis stream's signal connection: disconnected before the stream is released, at a time
    // when Aravis holds none of our buffers and so emits nothing.
    Doorbell m_doorbell;
    // Host's side: the Aravis stream exists while the data stream is open. The delivery thread uses it while
    // grabbing; the host's side replaces it only after joining that thread.
    GObjectPtr<ArvStream> m_pStream;
    gulong m_nNewBufferHandler = 0; // the doorbell's connection to m_pStream; host's side
    std::string m_formatName;       // the camera's format when grabbing started; host's side, then delivery thread
    std::thread m_delivery;         // started and joined on the host's side
    // The delivery thread's id: stored by that thread when it starts, cleared by the host's side after joining.
    std::atomic<std::thread::id> m_deliveryId{};
    // Cleared by the destructor; the delivery thread holds its own copy, so that a stream destroyed from inside
    // a handler call lets that thread end without touching it again.
    std::shared_ptr<std::atomic<bool>> m_pAlive = std::make_shared<std::atomic<bool>>(true);
    FrameIdExtender m_frameIds; // delivery thread only

    // Guards the slots and the grabbing flag: the host's thread queues, announces, starts and stops while the
    // delivery thread takes buffers out and puts them back.
    mutable std::mutex m_mutex;
    std::condition_variable m_delivered; // signalled whenever a buffer leaves Place::Delivering
    std::map<Buffer*, Slot> m_slots;
    bool m_bGrabbing = false;
};

} // namespace sdk::aravis
