// A data stream of a simulated camera: its lane of the camera's acquisition engine (input queue, grabbing,
// the clock and delivery threads). The facade keeps the open state, the buffer list and the handler binding.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/sim/SimAcquisition.h"

#include <cstdint>
#include <memory>

namespace sdk::sim {

class SimDataStream final : public DataStream, private SimFrameSink {
public:
    // `objectName` is "serial/index". The stream is shared: its device holds it from the device's open to its
    // close, and each hand-over in progress holds it for its call.
    static std::shared_ptr<SimDataStream> create(core::CallGate& gate, std::string objectName,
                                                 const std::shared_ptr<SimAcquisition>& engine, uint64_t payloadSize,
                                                 bool nullBufferList);
    // Ends the lane's threads (joined, unless this runs on its delivery thread).
    ~SimDataStream() override;

protected:
    // Closing stops acquisition first, and returns once no buffer of the stream is in flight.
    void doClose() override { m_pEngine->stopLane(*m_pLane); }
    bool doHasBufferList() override { return !m_bNullBufferList; }
    uint64_t doGetBufferSize() override { return m_nPayloadSize; }
    bool doGetIsGrabbing() override { return m_pEngine->grabbing(*m_pLane); }
    void doStartAcquisition() override { m_pEngine->startLane(*m_pLane); }
    void doStopAcquisition() override { m_pEngine->stopLane(*m_pLane); }
    uint64_t doGetLostFrameCount() override { return m_pEngine->lostFrames(*m_pLane); }
    void doAnnounceBuffer(Buffer& buffer) override { m_pEngine->announce(*m_pLane, &buffer); }
    void doQueueBuffer(Buffer& buffer) override;
    void doWithdrawBuffer(Buffer& buffer) noexcept override { m_pEngine->withdraw(*m_pLane, &buffer); }
    uint64_t doGetQueuedCount() override { return m_pEngine->queuedCount(*m_pLane); }

private:
    SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                  uint64_t payloadSize, bool nullBufferList);
    bool takeFrame(Buffer& buffer) override;

    std::shared_ptr<SimAcquisition> m_pEngine;
    std::shared_ptr<SimAcquisition::Lane> m_pLane; // set by create(), before anyone else sees the stream
    uint64_t m_nPayloadSize;
    bool m_bNullBufferList;
};

} // namespace sdk::sim
