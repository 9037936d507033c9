// A simulated camera: its identity, open state, GenICam features and data streams.
#pragma once

#include "sdk/Device.h"
#include "sdk/sim/SimAcquisition.h"
#include "sdk/sim/SimCallSite.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimDataStream.h"
#include "sdk/sim/SimFeatures.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimDevice;

class SimDataStreamList final : public DataStreamList {
public:
    explicit SimDataStreamList(SimDevice& device) : m_device(device) {}
    void Refresh() override;

private:
    void onBegin() override;
    void onLookup(const std::string& key) override;
    SimDevice& m_device;
};

class SimDevice final : public Device {
public:
    // `id` is the device's key in its interface's list.
    SimDevice(core::CallGate& gate, std::string id, SimDeviceConfig config);
    // Streams go first: each ends its delivery thread.
    ~SimDevice() override;

    String GetID() override { return String(m_id); }
    String GetSerialNumber() override;
    String GetModel() override;
    bool IsOpen() override;
    void Open() override;
    void Close() override;
    NodeMap* GetRemoteNodeList() override;
    Node* GetRemoteNode(const String& name) override;
    DataStreamList* GetDataStreams() override;

    [[nodiscard]] const SimDeviceConfig& config() const noexcept { return m_config; }

private:
    friend class SimDataStreamList;
    void requireOpen(const char* call) const;
    void buildFeatures();

    std::string m_id;
    SimDeviceConfig m_config;
    SimCallSite m_site;                        // object name: the serial number
    bool m_bOpen = false;                      // calls of the host's side, one at a time
    std::shared_ptr<SimAcquisition> m_pEngine; // trigger state and the streams' delivery
    SimNodeMap m_features;
    std::vector<std::unique_ptr<SimDataStream>> m_streams;
    SimDataStreamList m_streamList;
};

} // namespace sdk::sim
