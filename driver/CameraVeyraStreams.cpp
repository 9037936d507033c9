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
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return;
        }
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (!openDataStream(stream)) {
                continue;
            }
            if (!createStreamBuffers(stream, kBuffersPerStream)) {
                closeDataStream(stream);
                continue;
            }
            ++ready;
            stream->RegisterNewBufferEventHandler(this, &CCameraVeyra::BufferHandler);
            if (std::find(m_boundStreams.begin(), m_boundStreams.end(), stream) == m_boundStreams.end()) {
                m_boundStreams.push_back(stream);
            }
        }
    });
    return ready;
}

// Each stream is closed before its pool is released; a stream this object bound is unbound in between, so
// that the binding cannot outlive the object.
uint32_t CCameraVeyra::clearDeviceDataStream(sdk::Device* device) {
    uint32_t closed = 0;
    guardSdk("clearDeviceDataStream", [&] {
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

void CCameraVeyra::unbindStream(sdk::DataStream* stream) {
    const auto bound = std::find(m_boundStreams.begin(), m_boundStreams.end(), stream);
    if (bound == m_boundStreams.end()) {
        return;
    }
    m_boundStreams.erase(bound);
    guardSdk("clearDeviceDataStream", [stream] { stream->RegisterNewBufferEventHandler(nullptr, nullptr); });
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
        sdk::BufferList* buffers = stream->GetBufferList();
        if (buffers == nullptr) {
            return count <= 0;
        }
        std::vector<std::unique_ptr<sdk::Buffer>>& pool = m_bufferPools[stream];
        for (int32_t made = 0; made < count; ++made) {
            auto buffer = std::make_unique<sdk::Buffer>();
            buffers->Add(buffer.get());
            pool.push_back(std::move(buffer));
            pool.back()->QueueBuffer();
        }
        return true;
    });
}

// Revokes every buffer of this object's pool for the stream and frees it. A buffer the SDK refuses to give
// back stays in the pool (and announced) until a later teardown or the object's end. The buffer of a
// delivery this call is made from (the host closes from inside OnImageReady) is retired to the delivery
// gate instead, which frees it when that delivery ends.
bool CCameraVeyra::deleteStreamBuffers(sdk::DataStream* stream) {
    return guardSdk("deleteStreamBuffers", false, [&] {
        sdk::BufferList* buffers = stream->GetBufferList();
        if (buffers == nullptr) {
            return false;
        }
        const auto pool = m_bufferPools.find(stream);
        if (pool == m_bufferPools.end()) {
            return true;
        }
        std::vector<std::unique_ptr<sdk::Buffer>>& owned = pool->second;
        while (!owned.empty()) {
            if (!m_life.retireIfDelivering(owned.back())) {
                buffers->RevokeBuffer(owned.back().get());
            }
            owned.pop_back();
        }
        m_bufferPools.erase(pool);
        return true;
    });
}

// Frames are let in before the first stream starts: they wait for the calling operation's end, so that the
// first frame of a start reaches the host like every other.
bool CCameraVeyra::startDeviceDataStream(sdk::Device* device) {
    return guardSdk("startDeviceDataStream", false, [this, device] {
        sdk::DataStreamList* streams = refreshedStreams(device);
        if (streams == nullptr) {
            return true;
        }
        m_life.acceptFrames();
        for (auto entry = streams->begin(); entry != streams->end(); ++entry) {
            sdk::DataStream* stream = entry->second;
            if (openDataStream(stream) && !stream->GetIsGrabbing()) {
                stream->StartAcquisitionContinuous();
            }
        }
        return true;
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
