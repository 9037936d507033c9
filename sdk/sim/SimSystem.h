// A simulated transport system and its interface list.
#pragma once

#include "sdk/System.h"
#include "sdk/sim/SimCallSite.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimInterface.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimSystem;

class SimInterfaceList final : public InterfaceList {
public:
    explicit SimInterfaceList(SimSystem& system) : m_system(system) {}
    void Refresh(uint64_t timeout) override;

private:
    void onBegin() override;
    void onLookup(const std::string& key) override;
    SimSystem& m_system;
};

class SimSystem final : public System {
public:
    SimSystem(core::CallGate& gate, const SimSystemConfig& config);
    ~SimSystem() override;

    String GetID() override { return String(m_id); }
    String GetTLType() override { return String("Sim"); }
    bool IsOpen() override;
    void Open() override;
    InterfaceList* GetInterfaces() override;

    [[nodiscard]] const std::string& id() const noexcept { return m_id; }

private:
    friend class SimInterfaceList;

    std::string m_id;
    bool m_bNullInterfaceList;
    SimCallSite m_site;   // object name: the system's id
    bool m_bOpen = false; // calls of the host's side, one at a time
    std::vector<std::unique_ptr<SimInterface>> m_interfaces;
    SimInterfaceList m_interfaceList;
};

} // namespace sdk::sim
