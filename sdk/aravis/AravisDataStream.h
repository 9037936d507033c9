// A data stream of an Aravis camera: its buffer list and its delivery.
//
// Aravis fills the memory of the buffers the driver announces (no copy per frame). Its own receiving thread
// only fills buffers; a delivery thread of this producer takes the filled ones from Aravis's output queue and
// calls the new-buffer handler, so that a slow host never holds up packet reception. Only complete frames
// reach the handler; incomplete ones go straight back to Aravis and are counted.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/aravis/AravisFrameId.h"
#include "sdk/aravis/AravisObjects.h"
#include "sdk/core/BufferAccess.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sdk::aravis {

class AravisDataStream;

class AravisBufferList final : public BufferList {
public:
    explicit AravisBufferList(AravisDataStream& stream) : m_stream(stream) {}
    void Add(Buffer* buffer) override;
    Buffer* RevokeBuffer(Buffer* buffer) override;
    uint64_t GetQueuedCount() override;

private:
    friend class AravisDataStream;
    AravisDataStream& m_stream;
    uint64_t m_nNextKey = 0; // host's side only
};

class AravisDataStream final : public DataStream, private core::BufferOwner {
public:
    // `device` and `link` belong to the open camera and outlive the stream.
    AravisDataStream(Transport transport, ArvDevice* device, const DeviceLink& link, std::string id);
    // Stops, ends the delivery thread and lets go of every announced buffer.
    ~AravisDataStream() override;

    String GetID() override { return String(m_id); }
    bool IsOpen() override;
    void Open() override;
    void Close() override;
    BufferList* GetBufferList() override { return &m_bufferList; }
    bool GetIsGrabbing() override;
    void StartAcquisitionContinuous() override;
    void StopAcquisition() override;
    uint64_t GetLostFrameCount() override;
    // Frames that arrived incomplete (packets lost on the way) and went back to the camera unseen.
    [[nodiscard]] uint64_t GetIncompleteFrameCount() const noexcept { return m_nIncomplete.load(); }
    void RegisterNewBufferEventHandler(void* owner, Events::NewBufferEventHandler handler) override;

private:
    friend class AravisBufferList;

    // Where a buffer is: with no one, queued for filling (with Aravis while grabbing), or with the handler.
    enum class Place { Idle, Queued, WithHandler };
    struct Slot {
        GObjectPtr<ArvBuffer> arvBuffer; // wraps the Buffer's memory; Aravis holds its own reference while queued
        Place place = Place::Idle;
    };

    void queueBuffer(Buffer& buffer) override;
    void forgetBuffer(Buffer& buffer) noexcept override;
    void announce(Buffer* buffer);
    Buffer* revoke(Buffer* buffer);

    void stopGrabbing() noexcept;
    void releaseStream() noexcept;
    void deliveryLoop();
    void handOver(ArvBuffer* arvBuffer);
    void pushToAravis(ArvBuffer* arvBuffer);
    void readFrameFormat();
    [[nodiscard]] bool virtualCameraSends() const;
    [[nodiscard]] bool onDeliveryThread() const noexcept { return std::this_thread::get_id() == m_deliveryId.load(); }
    void joinDeliveryThread() noexcept;

    Transport m_transport;
    ArvDevice* m_pDevice; // owned by the camera
    // The in-process fake camera behind a "virtual" device, else null. Its stream fills buffers at the frame
    // rate whatever the camera's acquisition and trigger state; the delivery thread asks the camera (which
    // guards its own state) whether a real one would have sent the frame.
    ArvFakeCamera* m_pVirtualCamera = nullptr;
    const DeviceLink& m_link;
    std::string m_id;
    AravisBufferList m_bufferList;

    // Host's side only: the Aravis stream exists while the data stream is open.
    GObjectPtr<ArvStream> m_pStream;
    uint64_t m_nPayloadSize = 0;
    const char* m_pFormatName = ""; // static storage; the camera's format when grabbing started
    int64_t m_nFormatCode = 0;      // its PFNC code
    std::thread m_delivery;         // started and joined on the host's side
    // The delivery thread's id: stored by that thread when it starts, cleared by the host's side after joining.
    std::atomic<std::thread::id> m_deliveryId{};
    FrameIdExtender m_frameIds; // delivery thread only

    // Guards the slots, the grabbing flag and the handler binding: the host's thread queues, announces,
    // starts and stops while the delivery thread hands buffers over.
    mutable std::mutex m_mutex;
    std::condition_variable m_deliveryEnded; // signalled when m_nDeliveries drops to 0
    std::map<Buffer*, Slot> m_slots;
    bool m_bGrabbing = false;
    void* m_pHandlerOwner = nullptr;
    Events::NewBufferEventHandler m_handler = nullptr;
    int m_nDeliveries = 0; // handler calls running

    std::atomic<uint64_t> m_nIncomplete{0}; // delivery thread writes, anyone reads
};

} // namespace sdk::aravis
