#include "sdk/SystemList.h"

#include "sdk/core/DeliveryThreads.h"
#include "sdk/core/Session.h"

namespace sdk {

SystemList::SystemList(core::Session& session)
    : ObjectList(m_site, "SystemList::begin", "SystemList::operator[]"), m_session(session),
      m_site(session.gate(), std::string()) {
    m_session.collectSystems(m_entries);
}

SystemList::~SystemList() = default;

SystemList* SystemList::GetInstance() {
    return core::Session::acquireList();
}

void SystemList::ReleaseInstance() {
    const std::shared_ptr<core::CallGate> gate = core::Session::currentGate();
    if (gate == nullptr) {
        return;
    }
    // A failed release still ends the session, so that no configuration outlives a release.
    try {
        gate->pass("SystemList::ReleaseInstance", {});
    } catch (...) {
        core::Session::release();
        throw;
    }
    core::Session::release();
}

// Once the session is released, every stream is ending: those that hand-overs in progress still hold are waited
// for, so that their threads are reaped and joined too.
bool SystemList::AwaitThreadsEnded() noexcept {
    return core::joinReapedThreads(core::Session::currentGate() == nullptr);
}

void SystemList::Refresh() {
    m_site.pass("SystemList::Refresh");
    m_entries.clear();
    m_session.collectSystems(m_entries);
}

} // namespace sdk
