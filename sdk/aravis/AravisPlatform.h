// The Aravis producer's only contact with the operating system beyond Aravis and the standard library.
#pragma once

#include <atomic>
#include <cstdint>

namespace sdk::aravis::platform {

// Lets the calling thread, once woken, wait for the thread running on its processor to sleep or to use up its
// time slice, instead of interrupting it at once. The delivery thread calls it, so that its wake-up for a
// filled buffer never breaks into Aravis's receiving thread in the middle of a burst of packets: that
// interruption and the switch back cost more per frame than the hand-over itself, and reception goes first.
// The thread's share of the processor stays the same. Returns false where the system refused; does nothing
// (and returns true) where the system has no such setting.
bool deferWakeUpsToRunningThreads() noexcept;

// Sleeps while `word` holds `value`; may also return without a change, so callers check again. One system call
// on Linux (a futex); elsewhere a condition variable that every word shares.
void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept;
// Wakes the threads sleeping in waitWhileEqual() on `word`; call it after changing the word.
void wakeWaiters(std::atomic<uint32_t>& word) noexcept;

} // namespace sdk::aravis::platform
