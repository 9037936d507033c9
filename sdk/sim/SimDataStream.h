// A data stream of a simulated camera: open state, buffer list, and its lane of the camera's acquisition
// engine (input queue, grabbing, new-buffer handler, delivery thread).
#pragma once

#include "sdk/DataStream.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/sim/SimCallSite.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace sdk::sim {

class SimAcquisition;
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
    uint64_t m_nNextKey = 0; // calls of the host's side, one at a time
};

class SimDataStream final : public DataStream, private core::BufferOwner {
public:
    // `objectName` is "serial/index"; `lane` is the index in the camera's acquisition engine.
    SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                  std::size_t lane, uint64_t payloadSize, bool nullBufferList);
    // Ends the delivery thread (joined, unless this runs on it) and lets go of every announced buffer.
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

    SimCallSite m_site;
    std::shared_ptr<SimAcquisition> m_pEngine;
    std::size_t m_nLane;
    uint64_t m_nPayloadSize;
    bool m_bNullBufferList;
    SimBufferList m_bufferList;
    bool m_bOpen = false; // calls of the host's side, one at a time

    // Guards the buffer list's entries: the host's thread announces and revokes, and a destroyed buffer leaves
    // the list from whatever thread destroys it.
    std::mutex m_entriesMutex;
};

} // namespace sdk::sim
