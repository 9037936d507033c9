// The system of one Aravis transport, with its one interface. Called on the host's side only.
#pragma once

#include "sdk/System.h"
#include "sdk/aravis/AravisInterface.h"

namespace sdk::aravis {

class AravisInterfaceList final : public InterfaceList {
public:
    explicit AravisInterfaceList(AravisInterface& only);
    void Refresh(uint64_t timeout) override; // a transport has one interface; nothing to look for
};

class AravisSystem final : public System {
public:
    explicit AravisSystem(Transport transport);
    ~AravisSystem() override;

    String GetID() override { return String(infoOf(m_transport).systemId); }
    String GetTLType() override { return String(infoOf(m_transport).tlType); }
    bool IsOpen() override { return m_bOpen; }
    void Open() override;
    InterfaceList* GetInterfaces() override { return &m_interfaces; }

private:
    Transport m_transport;
    bool m_bOpen = false;
    AravisInterface m_interface;
    AravisInterfaceList m_interfaces;
};

} // namespace sdk::aravis
