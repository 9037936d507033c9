// The system of one Aravis transport, with its one interface. Called on the host's side only.
#pragma once

#include "sdk/System.h"
#include "sdk/aravis/AravisInterface.h"

namespace sdk::aravis {

class AravisSystem;

class AravisInterfaceList final : public InterfaceList {
public:
    AravisInterfaceList(AravisSystem& system, AravisInterface& only);

protected:
    void doRefresh(uint64_t timeout) override; // a transport has its one interface

private:
    AravisInterface& m_interface;
};

class AravisSystem final : public System {
public:
    AravisSystem(core::CallGate& gate, Transport transport);
    ~AravisSystem() override;

protected:
    InterfaceList* doGetInterfaces() override { return &m_interfaces; }

private:
    friend class AravisInterfaceList;
    AravisInterface m_interface;
    AravisInterfaceList m_interfaces;
};

} // namespace sdk::aravis
