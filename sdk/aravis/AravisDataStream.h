// A data stream of an Aravis camera.
//
// Aravis fills the memory of the buffers the driver announces (no copy per frame). Its own receiving thread
// only fills buffers and rings a doorbell for each; the stream's delivery thread, woken by it, takes the filled
// ones from Aravis's output queue and hands them to the facade, which calls the new-buffer handler, so that a
// slow host never holds up packet reception. Only complete frames reach the handler; the facade queues
// incomplete ones again and counts them.
//
// The delivery thread lives as long as the stream: started by the first start, ended by the stream's end. Starts
// and stops only change whether it hands buffers over; neither ever joins it. It holds the stream (a shared
// object) only while it hands buffers over, so a device closed meanwhile ends the stream once that is done.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/aravis/AravisDoorbell.h"
#include "sdk/aravis/AravisFrameId.h"
#include "sdk/aravis/AravisGevLink.h"
#include "sdk/aravis/AravisObjects.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sdk::aravis {

class AravisDataStream final : public DataStream, public std::enable_shared_from_this<AravisDataStream> {
public:
    // `device` is the open camera, of which the stream keeps a reference of its own; `link` its link state.
    // `objectName` is "serial/index". Owned by a shared pointer (the device's, and the delivery thread's during
    // a hand-over).
    AravisDataStream(core::CallGate& gate, std::string objectName, Transport transport, ArvDevice* device,
                     std::shared_ptr<const DeviceLink> link);
    // Stops and ends the delivery thread (joined, or handed to the reaper when this runs on it).
    ~AravisDataStream() override;

protected:
    void doOpen() override;
    void doClose() override;
    uint64_t doGetBufferSize() override;
    bool doGetIsGrabbing() override;
    void doStartAcquisition() override;
    void doStopAcquisition() override;
    uint64_t doGetLostFrameCount() override;
    void doGetTransportStatistics(StreamStatistics& statistics) override;
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
    // What the delivery thread waits on; shared with it and with Aravis's signal connection, so that neither
    // touches the stream object itself while it sleeps or rings.
    struct Wakeup {
        Doorbell doorbell;
        std::atomic<bool> quit{false}; // the stream ended: the thread returns at its next wake-up
    };

    // The Aravis stream of `device` (camera `serial`), made ready for reception. Talks to the camera; runs on its
    // control channel, so it holds nothing of the stream or its link.
    [[nodiscard]] static GObjectPtr<ArvStream> makeAravisStream(ArvDevice* device, const std::string& serial);
    void stopGrabbing() noexcept;
    // Waits until no buffer is with the handler, unless the caller is inside a handler call. Needs m_mutex.
    void awaitNoDelivery(std::unique_lock<std::mutex>& lock);
    void releaseStream() noexcept;
    void setEmitSignals(ArvStream* stream, gboolean emit) noexcept;
    // Aravis's "new-buffer" signal, on its receiving thread, after the buffer entered the output queue.
    static void onNewBuffer(ArvStream* stream, gpointer wakeup);
    static void run(const std::weak_ptr<AravisDataStream>& stream, const std::shared_ptr<Wakeup>& wakeup);
    // Hands over every filled buffer waiting in Aravis's output queue, while grabbing.
    void deliverFilled();
    void handOver(ArvBuffer* filled);
    void pushToAravis(ArvBuffer* arvBuffer);
    void requeueAll();
    void readFrameFormat();
    // GigE Vision: the camera's share of its link, and a watch for a link that lets none of its packets through.
    void joinLink();
    // Talks to the camera: runs on its control channel.
    [[nodiscard]] static std::chrono::milliseconds patienceForFirstPacket(ArvDevice* device);
    [[nodiscard]] bool virtualCameraSends() const;
    [[nodiscard]] bool extendsBlockIds() const noexcept { return m_transport != Transport::Usb3Vision; }

    Transport m_transport;
    const GObjectPtr<ArvDevice> m_pDevice; // the stream's own reference
    const std::shared_ptr<const DeviceLink> m_pLink;
    // The in-process fake camera behind a "virtual" device, else null. Its stream fills buffers at the frame
    // rate whatever the camera's acquisition and trigger state; the delivery thread asks the camera (which
    // guards its own state) whether a real one would have sent the frame.
    ArvFakeCamera* m_pVirtualCamera = nullptr;

    const std::shared_ptr<Wakeup> m_pWakeup = std::make_shared<Wakeup>();
    std::thread m_delivery;         // started by the first start, on the host's side; ended by the destructor
    gulong m_nNewBufferHandler = 0; // the doorbell's connection to m_pStream; host's side

    // Guards the members below: the host's side queues, announces, starts, stops and replaces the Aravis stream
    // while the delivery thread takes buffers out and puts them back.
    mutable std::mutex m_mutex;
    std::condition_variable m_delivered; // signalled whenever a buffer leaves Place::Delivering
    // The Aravis stream exists while the data stream is open; the delivery thread takes a reference of its own
    // for each round, so that a close never frees it under that thread.
    GObjectPtr<ArvStream> m_pStream;
    std::map<Buffer*, Slot> m_slots;
    bool m_bGrabbing = false;
    const char* m_formatName = ""; // the camera's format since the last start; interned, lives for the process
    FrameIdExtender m_frameIds;    // restarted with every start: a camera counts its blocks anew then
    // While grabbing a GigE Vision camera: made by the start, taken out by the stop (either may run on the
    // delivery thread inside a handler call) and dropped outside the lock.
    std::unique_ptr<gev::LinkShare> m_pLinkShare;
    std::unique_ptr<gev::SilentLinkWatch> m_pSilenceWatch; // free run only: a triggered camera may be silent
};

} // namespace sdk::aravis
