// One SDK session: from the first SystemList::GetInstance() after a release to the next ReleaseInstance().
// It reads the transport configuration, builds the producers, has the registered configurator set up the call
// gate, and owns the gate and the system list.
#pragma once

#include "sdk/core/CallGate.h"
#include "sdk/core/Producer.h"

#include <memory>
#include <vector>

namespace sdk {
class SystemList;
}

namespace sdk::core {

class Session {
public:
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    ~Session();

    // The current session's system list, opening a session first when there is none. Host thread only.
    static SystemList* acquireList();
    // Ends the current session, if any. Host thread only.
    static void release();
    // The current session's gate, or null between sessions. Thread-safe; the gate stays valid while the
    // caller holds the pointer.
    static std::shared_ptr<CallGate> currentGate();
    // The same for the frame path, lock-free while the session that the calling thread saw last is still the
    // current one: each thread keeps the gate it was given last, with the session it belongs to, and takes the
    // lock only when a session opened or ended since. The gate stays valid until the same thread asks again (a
    // thread's kept gate may outlive its session until then, or until the thread ends). Thread-safe.
    [[nodiscard]] static CallGate* frameGate();

    CallGate& gate() noexcept { return *m_pGate; }
    // Fills `list` with the systems of every producer, in configuration order.
    void collectSystems(std::vector<std::pair<std::string, System*>>& entries);

private:
    Session();

    std::shared_ptr<CallGate> m_pGate;
    std::vector<std::unique_ptr<Producer>> m_producers; // in VXCAM_TRANSPORTS order
    SystemList* m_pList = nullptr;                      // owned; null when the configuration says so
};

} // namespace sdk::core
