// A data stream of a simulated camera, with its buffer list and input queue.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/sim/SimCallSite.h"
#include "sdk/sim/SimConfig.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace sdk::sim {

class SimDataStream;

class SimBufferList final : public BufferList {
public:
    explicit SimBufferList(SimDataStream& stream) : m_stream(stream) {}
    void Add(Buffer* buffer) override;
    Buffer* RevokeBuffer(Buffer* buffer) override;
    uint64_t GetQueuedCount() override;

private:
    friend class SimDataStream;
    void onBegin() override;
    void onLookup(const std::string& key) override;

    SimDataStream& m_stream;
    uint64_t m_nNextKey = 0; // host thread only
};

class SimDataStream final : public DataStream, private core::BufferOwner {
public:
    // `objectName` is "serial/index".
    SimDataStream(core::CallGate& gate, std::string objectName, const SimDeviceConfig& device);
    ~SimDataStream() override;

    String GetID() override;
    bool IsOpen() override;
    void Open() override;
    void Close() override;
    BufferList* GetBufferList() override;
    bool GetIsGrabbing() override;
    void StartAcquisitionContinuous() override;
    void StopAcquisition() override;
    uint64_t GetLostFrameCount() override;
    void RegisterNewBufferEventHandler(void* owner, Events::NewBufferEventHandler handler) override;

private:
    friend class SimBufferList;

    void queueBuffer(Buffer& buffer) override;
    void forgetBuffer(Buffer& buffer) noexcept override;
    void announce(Buffer* buffer);
    Buffer* revoke(Buffer* buffer);
    uint64_t queuedCount();

    SimCallSite m_site;
    const SimDeviceConfig& m_device; // the camera's configuration; outlives the stream
    uint64_t m_nPayloadSize;
    SimBufferList m_bufferList;
    bool m_bOpen = false;     // host thread only
    bool m_bGrabbing = false; // host thread only

    // Guards the buffer list's entries and the input queue: buffers are queued from the host's thread and from
    // the new-buffer handler, and a destroyed buffer leaves the stream from whatever thread destroys it.
    std::mutex m_mutex;
    std::deque<Buffer*> m_queue; // buffers waiting to be filled, oldest first
    void* m_pHandlerOwner = nullptr;
    Events::NewBufferEventHandler m_pHandler = nullptr;
    uint64_t m_nLostFrames = 0;
};

} // namespace sdk::sim
