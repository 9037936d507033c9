// What a session is set up with besides its producers: the call gate's faults and trace, which every producer
// shares, and whether the host is offered a system list at all. One configurator, registered from a static
// initialiser of the unit that knows where that configuration comes from, supplies it each time a session opens.
// Without a configurator a session injects no faults, traces nothing and offers its list.
#pragma once

#include "sdk/core/CallGate.h"
#include "sdk/core/Producer.h"

#include <memory>
#include <vector>

namespace sdk::core {

// Handed to the configurator while the session opens (host thread), after the producers were built and before
// any call passes the gate.
class SessionSetup {
public:
    SessionSetup(CallGate& gate, const std::vector<std::unique_ptr<Producer>>& producers) noexcept
        : m_gate(gate), m_producers(producers) {}

    // Configure it once: CallGate::configure().
    [[nodiscard]] CallGate& gate() const noexcept { return m_gate; }
    // The producers built, in VXCAM_TRANSPORTS order.
    [[nodiscard]] const std::vector<std::unique_ptr<Producer>>& producers() const noexcept { return m_producers; }

    // SystemList::GetInstance() answers null for the whole session.
    void withholdSystemList() noexcept { m_bListOffered = false; }
    [[nodiscard]] bool systemListOffered() const noexcept { return m_bListOffered; }

private:
    CallGate& m_gate;
    const std::vector<std::unique_ptr<Producer>>& m_producers;
    bool m_bListOffered = true;
};

using SessionConfigurator = void (*)(SessionSetup& setup);

// Called from a static initialiser inside the SDK library. A second registration replaces the first.
bool registerSessionConfigurator(SessionConfigurator configurator);

} // namespace sdk::core
