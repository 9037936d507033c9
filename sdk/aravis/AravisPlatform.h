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
// on Linux (a futex); elsewhere the portable words below.
void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept;
// Wakes the threads sleeping in waitWhileEqual() on `word`; call it after changing the word.
void wakeWaiters(std::atomic<uint32_t>& word) noexcept;

// The same with the standard library only: a fixed table of mutex and condition-variable pairs, one chosen by
// the word's address, so that threads sleeping on different words (different streams) rarely share a lock. Two
// words that share a pair wake each other's sleepers, who check their own word again. What the functions above
// are where the system has no futex; built everywhere so that it is tested everywhere.
void portableWaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept;
void portableWakeWaiters(std::atomic<uint32_t>& word) noexcept;

// The two ways as types, for code that is written once for either.
struct SystemWords {
    static void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
        platform::waitWhileEqual(word, value);
    }
    static void wakeWaiters(std::atomic<uint32_t>& word) noexcept { platform::wakeWaiters(word); }
};
struct PortableWords {
    static void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
        portableWaitWhileEqual(word, value);
    }
    static void wakeWaiters(std::atomic<uint32_t>& word) noexcept { portableWakeWaiters(word); }
};

} // namespace sdk::aravis::platform
