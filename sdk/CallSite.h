// Where the calls of one facade object pass the session's call gate: the gate, and the object's name in the
// trace and in fault rules. Every facade object holds one; producers give it when they build the object.
#pragma once

#include "sdk/SdkExport.h"

#include <string>
#include <string_view>

namespace sdk {

namespace core {
class CallGate;
} // namespace core

class VXSDK_API CallSite {
public:
    // `objectName` is empty for calls on no object (traced as "-"). The gate outlives every object of its session.
    CallSite(core::CallGate& gate, std::string objectName) noexcept;

    [[nodiscard]] const std::string& objectName() const noexcept { return m_objectName; }
    [[nodiscard]] core::CallGate& gate() const noexcept { return *m_pGate; }

    // A call on this object: counted, traced, and failed when a fault rule says so. Thread-safe.
    void pass(std::string_view call, std::string_view args = {}) const;
    // A call on one part of this object, such as a device's feature: object name "serial/part".
    void passOn(std::string_view call, std::string_view part, std::string_view args = {}) const;
    // A call of the frame path: counted and failed like pass(), never traced. Thread-safe.
    void passUntraced(std::string_view call) const;

private:
    core::CallGate* m_pGate;
    std::string m_objectName;
};

} // namespace sdk
