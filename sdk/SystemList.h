// The root of the SDK's object tree: one System per configured producer (transport).
#pragma once

#include "sdk/CallSite.h"
#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"

namespace sdk {

class System;

namespace core {
class Session;
}

// Which producers are offered is read from the environment when the list is first taken after a release:
// VXCAM_TRANSPORTS, a comma-separated list of producer names; unset, "u3v", and "sim" after it when
// VXCAM_SIM_CONFIG is set. GigE Vision ("gev") runs only when named.
class VXSDK_API SystemList : public ObjectList<System> {
public:
    // The process-wide list; null when the configuration says there is none. Host thread only.
    static SystemList* GetInstance();
    // Gives the list, and every object reached through it, back to the SDK. Host thread only.
    static void ReleaseInstance();
    // Returns once no thread the SDK started runs any more, those of streams that ended on their own delivery
    // thread included: after the list's release, a host may then unload the SDK. From inside a handler call it
    // waits for nothing and answers false (that call's thread is one of the SDK's).
    static bool AwaitThreadsEnded() noexcept;

    // Asks the producers for their systems again.
    void Refresh();

private:
    friend class core::Session;
    explicit SystemList(core::Session& session);
    ~SystemList() override;

    core::Session& m_session;
    CallSite m_site; // calls on no object
};

} // namespace sdk
