#include "sdk/CallSite.h"

#include "sdk/core/CallGate.h"

#include <utility>

namespace sdk {

CallSite::CallSite(core::CallGate& gate, std::string objectName) noexcept
    : m_pGate(&gate), m_objectName(std::move(objectName)) {}

void CallSite::pass(std::string_view call, std::string_view args) const {
    m_pGate->pass(call, m_objectName, args);
}

void CallSite::passOn(std::string_view call, std::string_view part, std::string_view args) const {
    if (!m_pGate->active()) {
        return;
    }
    std::string object;
    object.reserve(m_objectName.size() + 1 + part.size());
    object.append(m_objectName).append(1, '/').append(part);
    m_pGate->pass(call, object, args);
}

void CallSite::passUntraced(std::string_view call) const {
    m_pGate->passUntraced(call, m_objectName);
}

} // namespace sdk
