// Data streams and their buffer pools: prepared when a camera opens, started and stopped with acquisition,
// released when it closes. Every routine asks the SDK for a stream's state instead of keeping a copy.
#include "driver/CameraVeyra.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <algorithm>

using vxcam::guardSdk;

namespace {

// Buffers in each stream's pool: enough for the host's callback to hold one while the camera fills others.
constexpr int32_t kBuffersPerStream = 8;

// The device's data streams, refreshed; null when the device offers none.
sdk::DataStreamList* refreshedStreams(sdk::Device* device) {
    sdk::DataStreamList* streams = device->GetDataStreams();
    if (streams != nullptr) {
        streams->Refresh();
    }
    return streams;
}

} // namespace

uint32_t CCameraVeyra::setDeviceDataStream(sdk::Device* device) {
    uint32_t ready = 0;
    guardSdk("setDeviceDataStream", [&] {
        m_life.insideTheCall();
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return;
        }
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (!openDataStream(stream)) {
                continue;
            }
            vxcam::StreamBinding& binding = bindingFor(device, stream);
            if (!createStreamBuffers(stream, kBuffersPerStream)) {
                closeDataStream(stream);
                continue;
            }
            // Counted once bound: a stream whose handler could not be bound never delivers. The SDK holds the
            // binding for as long as it may call the handler with it.
            stream->RegisterNewBufferEventHandler(&binding, &CCameraVeyra::BufferHandler, m_streams.at(stream));
            ++ready;
        }
    });
    return ready;
}

// Each stream is closed before its pool is released, and unbound in between. Nothing here waits for a delivery
// in progress on another thread when it is called from inside a callback: the binding (held by that delivery)
// keeps the buffers and the object until it ends.
uint32_t CCameraVeyra::clearDeviceDataStream(sdk::Device* device) {
    uint32_t closed = 0;
    guardSdk("clearDeviceDataStream", [&] {
        m_life.insideTheCall();
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return;
        }
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (closeDataStream(stream)) {
                unbindStream(stream);
                deleteStreamBuffers(stream);
                ++closed;
            }
        }
    });
    return closed;
}

// A stream that refuses to be unbound keeps its binding (and so the object) until it ends with its device.
bool CCameraVeyra::unbindStream(sdk::DataStream* stream) {
    if (findBinding(stream) == nullptr) {
        return true;
    }
    return guardSdk("clearDeviceDataStream", false, [stream] {
        stream->RegisterNewBufferEventHandler(nullptr, nullptr);
        return true;
    });
}

vxcam::StreamBinding& CCameraVeyra::bindingFor(sdk::Device* device, sdk::DataStream* stream) {
    std::shared_ptr<vxcam::StreamBinding>& record = m_streams[stream];
    if (record == nullptr) {
        record = std::make_shared<vxcam::StreamBinding>(*this, m_pLifecycle, device, stream);
    }
    return *record;
}

vxcam::StreamBinding* CCameraVeyra::findBinding(sdk::DataStream* stream) const {
    const auto found = m_streams.find(stream);
    return found != m_streams.end() ? found->second.get() : nullptr;
}

void CCameraVeyra::forgetStreamsOf(const sdk::Device* device) noexcept {
    for (auto it = m_streams.begin(); it != m_streams.end();) {
        it = it->second->device() == device ? m_streams.erase(it) : std::next(it);
    }
}

bool CCameraVeyra::hasStreamsOf(const sdk::Device* device) const noexcept {
    return std::any_of(m_streams.begin(), m_streams.end(),
                       [device](const auto& record) { return record.second->device() == device; });
}

bool CCameraVeyra::openDataStream(sdk::DataStream* stream) {
    return guardSdk("openDataStream", false, [stream] {
        if (!stream->IsOpen()) {
            stream->Open();
        }
        return true;
    });
}

bool CCameraVeyra::closeDataStream(sdk::DataStream* stream) {
    return guardSdk("closeDataStream", false, [stream] {
        if (stream->IsOpen()) {
            stream->Close();
        }
        return true;
    });
}

