// CameraLifecycle: the life of one driver object, and the place where the threads that use it meet: the
// host's threads calling its operations, and the streams' delivery threads handing it frames.
//
// States and the transitions each operation makes:
//
//   Closed    --IOpenCamera, camera found-->                      Opened
//   Opened    --IStartCamera, a mode that delivers (1 to 4)-->    Acquiring
//   Acquiring --IStopCamera, a start of Idle, a failed start-->   Opened
//   Opened, Acquiring --ICloseCamera-->                           Closed
//   Opened, Acquiring --IOpenCamera-->                            Closed first, then Opened or Closed
//   Opened, Acquiring --ISetSoftTriggerMode-->                    Acquiring, or Opened when it failed after
//                                                                  stopping the camera
//   any       --Camera_Delete (or the destructor)-->              Deleted, final
//
// The contract's m_bOpened and m_bRunning keep the values hosts know (a start of Idle answers "running",
// ICloseCamera leaves m_bRunning alone); the state says what the object really does. Frames reach the host
// only in Acquiring. Every call into a Deleted object (a thread that was already waiting when the object was
// deleted) is refused, and the refusal is logged.
//
// Calls. Every operation is one call: it counts as inside the object and holds the object's turn, so that
// calls take effect one at a time, each exactly once. A thread holding the turn may call again (an operation
// that calls another).
//
// Frames. Deliveries pass a gate, one frame at a time. A call that must stop frames (stop, close, delete, a
// start or soft-trigger programming that changes the camera, an open that closes a camera first) quiesces:
// it closes the gate and waits for the frame in delivery to end, so that once it returns no OnImageReady of
// the object runs or starts. Frames that the stream hands over while such a call still works wait at the gate
// and are delivered once the call has ended, if the call left the object Acquiring; otherwise they go back to
// their stream, as frames of a stopped camera do.
//
// Frames turned away. A frame refused at the gate goes back to its stream undelivered: it came while a call
// stopped or reprogrammed the camera, or while the object was not acquiring. None goes unreported: the
// lifecycle counts them, and the next call to end logs their number, under its own name for the frames that
// came during it and under BufferReady for those that came between calls. A call that leaves the object
// acquiring (a reprogramming) made a gap in the frames the host receives: a warning. After one that stopped
// frames, the host asked for no more: information.
//
// Calls from inside a callback. A thread inside OnImageReady (of this object or of any other) never waits for
// a delivery: its quiesce closes the gate and returns at once. So no new callback of the object starts once the
// call returns, while one already running on another thread may still finish; what had to wait for it (freeing
// the buffers it reads, freeing a deleted object) is done by that delivery as it leaves, the last one out. If
// another thread holds the turn and is quiescing (so it waits for a delivery), a call from inside a callback is
// lent the turn and runs at once, ordered before the rest of the holder's call; the holder goes on once the
// frame is delivered and sees the state that call left. So no call is dropped, none deadlocks across objects,
// and the members say what the host asked as soon as the call returns. What no module can prevent: a callback
// that blocks on a host thread which is itself inside a call that waits for that callback's delivery.
//
// Deletion. Camera_Delete tears the object down inside a call and marks it Deleted; the object's memory is
// freed when the last one inside it has left: the last call, the last delivery, or the last stream binding (the
// SDK holds a binding until no call of its handler runs any more).
#pragma once

#include "driver/ThreadSafety.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace sdk {
class Buffer;
}

namespace vxcam {

// The object's turn and its delivery, as capabilities for Clang's thread-safety analysis: what only a call that
// holds the turn may touch is guarded by `turn` (a Call holds it for its scope), what only the delivery past the
// gate may touch by `delivery` (held from a successful enter() to leave()). Neither has state of its own: the
// lifecycle's mutex and gate order the threads; these let the compiler check who may touch what.
class VXCAM_CAPABILITY("turn") TurnCapability {};
class VXCAM_CAPABILITY("delivery") DeliveryCapability {};

class CameraLifecycle : public std::enable_shared_from_this<CameraLifecycle> {
public:
    enum class State : uint8_t { Closed, Opened, Acquiring, Deleted };

