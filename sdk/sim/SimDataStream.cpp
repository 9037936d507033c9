#include "sdk/sim/SimDataStream.h"

#include "sdk/SdkExceptions.h"

namespace sdk::sim {

std::shared_ptr<SimDataStream> SimDataStream::create(core::CallGate& gate, std::string objectName,
                                                     const std::shared_ptr<SimAcquisition>& engine,
                                                     uint64_t payloadSize, bool nullBufferList) {
    // NOLINTNEXTLINE(cppcoreguidelines-owning-memory): private constructor, owned by the shared pointer at once
    std::shared_ptr<SimDataStream> stream(
        new SimDataStream(gate, std::move(objectName), engine, payloadSize, nullBufferList));
    const std::shared_ptr<SimFrameSink> sink(stream, static_cast<SimFrameSink*>(stream.get()));
    stream->m_pLane = engine->openLane(sink);
    return stream;
}

SimDataStream::SimDataStream(core::CallGate& gate, std::string objectName, std::shared_ptr<SimAcquisition> engine,
                             uint64_t payloadSize, bool nullBufferList)
    : DataStream(gate, std::move(objectName)), m_pEngine(std::move(engine)), m_nPayloadSize(payloadSize),
      m_bNullBufferList(nullBufferList) {}

SimDataStream::~SimDataStream() {
    m_pEngine->endLane(*m_pLane);
}

void SimDataStream::doQueueBuffer(Buffer& buffer) {
    if (!m_pEngine->queue(*m_pLane, &buffer)) {
        Exceptions::raise("ResourceException", "Buffer::QueueBuffer", "the buffer is queued already or revoked");
    }
}

bool SimDataStream::takeFrame(Buffer& buffer) {
    return deliverBuffer(buffer) == HandOver::Delivered;
}

} // namespace sdk::sim
