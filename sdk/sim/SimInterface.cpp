#include "sdk/sim/SimInterface.h"

namespace sdk::sim {

SimDeviceList::SimDeviceList(SimInterface& iface) : DeviceList(iface.site()), m_interface(iface) {}

void SimDeviceList::doRefresh(uint64_t /*timeout*/) {
    m_entries.clear();
    for (const auto& device : m_interface.m_devices) {
        m_entries.emplace_back(device->GetID().str(), device.get());
    }
}

SimInterface::SimInterface(core::CallGate& gate, const SimInterfaceConfig& config)
    : Interface(gate, config.id), m_bNullDeviceList(config.nullDeviceList), m_deviceList(*this) {
    // Keys are unique within the list even when two entries carry the same serial number.
    for (std::size_t index = 0; index < config.devices.size(); ++index) {
        m_devices.push_back(
            std::make_unique<SimDevice>(gate, config.id + "/dev" + std::to_string(index), config.devices[index]));
    }
}

SimInterface::~SimInterface() = default;

} // namespace sdk::sim
