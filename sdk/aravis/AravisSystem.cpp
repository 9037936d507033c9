#include "sdk/aravis/AravisSystem.h"

namespace sdk::aravis {

AravisInterfaceList::AravisInterfaceList(AravisSystem& system, AravisInterface& only)
    : InterfaceList(system.site()), m_interface(only) {
    m_entries.emplace_back(m_interface.GetID().str(), &m_interface);
}

void AravisInterfaceList::doRefresh(uint64_t /*timeout*/) {
    m_entries.clear();
    m_entries.emplace_back(m_interface.GetID().str(), &m_interface);
}

AravisSystem::AravisSystem(core::CallGate& gate, Transport transport)
    : System(gate, infoOf(transport).systemId, infoOf(transport).tlType), m_interface(gate, transport),
      m_interfaces(*this, m_interface) {}

AravisSystem::~AravisSystem() = default;

} // namespace sdk::aravis
