#include "sdk/aravis/AravisSystem.h"

#include "sdk/SdkExceptions.h"

namespace sdk::aravis {

AravisInterfaceList::AravisInterfaceList(AravisInterface& only) {
    m_entries.emplace_back(only.GetID().str(), &only);
}

void AravisInterfaceList::Refresh(uint64_t /*timeout*/) {}

AravisSystem::AravisSystem(Transport transport)
    : m_transport(transport), m_interface(transport), m_interfaces(m_interface) {}

AravisSystem::~AravisSystem() = default;

void AravisSystem::Open() {
    if (m_bOpen) {
        Exceptions::raise("ResourceException", "System::Open",
                          std::string("system ") + infoOf(m_transport).systemId + " is already open");
    }
    m_bOpen = true;
}

} // namespace sdk::aravis
