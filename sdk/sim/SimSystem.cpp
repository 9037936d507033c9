#include "sdk/sim/SimSystem.h"

#include "sdk/SdkExceptions.h"

namespace sdk::sim {

void SimInterfaceList::Refresh(uint64_t timeout) {
    m_system.m_site.pass("InterfaceList::Refresh", std::to_string(timeout));
    m_entries.clear();
    for (const auto& iface : m_system.m_interfaces) {
        m_entries.emplace_back(iface->GetID().str(), iface.get());
    }
}

void SimInterfaceList::onBegin() {
    m_system.m_site.pass("InterfaceList::begin");
}
void SimInterfaceList::onLookup(const std::string& key) {
    m_system.m_site.pass("InterfaceList::operator[]", key);
}

SimSystem::SimSystem(core::CallGate& gate, const SimSystemConfig& config)
    : m_id(config.id), m_bNullInterfaceList(config.nullInterfaceList), m_site(gate, config.id), m_interfaceList(*this) {
    for (const SimInterfaceConfig& iface : config.interfaces) {
        m_interfaces.push_back(std::make_unique<SimInterface>(gate, iface));
    }
}

SimSystem::~SimSystem() = default;

bool SimSystem::IsOpen() {
    m_site.pass("System::IsOpen");
    return m_bOpen;
}

void SimSystem::Open() {
    m_site.pass("System::Open");
    if (m_bOpen) {
        Exceptions::raise("ResourceException", "System::Open", "system " + m_id + " is already open");
    }
    m_bOpen = true;
}

InterfaceList* SimSystem::GetInterfaces() {
    m_site.pass("System::GetInterfaces");
    return m_bNullInterfaceList ? nullptr : &m_interfaceList;
}

} // namespace sdk::sim
