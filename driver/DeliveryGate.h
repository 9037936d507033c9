// DeliveryGate: where a driver object's operations (host side) and its frame deliveries (the streams'
// delivery threads) meet.
//
// - Deliveries into one object are serialised: one frame at a time passes the gate, so the host sees one
//   frame's fields consistently during OnImageReady. No lock is held while the host is called.
// - Operations of one object are serialised too (the host's thread and the host's callback thread may both
//   call them). An operation that stops frames ("quiesces") first closes the gate, then waits for the
//   delivery in progress to end, so that once it returns no OnImageReady runs or can start.
// - Called from inside OnImageReady (on the delivering thread), nothing waits for itself: a stop there does
//   not wait for the delivery it is part of, and an operation that would have to wait for a quiescing
//   operation of another thread (which waits for this very delivery) gives way instead of deadlocking.
// - A buffer that an operation releases during its own delivery (ICloseCamera or Camera_Delete called from
//   OnImageReady) is retired here and freed when that delivery ends, never under the delivery's feet.
//
// The gate is shared (std::shared_ptr) between the object and each delivery in progress, so that a delivery
// whose object is deleted from inside OnImageReady can still finish without touching the object.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sdk {
class Buffer;
}

namespace vxcam {

class DeliveryGate {
public:
    // ---- operations (any thread that calls the object) ----

    // Takes the object's operation turn; a thread that holds it may take it again (an operation that calls
    // another). False when called on the delivering thread while another thread's quiescing operation holds
    // the turn (it waits for this delivery); the caller then gives way.
    [[nodiscard]] bool acquireOperation();
    void releaseOperation() noexcept;

    // Closes the gate: deliveries waiting at it give their buffers back, and the operation counts as
    // quiescing until it releases its turn. Needs the operation turn.
    void stopFrames();
    // Opens the gate again. Needs the operation turn.
    void acceptFrames();
    // Returns once no delivery is past the gate, or at once on the delivering thread. Needs the turn and a
    // closed gate.
    void awaitDeliveriesEnded();

    // `buffer` is about to be released. When it is the frame being delivered on this thread, the gate keeps
    // it (taking it out of `buffer`) until that delivery ends; true then.
    [[nodiscard]] bool retireIfDelivering(std::unique_ptr<sdk::Buffer>& buffer);

    // True on the thread whose delivery is past the gate.
    [[nodiscard]] bool isDeliveringThread() const;

    // The object is gone: the delivery on this thread, if any, must not touch it once the host returns.
    void markObjectDeleted() noexcept;

    // ---- deliveries (delivery threads) ----

    // Waits for the frame's turn. False when the gate is closed (or the call is nested in a delivery of this
    // thread): the frame is not delivered.
    [[nodiscard]] bool enter(sdk::Buffer* buffer);

    struct Exit {
        bool objectDeleted = false; // touch neither the object nor the buffer
        bool bufferRetired = false; // the buffer left its stream during the delivery: do not queue it again
        std::vector<std::unique_ptr<sdk::Buffer>> retired; // freed by the caller, outside the lock
    };
    [[nodiscard]] Exit leave();

private:
    [[nodiscard]] bool onDeliveringThread() const noexcept;

    // Guards every member below.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // any change below

    bool m_bAccepting = false;           // frames may reach the host
    bool m_bDelivering = false;          // a delivery is past the gate
    std::thread::id m_deliveringThread;  // its thread
    sdk::Buffer* m_pDelivered = nullptr; // its buffer
    bool m_bOperationBusy = false;       // an operation holds the turn
    std::thread::id m_operationThread;   // its thread
    int m_nOperationDepth = 0;           // turns taken by that thread
    bool m_bQuiescing = false;           // ... and it has closed the gate (it may wait for deliveries)
    bool m_bObjectDeleted = false;
    std::vector<std::unique_ptr<sdk::Buffer>> m_retired; // released during their own delivery
};

// Holds an operation turn for a scope.
class OperationTurn {
public:
    explicit OperationTurn(DeliveryGate& gate) : m_gate(gate), m_bHeld(gate.acquireOperation()) {}
    ~OperationTurn() {
        if (m_bHeld) {
            m_gate.releaseOperation();
        }
    }
    OperationTurn(const OperationTurn&) = delete;
    OperationTurn& operator=(const OperationTurn&) = delete;

    [[nodiscard]] bool held() const noexcept { return m_bHeld; }

private:
    DeliveryGate& m_gate;
    bool m_bHeld;
};

} // namespace vxcam
