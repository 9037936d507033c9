// What every simulated object shares: the session's call gate and the object's name in the trace.
#pragma once

#include "sdk/core/CallGate.h"

#include <string>
#include <string_view>
#include <utility>

namespace sdk::sim {

class SimCallSite {
public:
    SimCallSite(core::CallGate& gate, std::string objectName) : m_gate(gate), m_objectName(std::move(objectName)) {}

    [[nodiscard]] const std::string& objectName() const noexcept { return m_objectName; }
    [[nodiscard]] core::CallGate& gate() const noexcept { return m_gate; }

    // Passes the gate as a call on this object (traced; may raise an injected fault).
    void pass(std::string_view call, std::string_view args = {}) const { m_gate.pass(call, m_objectName, args); }
    // Passes the gate as a call on one part of this object, such as a feature: "serial/feature".
    void passOn(std::string_view call, std::string_view part, std::string_view args = {}) const {
        m_gate.pass(call, m_objectName + "/" + std::string(part), args);
    }

private:
    core::CallGate& m_gate;
    std::string m_objectName;
};

} // namespace sdk::sim