    TurnCapability turn;
    DeliveryCapability delivery;
    // For the analysis only: code that runs inside a call's scope but apart from it (a lambda the call runs)
    // holds the call's turn.
    void insideTheCall() const VXCAM_ASSERT_CAPABILITY(turn) {}
    // For the analysis only: code that checked isDeliveringThread() runs inside the delivery.
    void insideTheDelivery() const VXCAM_ASSERT_CAPABILITY(delivery) {}

    // `freeObject` frees the driver object; it runs when a deleted object's last call leaves.
    explicit CameraLifecycle(std::function<void()> freeObject);
    CameraLifecycle(const CameraLifecycle&) = delete;
    CameraLifecycle& operator=(const CameraLifecycle&) = delete;
    ~CameraLifecycle();

    // ---- calls (any thread; see Call below) ----

    [[nodiscard]] State state() const;
    // Closed, Opened or Acquiring; Deleted only through markDeleted().
    void setState(State state);
    // Closes the gate and returns once no frame is in delivery (at once on the delivering thread). Lends the turn
    // to a call made from inside that delivery meanwhile. Frames stay stopped until the call ends in Acquiring.
    void quiesce();
    // Opens the gate while the call still works: frames the stream hands over from now on wait for the call's
    // end instead of going back. Called right before a stream starts.
    void acceptFrames();
    // The object is gone from the host's view; with `freeWhenLastLeaves`, its memory goes with the last call.
    void markDeleted(bool freeWhenLastLeaves);

    // Thread-safe, without a call: the object was deleted (its memory may be going once the caller's call ends).
    [[nodiscard]] bool isDeleted() const;

    // Thread-safe: calls in progress or waiting for the turn, and deliveries past the gate; for diagnostics and
    // tests.
    [[nodiscard]] int callsInside() const;

    // A stream binding of the object counts as inside it from bindingMade() to bindingEnded() (any thread): the
    // object is not freed while a stream may still call it.
    void bindingMade();
    void bindingEnded() noexcept;

    // True on a thread that is inside a delivery of any driver object (between enter() and leave()).
    [[nodiscard]] static bool insideAnyDelivery() noexcept;

    // ---- deliveries (the streams' delivery threads) ----

    // Waits for the frame's turn at the gate. False when the frame is not to be delivered (the gate is
    // closed, the object deleted, or the call is nested in a delivery of this thread). After true, the delivery
    // counts as inside the object until finishDelivery().
    [[nodiscard]] bool enter() VXCAM_TRY_ACQUIRE(true, delivery);

    struct Exit {
        bool objectDeleted = false; // the host deleted the object during the delivery
    };
    // Passes the gate on to the next frame, once the host's callback has returned.
    [[nodiscard]] Exit leave() VXCAM_RELEASE(delivery);
    // The delivery is over: when its object was deleted and it was the last one inside, the object is freed
    // here, on the delivering thread.
    void finishDelivery();

    // True on the thread whose delivery is past the gate.
    [[nodiscard]] bool isDeliveringThread() const;

private:
    friend class Call;

    // Counts the caller inside and takes the turn; false when the object was deleted (the caller then refuses).
    bool beginCall();
    struct CallEnd {
        bool freeObject = false;     // the caller must now free the deleted object (it was the last inside)
        uint64_t turnedAway = 0;     // frames turned away during the call, for the caller to report
        uint64_t turnedAwayIdle = 0; // ... and before it, while no call was in progress
        bool acquiring = false;      // the call left the object acquiring (its frames are a gap for the host)
    };
    // Gives the turn back.
    [[nodiscard]] CallEnd endCall();
    // One thread less inside; true when it was the last one inside a deleted object that is to be freed.
    [[nodiscard]] bool leaveObject() VXCAM_REQUIRES(m_mutex);
    // True when nothing is inside a deleted object that is to be freed (and clears that wish: it is freed now).
    [[nodiscard]] bool takeFreeWhenEmpty() VXCAM_REQUIRES(m_mutex);
    void runFreeObject() noexcept;

