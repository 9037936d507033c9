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
//   Opened, Acquiring --ISetSoftTriggerMode-->                    Acquiring, or Opened when it failed
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
// Calls from inside OnImageReady. No call waits for itself: a call made on the delivering thread does not
// wait for the delivery it is part of. If another thread holds the turn and is quiescing (so it waits for this
// very delivery), the call from the callback is lent the turn and runs at once, ordered before the rest of
// the holder's call; the holder goes on once the frame is delivered and sees the state that call left. So no
// call is dropped, none deadlocks, and the members say what the host asked as soon as the call returns.
//
// Deletion. Camera_Delete tears the object down inside a call and marks it Deleted; the object's memory is
// freed when the last thread inside it has left: the last call, or the delivery from whose callback the object
// was deleted (which finishes on the lifecycle alone, shared by each delivery, and then frees the object on its
// own thread, as the stream expects of a handler that ends its owner).
#pragma once

#include "driver/ThreadSafety.h"

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

class CameraLifecycle : public std::enable_shared_from_this<CameraLifecycle> {
public:
    enum class State : uint8_t { Closed, Opened, Acquiring, Deleted };

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

    // ---- deliveries (the streams' delivery threads) ----

    // Waits for the frame's turn at the gate. False when the frame is not to be delivered (the gate is
    // closed, the object deleted, or the call is nested in a delivery of this thread). After true, the delivery
    // counts as inside the object until finishDelivery().
    [[nodiscard]] bool enter(sdk::Buffer* buffer);

    struct Exit {
        bool objectDeleted = false; // touch neither the object nor the buffer
        bool bufferRetired = false; // the buffer left its stream during the delivery: do not queue it again
        std::vector<std::unique_ptr<sdk::Buffer>> retired; // freed by the caller, outside the lock
    };
    // Passes the gate on to the next frame, once the host's callback has returned.
    [[nodiscard]] Exit leave();
    // The delivery is over (its retired buffers freed): when its object was deleted and it was the last thread
    // inside, the object is freed here, on the delivering thread.
    void finishDelivery();

    // True on the thread whose delivery is past the gate.
    [[nodiscard]] bool isDeliveringThread() const;

    // `buffer` is about to be released by a call. When it is the frame being delivered on this thread, the
    // lifecycle keeps it (taking it out of `buffer`) until that delivery ends; true then.
    [[nodiscard]] bool retireIfDelivering(std::unique_ptr<sdk::Buffer>& buffer);

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
    void runFreeObject() noexcept;

    [[nodiscard]] bool onDeliveringThread() const VXCAM_REQUIRES(m_mutex);
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
    sdk::Buffer* m_pDelivered VXCAM_GUARDED_BY(m_mutex) = nullptr;
    std::vector<std::unique_ptr<sdk::Buffer>> m_retired VXCAM_GUARDED_BY(m_mutex); // released mid-delivery
    // Frames refused at the gate (object not deleted) and not reported yet, while a call held the turn and
    // while none did; taken by the next outermost call to end.
    uint64_t m_nTurnedAway VXCAM_GUARDED_BY(m_mutex) = 0;
    uint64_t m_nTurnedAwayIdle VXCAM_GUARDED_BY(m_mutex) = 0;
};

// One operation's call into the object, for the scope of the operation: counted inside, holding the turn.
// Declare it first in the operation, so that it ends last: when the object was deleted meanwhile and this was
// the last call inside, its end frees the object, and the operation must not touch it afterwards.
class Call {
public:
    // `method` names the operation in the line that logs a refusal.
    Call(CameraLifecycle& lifecycle, const char* method);
    ~Call();
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
