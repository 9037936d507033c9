// An interface of a simulated system and its device list.
#pragma once

#include "sdk/Interface.h"
#include "sdk/sim/SimCallSite.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimDevice.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimInterface;

class SimDeviceList final : public DeviceList {
public:
    explicit SimDeviceList(SimInterface& iface) : m_interface(iface) {}
    void Refresh(uint64_t timeout) override;

private:
    void onBegin() override;
    void onLookup(const std::string& key) override;
    SimInterface& m_interface;
};

class SimInterface final : public Interface {
public:
    SimInterface(core::CallGate& gate, const SimInterfaceConfig& config);
    ~SimInterface() override;

    String GetID() override { return String(m_id); }
    bool IsOpen() override;
    void Open() override;
    DeviceList* GetDevices() override;

private:
    friend class SimDeviceList;

    std::string m_id;
    bool m_bNullDeviceList;
    SimCallSite m_site;   // object name: the interface's id
    bool m_bOpen = false; // calls of the host's side, one at a time
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    SimDeviceList m_deviceList;
};

} // namespace sdk::sim
