#include "driver/CameraLifecycle.h"

#include "driver/DriverLogging.h"
#include "sdk/Buffer.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vxcam {
namespace {

// Every lifecycle of the process, so that a call can tell whether its thread delivers a frame of any object (a
// callback that calls another object's operation never waits for a delivery). No thread-local variable: the
// module is loaded at run time, and its dynamic thread-local storage confuses the leak checker of the sanitizer
// build. Guarded by livesMutex(), which is taken after a lifecycle's own mutex, never before.
// Never destroyed: a delivery thread may still end a lifecycle while the process exits.
std::mutex& livesMutex() {
    static auto* const mutex = new std::mutex; // NOLINT(cppcoreguidelines-owning-memory): lives as long as the process
    return *mutex;
}
std::vector<const CameraLifecycle*>& lives() {
    static auto* const all = new std::vector<const CameraLifecycle*>; // NOLINT(cppcoreguidelines-owning-memory)
    return *all;
}

} // namespace

CameraLifecycle::CameraLifecycle(std::function<void()> freeObject) : m_freeObject(std::move(freeObject)) {
    const std::lock_guard lock(livesMutex());
    lives().push_back(this);
}

CameraLifecycle::~CameraLifecycle() {
    const std::lock_guard lock(livesMutex());
    std::vector<const CameraLifecycle*>& all = lives();
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
}

bool CameraLifecycle::onDeliveringThread() const {
    return m_bDelivering && m_deliveringThread == std::this_thread::get_id();
}

bool CameraLifecycle::insideAnyDelivery() noexcept {
    const std::thread::id self = std::this_thread::get_id();
    const std::lock_guard lock(livesMutex());
    return std::any_of(lives().begin(), lives().end(),
                       [self](const CameraLifecycle* life) { return life->m_deliverer.load() == self; });
}

// The holder waits for a delivery: a call from inside any callback runs now rather than wait for the holder,
// which may be waiting for that very callback's delivery, or for one that waits on this thread.
bool CameraLifecycle::mayBorrowTurn() const {
    return m_bHolderAwaitsDelivery && !m_lentBy && (onDeliveringThread() || insideAnyDelivery());
}

void CameraLifecycle::countTurnedAway() {
    ++(m_holder.depth > 0 ? m_nTurnedAway : m_nTurnedAwayIdle);
}

// ---- calls -------------------------------------------------------------------------------------------------

bool CameraLifecycle::beginCall() {
    MutexLock lock(m_mutex);
    ++m_nInside;
    const std::thread::id self = std::this_thread::get_id();
    if (m_holder.depth > 0 && m_holder.thread == self) {
        ++m_holder.depth;
        return m_state != State::Deleted;
    }
    for (;;) {
        if (m_holder.depth == 0) {
            m_holder = {self, 1};
            break;
        }
        if (mayBorrowTurn()) {
            m_lentBy = m_holder;
            m_holder = {self, 1};
            break;
        }
        lock.wait(m_changed);
    }
    return m_state != State::Deleted;
}

CameraLifecycle::CallEnd CameraLifecycle::endCall() {
    MutexLock lock(m_mutex);
    CallEnd end;
    if (--m_holder.depth == 0) {
        end.turnedAway = std::exchange(m_nTurnedAway, 0);
        end.turnedAwayIdle = std::exchange(m_nTurnedAwayIdle, 0);
        end.acquiring = m_state == State::Acquiring;
        if (m_lentBy) {
            m_holder = *m_lentBy;
            m_lentBy.reset();
        } else {
            m_holder = {};
            // The call is over: frames pass again when it left the object acquiring.
            m_bQuiescing = false;
            m_bAccepting = m_state == State::Acquiring;
        }
        m_changed.notify_all();
    }
    end.freeObject = leaveObject();
    return end;
}

bool CameraLifecycle::leaveObject() {
    --m_nInside;
    return takeFreeWhenEmpty();
}

bool CameraLifecycle::takeFreeWhenEmpty() {
    if (m_nInside > 0 || m_nBindings > 0 || !m_bFreeWhenLastLeaves) {
        return false;
    }
    m_bFreeWhenLastLeaves = false;
    return true;
}

void CameraLifecycle::bindingMade() {
    const MutexLock lock(m_mutex);
    ++m_nBindings;
}

void CameraLifecycle::bindingEnded() noexcept {
    bool freeNow = false;
    {
        const MutexLock lock(m_mutex);
        --m_nBindings;
        freeNow = takeFreeWhenEmpty();
    }
    if (freeNow) {
        runFreeObject();
    }
}

void CameraLifecycle::finishDelivery() {
    bool freeNow = false;
    {
        const MutexLock lock(m_mutex);
        freeNow = leaveObject();
    }
    if (freeNow) {
        runFreeObject();
    }
}

void CameraLifecycle::runFreeObject() noexcept {
    if (m_freeObject) {
        m_freeObject();
    }
}

