// A simulated transport system and its interface list.
#pragma once

#include "sdk/System.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimInterface.h"

#include <memory>
#include <vector>

namespace sdk::sim {

class SimSystem;

class SimInterfaceList final : public InterfaceList {
public:
    explicit SimInterfaceList(SimSystem& system);

protected:
    void doRefresh(uint64_t timeout) override;

private:
    SimSystem& m_system;
};

class SimSystem final : public System {
public:
    SimSystem(core::CallGate& gate, const SimSystemConfig& config);
    ~SimSystem() override;

    [[nodiscard]] const std::string& id() const noexcept { return site().objectName(); }

protected:
    InterfaceList* doGetInterfaces() override { return m_bNullInterfaceList ? nullptr : &m_interfaceList; }

private:
    friend class SimInterfaceList;

    bool m_bNullInterfaceList;
    std::vector<std::unique_ptr<SimInterface>> m_interfaces;
    SimInterfaceList m_interfaceList;
};

} // namespace sdk::sim
