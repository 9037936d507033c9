// The Aravis producer's only contact with the operating system beyond Aravis and the standard library.
#pragma once

namespace sdk::aravis::platform {

// Lets the calling thread, once woken, wait for the thread running on its processor to sleep or to use up its
// time slice, instead of interrupting it at once. The delivery thread calls it, so that its wake-up for a
// filled buffer never breaks into Aravis's receiving thread in the middle of a burst of packets: that
// interruption and the switch back cost more per frame than the hand-over itself, and reception goes first.
// The thread's share of the processor stays the same. Returns false where the system refused; does nothing
// (and returns true) where the system has no such setting.
bool deferWakeUpsToRunningThreads() noexcept;

} // namespace sdk::aravis::platform
