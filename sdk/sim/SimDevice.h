// A simulated camera: its GenICam features and data streams, over its acquisition engine.
#pragma once

#include "sdk/Device.h"
#include "sdk/sim/SimAcquisition.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimDataStream.h"
#include "sdk/sim/SimFeatures.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimDevice;

class SimDataStreamList final : public DataStreamList {
public:
    explicit SimDataStreamList(SimDevice& device);
    // The device's streams ended: the list offers none until it is refreshed.
    void forget() noexcept { m_entries.clear(); }

protected:
    void doRefresh() override;

private:
    SimDevice& m_device;
};

class SimDevice final : public Device {
public:
    // `id` is the device's key in its interface's list.
    SimDevice(core::CallGate& gate, std::string id, SimDeviceConfig config);
    // Streams go first: each ends its delivery thread.
    ~SimDevice() override;

    [[nodiscard]] const SimDeviceConfig& config() const noexcept { return m_config; }

protected:
    // A closed camera sends nothing: its acquisition stops with it.
    void doClose() override { m_pEngine->stopAcquisition(); }
    void doEndStreams() noexcept override;
    NodeMap* doGetRemoteNodeList() override { return &m_features; }
    Node* doGetRemoteNode(std::string_view name) override { return m_features.find(name); }
    DataStreamList* doGetDataStreams() override { return m_config.nullStreamList ? nullptr : &m_streamList; }

private:
    friend class SimDataStreamList;
    void buildFeatures();
    void makeStreams();

    core::CallGate& m_gate; // the session's; outlives the device
    SimDeviceConfig m_config;
    std::shared_ptr<SimAcquisition> m_pEngine; // trigger state and the streams' delivery
    SimNodeMap m_features;
    // From the stream list's first refresh after the device's open to its close; host thread only. A stream lives on after its close while a
    // hand-over of it is in progress (which holds it).
    std::vector<std::shared_ptr<SimDataStream>> m_streams;
    SimDataStreamList m_streamList;
};

} // namespace sdk::sim
