#include "sdk/sim/SimSystem.h"

namespace sdk::sim {

SimInterfaceList::SimInterfaceList(SimSystem& system) : InterfaceList(system.site()), m_system(system) {}

void SimInterfaceList::doRefresh(uint64_t /*timeout*/) {
    m_entries.clear();
    for (const auto& iface : m_system.m_interfaces) {
        m_entries.emplace_back(iface->GetID().str(), iface.get());
    }
}

SimSystem::SimSystem(core::CallGate& gate, const SimSystemConfig& config)
    : System(gate, config.id, "Sim"), m_bNullInterfaceList(config.nullInterfaceList), m_interfaceList(*this) {
    for (const SimInterfaceConfig& iface : config.interfaces) {
        m_interfaces.push_back(std::make_unique<SimInterface>(gate, iface));
    }
}

SimSystem::~SimSystem() = default;

} // namespace sdk::sim
