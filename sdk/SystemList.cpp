#include "sdk/SystemList.h"

#include "sdk/core/Session.h"

namespace sdk {

SystemList::SystemList(core::Session& session) : ObjectList("SystemList::operator[]"), m_session(session) {
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

void SystemList::Refresh() {
    m_session.gate().pass("SystemList::Refresh", {});
    m_entries.clear();
    m_session.collectSystems(m_entries);
}

void SystemList::onBegin() {
    m_session.gate().pass("SystemList::begin", {});
}

void SystemList::onLookup(const std::string& key) {
    m_session.gate().pass("SystemList::operator[]", {}, key);
}

} // namespace sdk
