// Grabbing through the SDK's facade, on whichever transport VXCAM_TRANSPORTS names: the first device of the
// session, and a stream of it that records every frame the handler gets.
#pragma once

#include "sdk/Sdk.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vxcam::test {

// The first device of the first interface of the first system (not opened).
inline sdk::Device* firstDevice() {
    sdk::System* system = sdk::SystemList::GetInstance()->begin()->second;
    system->Open();
    sdk::InterfaceList* interfaces = system->GetInterfaces();
    interfaces->Refresh(100);
    sdk::Interface* iface = interfaces->begin()->second;
    iface->Open();
    sdk::DeviceList* devices = iface->GetDevices();
    devices->Refresh(100);
    return devices->begin()->second;
}

// How long the handler holds each of the stream's first frames: the host's own work on them.
struct HostPace {
    std::size_t nSlowFrames = 0;
    std::chrono::milliseconds cost{0};
};

// A grabbing stream of the first device with eight queued buffers, bound to a handler that records each frame,
// takes its time over it as `pace` says, and queues the buffer again.
class GrabbingStream {
public:
    // The pace is set before the camera starts, so that no frame comes before it on a busy machine.
    explicit GrabbingStream(sdk::Device* device, HostPace pace = {})
        : m_device(device), m_nSlowFrames(pace.nSlowFrames), m_cost(pace.cost) {
        m_device->Open();
        sdk::DataStreamList* streams = m_device->GetDataStreams();
        streams->Refresh();
        m_stream = streams->begin()->second;
        m_stream->Open();
        for (int i = 0; i < 8; ++i) {
            m_pool.push_back(std::make_unique<sdk::Buffer>());
            m_stream->GetBufferList()->Add(m_pool.back().get());
            m_pool.back()->QueueBuffer();
        }
        m_stream->RegisterNewBufferEventHandler(this, &GrabbingStream::onBuffer);
        m_stream->StartAcquisitionContinuous();
        m_device->GetRemoteNode("AcquisitionStart")->Execute();
    }
    ~GrabbingStream() {
        stop();
        m_stream->RegisterNewBufferEventHandler(nullptr, nullptr);
        for (const auto& buffer : m_pool) {
            m_stream->GetBufferList()->RevokeBuffer(buffer.get());
        }
        m_stream->Close();
        m_device->Close();
    }
    GrabbingStream(const GrabbingStream&) = delete;
    GrabbingStream& operator=(const GrabbingStream&) = delete;

    [[nodiscard]] bool waitForFrames(std::size_t count) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, std::chrono::seconds(20), [&] { return m_frameIds.size() >= count; });
    }
    // The camera stops taking frames, and every frame it took reaches the handler and is given back: false if
    // that takes more than 20 s. The stream keeps grabbing.
    [[nodiscard]] bool stopCameraAndDrain() {
        m_device->GetRemoteNode("AcquisitionStop")->Execute();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_stream->GetBufferList()->GetQueuedCount() < m_pool.size()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    // The camera stops taking frames, then the stream stops: no frame is delivered after this returns.
    void stop() {
        m_device->GetRemoteNode("AcquisitionStop")->Execute();
        m_stream->StopAcquisition();
    }
    [[nodiscard]] std::vector<uint64_t> frameIds() const {
        const std::lock_guard lock(m_mutex);
        return m_frameIds;
    }
    // Each delivered frame's pixel format, in the order of frameIds().
    [[nodiscard]] std::vector<std::string> pixelFormats() const {
        const std::lock_guard lock(m_mutex);
        return m_formats;
    }
    [[nodiscard]] bool allComplete() const {
        const std::lock_guard lock(m_mutex);
        return m_bAllComplete;
    }
    [[nodiscard]] sdk::DataStream& stream() const { return *m_stream; }

private:
    static void onBuffer(void* owner, sdk::Buffer* buffer) {
        auto& self = *static_cast<GrabbingStream*>(owner);
        std::chrono::milliseconds cost{0};
        {
            const std::lock_guard lock(self.m_mutex);
            self.m_frameIds.push_back(buffer->GetFrameID());
            self.m_formats.emplace_back(buffer->GetPixelFormatName());
            self.m_bAllComplete =
                self.m_bAllComplete && buffer->IsComplete() && buffer->GetPayloadSize() == buffer->GetMemSize();
            if (self.m_frameIds.size() <= self.m_nSlowFrames) {
                cost = self.m_cost;
            }
        }
        self.m_arrived.notify_all();
        std::this_thread::sleep_for(cost); // the host's own work on the frame, holding its buffer
        buffer->QueueBuffer();
    }

    sdk::Device* m_device;
    const std::size_t m_nSlowFrames;
    const std::chrono::milliseconds m_cost;
    sdk::DataStream* m_stream = nullptr;
    std::vector<std::unique_ptr<sdk::Buffer>> m_pool;
    // Guards the members below: the delivery thread records while the test reads.
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<uint64_t> m_frameIds;
    std::vector<std::string> m_formats;
    bool m_bAllComplete = true;
};

} // namespace vxcam::test