CameraLifecycle::State CameraLifecycle::state() const {
    const MutexLock lock(m_mutex);
    return m_state;
}

bool CameraLifecycle::isDeleted() const {
    const MutexLock lock(m_mutex);
    return m_state == State::Deleted;
}

int CameraLifecycle::callsInside() const {
    const MutexLock lock(m_mutex);
    return m_nInside;
}

void CameraLifecycle::setState(State state) {
    const MutexLock lock(m_mutex);
    if (m_state == State::Deleted) {
        return;
    }
    m_state = state;
    if (state != State::Acquiring) {
        // Frames waiting for this call's end go back to their stream now, before the call stops the streams.
        m_bAccepting = false;
        m_changed.notify_all();
    }
}

void CameraLifecycle::quiesce() {
    MutexLock lock(m_mutex);
    m_bAccepting = false;
    m_bQuiescing = true;
    m_changed.notify_all();
    // Inside a callback (of any object) nothing waits for a delivery: the one in progress finishes on its own.
    if (onDeliveringThread() || insideAnyDelivery()) {
        return;
    }
    m_bHolderAwaitsDelivery = true;
    m_changed.notify_all();
    while (m_bDelivering || m_lentBy) {
        lock.wait(m_changed);
    }
    m_bHolderAwaitsDelivery = false;
    // A call lent the turn meanwhile may have let frames in again; none passed (this call is quiescing), and
    // the gate stays closed until this call ends.
    m_bAccepting = false;
}

void CameraLifecycle::acceptFrames() {
    const MutexLock lock(m_mutex);
    if (m_state != State::Deleted) {
        m_bAccepting = true;
    }
}

void CameraLifecycle::markDeleted(bool freeWhenLastLeaves) {
    const MutexLock lock(m_mutex);
    m_state = State::Deleted;
    m_bAccepting = false;
    m_bFreeWhenLastLeaves = freeWhenLastLeaves;
    m_changed.notify_all();
}

// ---- deliveries --------------------------------------------------------------------------------------------

// The capability is the compiler's view only; the mutex and the gate do the work.
bool CameraLifecycle::enter() VXCAM_NO_THREAD_SAFETY_ANALYSIS {
    MutexLock lock(m_mutex);
    if (m_state == State::Deleted) {
        return false;
    }
    if (onDeliveringThread()) {
        countTurnedAway();
        return false;
    }
    for (;;) {
        if (m_state == State::Deleted) {
            return false;
        }
        if (!m_bAccepting) {
            countTurnedAway();
            return false;
        }
        if (!m_bDelivering && !m_bQuiescing) {
            break;
        }
        lock.wait(m_changed);
    }
    ++m_nInside;
    m_bDelivering = true;
    m_deliveringThread = std::this_thread::get_id();
    m_deliverer.store(m_deliveringThread);
    return true;
}

CameraLifecycle::Exit CameraLifecycle::leave() VXCAM_NO_THREAD_SAFETY_ANALYSIS {
    Exit exit;
    const MutexLock lock(m_mutex);
    exit.objectDeleted = m_state == State::Deleted;
    m_bDelivering = false;
    m_deliveringThread = {};
    m_deliverer.store(std::thread::id());
    m_changed.notify_all();
    return exit;
}

bool CameraLifecycle::isDeliveringThread() const {
    const MutexLock lock(m_mutex);
    return onDeliveringThread();
}

// ---- Call ----------------------------------------------------------------------------------------------------

Call::Call(CameraLifecycle& lifecycle, const char* method) VXCAM_NO_THREAD_SAFETY_ANALYSIS
    : m_pLifecycle(lifecycle.shared_from_this()),
      m_pMethod(method),
      m_bAdmitted(lifecycle.beginCall()) {
    if (!m_bAdmitted) {
        const std::string qualified = std::string("CCameraVeyra::") + method;
        qCWarning(lcDriver()) << "the camera object was deleted; the call is refused"
                              << " - " << qualified.c_str();
    }
}

Call::~Call() VXCAM_NO_THREAD_SAFETY_ANALYSIS {
    const CameraLifecycle::CallEnd end = m_pLifecycle->endCall();
    reportTurnedAway(end.turnedAwayIdle, "BufferReady", false);
    reportTurnedAway(end.turnedAway, m_pMethod, end.acquiring);
    if (end.freeObject) {
        m_pLifecycle->runFreeObject();
    }
}

void Call::reportTurnedAway(uint64_t frames, const char* method, bool gapForTheHost) noexcept {
    if (frames == 0) {
        return;
    }
    const std::string qualified = std::string("CCameraVeyra::") + method;
    const QString text = QString::number(frames) +
                         QLatin1String(" frame(s) came while the camera was stopped or reprogrammed and went back to "
                                       "their stream undelivered.");
    if (gapForTheHost) {
        qCWarning(lcDriver()).noquote() << text << " - " << qualified.c_str();
    } else {
        qCInfo(lcDriver()).noquote() << text << " - " << qualified.c_str();
    }
}

} // namespace vxcam
