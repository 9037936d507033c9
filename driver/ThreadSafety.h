// Clang's thread-safety annotations, and a mutex that carries them, so that the compiler checks which lock
// guards which member. Other compilers see plain code.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define VXCAM_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VXCAM_THREAD_ANNOTATION(x)
#endif

#define VXCAM_CAPABILITY(name) VXCAM_THREAD_ANNOTATION(capability(name))
#define VXCAM_SCOPED_CAPABILITY VXCAM_THREAD_ANNOTATION(scoped_lockable)
#define VXCAM_GUARDED_BY(x) VXCAM_THREAD_ANNOTATION(guarded_by(x))
#define VXCAM_PT_GUARDED_BY(x) VXCAM_THREAD_ANNOTATION(pt_guarded_by(x))
#define VXCAM_REQUIRES(...) VXCAM_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define VXCAM_EXCLUDES(...) VXCAM_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define VXCAM_ACQUIRE(...) VXCAM_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define VXCAM_RELEASE(...) VXCAM_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define VXCAM_TRY_ACQUIRE(...) VXCAM_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define VXCAM_ASSERT_CAPABILITY(x) VXCAM_THREAD_ANNOTATION(assert_capability(x))
#define VXCAM_RETURN_CAPABILITY(x) VXCAM_THREAD_ANNOTATION(lock_returned(x))
#define VXCAM_NO_THREAD_SAFETY_ANALYSIS VXCAM_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace vxcam {

// std::mutex with the annotations.
class VXCAM_CAPABILITY("mutex") Mutex {
public:
    void lock() VXCAM_ACQUIRE() { m_mutex.lock(); }
    void unlock() VXCAM_RELEASE() { m_mutex.unlock(); }

private:
    friend class MutexLock;
    std::mutex m_mutex;
};

// Holds a Mutex for a scope, and lets a condition variable wait on it.
class VXCAM_SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) VXCAM_ACQUIRE(mutex) : m_lock(mutex.m_mutex) {}
    ~MutexLock() VXCAM_RELEASE() = default;
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // Waits for a notification (or a spurious wake-up: callers loop on their condition, which the analysis can
    // then check, unlike a predicate lambda). The lock is held again when this returns.
    void wait(std::condition_variable& condition) { condition.wait(m_lock); }
    // The same, giving up at `deadline`.
    template <typename Clock, typename Duration>
    void waitUntil(std::condition_variable& condition, const std::chrono::time_point<Clock, Duration>& deadline) {
        condition.wait_until(m_lock, deadline);
    }

private:
    std::unique_lock<std::mutex> m_lock;
};

} // namespace vxcam