    [[nodiscard]] bool onDeliveringThread() const VXCAM_REQUIRES(m_mutex);
    // A call from this thread may borrow the turn of a holder that waits for a delivery.
    [[nodiscard]] bool mayBorrowTurn() const VXCAM_REQUIRES(m_mutex);
    void countTurnedAway() VXCAM_REQUIRES(m_mutex);

    struct Holder {
        std::thread::id thread;
        int depth = 0; // turns taken by that thread
    };

    // Guards every member below. Never held while the host or the SDK is called.
    mutable Mutex m_mutex;
    std::condition_variable m_changed; // any change below

    State m_state VXCAM_GUARDED_BY(m_mutex) = State::Closed;
    // Calls in progress or waiting for the turn, and deliveries from enter() to finishDelivery().
    int m_nInside VXCAM_GUARDED_BY(m_mutex) = 0;
    int m_nBindings VXCAM_GUARDED_BY(m_mutex) = 0; // stream bindings that exist; they count as inside too
    bool m_bFreeWhenLastLeaves VXCAM_GUARDED_BY(m_mutex) = false;
    std::function<void()> m_freeObject; // set once, by the constructor

    // The turn. While the holder quiesces and waits for a delivery, the delivering thread may borrow it once:
    // m_lentBy keeps the holder to give it back to.
    Holder m_holder VXCAM_GUARDED_BY(m_mutex);
    std::optional<Holder> m_lentBy VXCAM_GUARDED_BY(m_mutex);
    bool m_bHolderAwaitsDelivery VXCAM_GUARDED_BY(m_mutex) = false;
    bool m_bQuiescing VXCAM_GUARDED_BY(m_mutex) = false; // the current call has stopped frames

    // The gate.
    bool m_bAccepting VXCAM_GUARDED_BY(m_mutex) = false;  // frames may pass (or wait for the call's end)
    bool m_bDelivering VXCAM_GUARDED_BY(m_mutex) = false; // a frame is past the gate
    std::thread::id m_deliveringThread VXCAM_GUARDED_BY(m_mutex);
    // The same, readable without the mutex by any object's call (insideAnyDelivery).
    std::atomic<std::thread::id> m_deliverer{};
    // Frames refused at the gate (object not deleted) and not reported yet, while a call held the turn and
    // while none did; taken by the next outermost call to end.
    uint64_t m_nTurnedAway VXCAM_GUARDED_BY(m_mutex) = 0;
    uint64_t m_nTurnedAwayIdle VXCAM_GUARDED_BY(m_mutex) = 0;
};

// One operation's call into the object, for the scope of the operation: counted inside, holding the turn.
// Declare it first in the operation, so that it ends last: when the object was deleted meanwhile and this was
// the last call inside, its end frees the object, and the operation must not touch it afterwards.
class VXCAM_SCOPED_CAPABILITY Call {
public:
    // `method` names the operation in the line that logs a refusal.
    Call(CameraLifecycle& lifecycle, const char* method) VXCAM_ACQUIRE(lifecycle.turn);
    ~Call() VXCAM_RELEASE();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    // False for a call into a deleted object; the refusal is logged already.
    [[nodiscard]] bool admitted() const noexcept { return m_bAdmitted; }

private:
    static void reportTurnedAway(uint64_t frames, const char* method, bool gapForTheHost) noexcept;

    std::shared_ptr<CameraLifecycle> m_pLifecycle; // the object may be freed by this call's end
    const char* m_pMethod;
    bool m_bAdmitted;
};

} // namespace vxcam