// Each buffer is added and queued before the next is made. Buffers added before a failure stay in the
// stream and in the pool, so that deleteStreamBuffers still frees them.
bool CCameraVeyra::createStreamBuffers(sdk::DataStream* stream, int32_t count) {
    return guardSdk("createStreamBuffers", false, [&] {
        m_life.insideTheCall();
        sdk::BufferList* buffers = stream->GetBufferList();
        if (buffers == nullptr) {
            return count <= 0;
        }
        // A stream prepared by setDeviceDataStream has its record already; one given alone gets it here.
        vxcam::StreamBinding* binding = findBinding(stream);
        std::vector<std::unique_ptr<sdk::Buffer>>& pool =
            (binding != nullptr ? *binding : bindingFor(nullptr, stream)).buffers();
        for (int32_t made = 0; made < count; ++made) {
            auto buffer = std::make_unique<sdk::Buffer>();
            buffers->Add(buffer.get());
            pool.push_back(std::move(buffer));
            pool.back()->QueueBuffer();
        }
        return true;
    });
}

// Revokes every buffer of this object's pool for the stream, and lets go of the stream's record: the buffers are
// freed with the binding, at once unless a delivery in progress (of a callback this call does not wait for)
// still holds it. A buffer the SDK refuses to give back stays announced; the stream's end with its device lets
// go of it before the binding frees it.
bool CCameraVeyra::deleteStreamBuffers(sdk::DataStream* stream) {
    return guardSdk("deleteStreamBuffers", false, [&] {
        m_life.insideTheCall();
        sdk::BufferList* buffers = stream->GetBufferList();
        if (buffers == nullptr) {
            return false;
        }
        const auto record = m_streams.find(stream);
        if (record == m_streams.end()) {
            return true;
        }
        const std::shared_ptr<vxcam::StreamBinding> binding = record->second;
        m_streams.erase(record);
        binding->markRevoked();
        for (auto buffer = binding->buffers().rbegin(); buffer != binding->buffers().rend(); ++buffer) {
            buffers->RevokeBuffer(buffer->get());
        }
        return true;
    });
}

// Frames are let in before the first stream starts: they wait for the calling operation's end, so that the
// first frame of a start reaches the host like every other. A stream that cannot be opened makes the start
// fail: the camera would be started with a stream that never delivers.
bool CCameraVeyra::startDeviceDataStream(sdk::Device* device) {
    return guardSdk("startDeviceDataStream", false, [this, device] {
        m_life.insideTheCall();
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return true;
        }
        m_life.acceptFrames();
        for (const auto& record : m_streams) {
            queueUnqueued(*record.second);
        }
        bool everyStreamOpen = true;
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (!openDataStream(stream)) {
                everyStreamOpen = false;
                continue;
            }
            if (!stream->GetIsGrabbing()) {
                stream->StartAcquisitionContinuous();
            }
        }
        return everyStreamOpen;
    });
}

// Stopping goes through openDataStream as starting does: a closed stream is opened and left open.
bool CCameraVeyra::stopDeviceDataStream(sdk::Device* device) {
    return guardSdk("stopDeviceDataStream", false, [device] {
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return true;
        }
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (openDataStream(stream) && stream->GetIsGrabbing()) {
                stream->StopAcquisition();
            }
        }
        return true;
    });
}

int32_t CCameraVeyra::IGetStreamStatistics(VeyraStreamStatistics* statistics) {
    const vxcam::Call call(m_life, "IGetStreamStatistics");
    if (!call.admitted() || m_pDevice == nullptr || statistics == nullptr ||
        statistics->recordSize < sizeof(VeyraStreamStatistics)) {
        return 0;
    }
    return guardSdk("IGetStreamStatistics", 0, [this, statistics] {
        m_life.insideTheCall();
        VeyraStreamStatistics sum;
        if (sdk::DataStreamList* streams = refreshedStreams(m_pDevice)) {
            for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
                const sdk::StreamStatistics counts = entry->second->GetStatistics();
                sum.framesCompleted += counts.framesCompleted;
                sum.framesIncomplete += counts.framesIncomplete;
                sum.framesLostNoBuffer += counts.framesLostNoBuffer;
                sum.packetsNoBuffer += counts.packetsNoBuffer;
                sum.framesMissing += counts.framesMissing;
                sum.packetsMissing += counts.packetsMissing;
                sum.packetsResent += counts.packetsResent;
            }
        }
        sum.recordSize = statistics->recordSize;
        *statistics = sum;
        return 1;
    });
}
