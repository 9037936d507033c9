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
    // `objectName` is "serial/index"; `lane` is the index in the camera's acquisition engine.
    SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                  std::size_t lane, uint64_t payloadSize, bool nullBufferList);
    // Ends the lane's threads (joined, unless this runs on one of them).
    ~SimDataStream() override;

protected:
    // Closing stops acquisition first, and returns once no buffer of the stream is in flight.
    void doClose() override { m_pEngine->stopLane(m_nLane); }
    bool doHasBufferList() override { return !m_bNullBufferList; }
    uint64_t doGetBufferSize() override { return m_nPayloadSize; }
    bool doGetIsGrabbing() override { return m_pEngine->grabbing(m_nLane); }
    void doStartAcquisition() override { m_pEngine->startLane(m_nLane); }
    void doStopAcquisition() override { m_pEngine->stopLane(m_nLane); }
    uint64_t doGetLostFrameCount() override { return m_pEngine->lostFrames(m_nLane); }
    void doQueueBuffer(Buffer& buffer) override;
    void doWithdrawBuffer(Buffer& buffer) noexcept override { m_pEngine->withdraw(m_nLane, &buffer); }
    uint64_t doGetQueuedCount() override { return m_pEngine->queuedCount(m_nLane); }

private:
    bool takeFrame(Buffer& buffer) override;

    std::shared_ptr<SimAcquisition> m_pEngine;
    std::size_t m_nLane;
    uint64_t m_nPayloadSize;
    bool m_bNullBufferList;
};

} // namespace sdk::sim
