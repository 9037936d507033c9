// Wakes a stream's delivery thread when Aravis's receiving thread has filled a buffer.
//
// The receiving thread rings once per filled buffer and must never wait: ringing takes no lock, and makes a
// system call only to wake a delivery thread that sleeps (where the system has no futex, it then takes the
// sleeping word's own lock of the portable table for a moment, which no other stream is likely to share). The
// delivery thread waits for a ring and then takes every filled buffer there is, so that rings made while it
// works count as one.
#pragma once

#include "sdk/aravis/AravisPlatform.h"

#include <atomic>
#include <cstdint>

namespace sdk::aravis {

// `Words` sleeps and wakes on the state word: platform::SystemWords, or platform::PortableWords.
template <typename Words>
class BasicDoorbell {
public:
    // Any thread; also rung when grabbing ends, so that the delivery thread sees it.
    void ring() noexcept {
        if (m_state.exchange(Rung) == Sleeping) {
            Words::wakeWaiters(m_state);
        }
    }

    // One thread at a time. Returns once rung since the last return.
    void waitForRing() noexcept {
        uint32_t quiet = Quiet;
        if (m_state.compare_exchange_strong(quiet, Sleeping)) {
            while (m_state.load() == Sleeping) {
                Words::waitWhileEqual(m_state, Sleeping);
            }
        }
        // Takes this ring and any made since: each came after its buffer was filled, and the caller now takes
        // every filled buffer there is.
        m_state.store(Quiet);
    }

private:
    enum State : uint32_t { Quiet, Rung, Sleeping };
    // Sleeping (and back to Quiet) is set by the waiting thread, Rung by the ringing ones; the waiting thread
    // sleeps on the word itself.
    std::atomic<uint32_t> m_state{Quiet};
};

using Doorbell = BasicDoorbell<platform::SystemWords>;

} // namespace sdk::aravis
