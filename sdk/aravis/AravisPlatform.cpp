#include "sdk/aravis/AravisPlatform.h"

#if defined(__linux__)
#include <climits>
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#else
#include <condition_variable>
#include <mutex>
#endif

namespace sdk::aravis::platform {

// A futex word is the atomic's own storage: the standard guarantees nothing beyond size and lock-freedom, which
// is what the kernel needs.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free);

#if defined(__linux__)

bool deferWakeUpsToRunningThreads() noexcept {
    // The batch policy is the normal one without wake-up preemption; it needs no privilege.
    const sched_param normal{};
    return pthread_setschedparam(pthread_self(), SCHED_BATCH, &normal) == 0;
}

void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
    // EAGAIN (the word changed before the sleep) and EINTR are the spurious returns the callers allow for.
    syscall(SYS_futex, &word, FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void wakeWaiters(std::atomic<uint32_t>& word) noexcept {
    syscall(SYS_futex, &word, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

#else

bool deferWakeUpsToRunningThreads() noexcept {
    return true;
}

namespace {
// Shared by every word: a wake-up rouses every sleeper, and each checks its own word again.
std::mutex g_wordsMutex;
std::condition_variable g_wordChanged;
} // namespace

void waitWhileEqual(const std::atomic<uint32_t>& word, uint32_t value) noexcept {
    std::unique_lock lock(g_wordsMutex);
    g_wordChanged.wait(lock, [&] { return word.load() != value; });
}

void wakeWaiters(std::atomic<uint32_t>& /*word*/) noexcept {
    // Taking the mutex orders the change before a sleeper's check: none can miss it and sleep on.
    { const std::lock_guard lock(g_wordsMutex); }
    g_wordChanged.notify_all();
}

#endif

} // namespace sdk::aravis::platform
