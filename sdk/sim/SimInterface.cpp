#include "sdk/sim/SimInterface.h"

#include "sdk/SdkExceptions.h"

namespace sdk::sim {

void SimDeviceList::Refresh(uint64_t timeout) {
    m_interface.m_site.pass("DeviceList::Refresh", std::to_string(timeout));
    m_entries.clear();
    for (const auto& device : m_interface.m_devices) {
        m_entries.emplace_back(device->GetID().str(), device.get());
    }
}

void SimDeviceList::onBegin() {
    m_interface.m_site.pass("DeviceList::begin");
}
void SimDeviceList::onLookup(const std::string& key) {
    m_interface.m_site.pass("DeviceList::operator[]", key);
}

SimInterface::SimInterface(core::CallGate& gate, const SimInterfaceConfig& config)
    : m_id(config.id), m_bNullDeviceList(config.nullDeviceList), m_site(gate, config.id), m_deviceList(*this) {
    // Keys are unique within the list even when two entries carry the same serial number.
    for (std::size_t index = 0; index < config.devices.size(); ++index) {
        m_devices.push_back(
            std::make_unique<SimDevice>(gate, m_id + "/dev" + std::to_string(index), config.devices[index]));
    }
}

SimInterface::~SimInterface() = default;

bool SimInterface::IsOpen() {
    m_site.pass("Interface::IsOpen");
    return m_bOpen;
}

void SimInterface::Open() {
    m_site.pass("Interface::Open");
    if (m_bOpen) {
        Exceptions::raise("ResourceException", "Interface::Open", "interface " + m_id + " is already open");
    }
    m_bOpen = true;
}

DeviceList* SimInterface::GetDevices() {
    m_site.pass("Interface::GetDevices");
    return m_bNullDeviceList ? nullptr : &m_deviceList;
}

} // namespace sdk::sim
