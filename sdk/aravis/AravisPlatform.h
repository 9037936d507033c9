// The Aravis producer's only contact with the operating system beyond Aravis and the standard library.
//
// No thread of the producer changes its scheduling policy or priority: the thread that runs the host's callback
// keeps the scheduling of the host's thread that started it (normal, unless the host chose otherwise), so that a
// frame reaches the host as soon as a processor is free (hosts drive reject gates and strobes from the callback),
// and threads that the host starts from there inherit nothing it did not choose.
#pragma once

#include <atomic>
#include <cstdint>

namespace sdk::aravis::platform {

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
