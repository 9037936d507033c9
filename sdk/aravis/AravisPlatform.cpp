#include "sdk/aravis/AravisPlatform.h"

#if defined(__linux__)
#include <climits>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <array>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace sdk::aravis::platform {

// A futex word is the atomic's own storage: the standard guarantees nothing beyond size and lock-freedom, which
// is what the kernel needs.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

#if defined(__linux__)

void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
    // EAGAIN (the word changed before the sleep) and EINTR are the spurious returns the callers allow for.
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void wakeWaiters(std::atomic<uint32_t>& word) noexcept {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

#else

void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
    portableWaitWhileEqual(word, value);
}

void wakeWaiters(std::atomic<uint32_t>& word) noexcept {
    portableWakeWaiters(word);
}

#endif

namespace {

// One pair of the table: the mutex orders a word's change before a sleeper's check, the condition variable
// carries the wake-up. Each on a cache line of its own, so that pairs that different streams use do not share one.
struct alignas(64) WordSleep {
    std::mutex mutex;
    std::condition_variable changed;
};

constexpr std::size_t kWordSleepCount = 64; // a power of two: the hash below takes the top bits

// The pair of `word`: a multiplicative hash of its address, so that words of neighbouring objects spread over
// the table. Built at first use (thread-safe), and kept for the rest of the process.
WordSleep& wordSleepOf(const void* word) noexcept {
    static std::array<WordSleep, kWordSleepCount> table;
    const auto address = static_cast<uint64_t>(reinterpret_cast<std::uintptr_t>(word));
    constexpr unsigned kIndexBits = 6;
    static_assert(std::size_t{1} << kIndexBits == kWordSleepCount);
    return table[(address * 0x9E3779B97F4A7C15ULL) >> (64 - kIndexBits)];
}

} // namespace

void portableWaitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
    WordSleep& sleep = wordSleepOf(&word);
    std::unique_lock lock(sleep.mutex);
    sleep.changed.wait(lock, [&] { return word.load() != value; });
}

void portableWakeWaiters(std::atomic<uint32_t>& word) noexcept {
    WordSleep& sleep = wordSleepOf(&word);
    // Taking the mutex orders the change before a sleeper's check: none can miss it and sleep on.
    { const std::lock_guard lock(sleep.mutex); }
    sleep.changed.notify_all();
}

} // namespace sdk::aravis::platform
