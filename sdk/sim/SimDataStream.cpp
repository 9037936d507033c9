#include "sdk/sim/SimDataStream.h"

#include "sdk/SdkExceptions.h"

namespace sdk::sim {

SimDataStream::SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                             std::size_t lane, uint64_t payloadSize, bool nullBufferList)
    : DataStream(gate, std::move(objectName)), m_pEngine(std::move(engine)), m_nLane(lane), m_nPayloadSize(payloadSize),
      m_bNullBufferList(nullBufferList) {
    m_pEngine->attachLane(m_nLane, *this);
}

SimDataStream::~SimDataStream() {
    m_pEngine->endLane(m_nLane);
}

void SimDataStream::doQueueBuffer(Buffer& buffer) {
    if (!m_pEngine->queue(m_nLane, &buffer)) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already");
    }
}

bool SimDataStream::takeFrame(Buffer& buffer) {
    return deliverBuffer(buffer) == HandOver::Delivered;
}

} // namespace sdk::sim
