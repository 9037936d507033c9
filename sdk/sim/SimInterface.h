// An interface of a simulated system and its device list.
#pragma once

#include "sdk/Interface.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimDevice.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimInterface;

class SimDeviceList final : public DeviceList {
public:
    explicit SimDeviceList(SimInterface& iface);

protected:
    void doRefresh(uint64_t timeout) override;

private:
    SimInterface& m_interface;
};

class SimInterface final : public Interface {
public:
    SimInterface(core::CallGate& gate, const SimInterfaceConfig& config);
    ~SimInterface() override;

protected:
    DeviceList* doGetDevices() override { return m_bNullDeviceList ? nullptr : &m_deviceList; }

private:
    friend class SimDeviceList;

    bool m_bNullDeviceList;
    std::vector<std::unique_ptr<SimDevice>> m_devices;
    SimDeviceList m_deviceList;
};

} // namespace sdk::sim
