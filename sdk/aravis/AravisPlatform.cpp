#include "sdk/aravis/AravisPlatform.h"

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

namespace sdk::aravis::platform {

bool deferWakeUpsToRunningThreads() noexcept {
#if defined(__linux__)
    // The batch policy is the normal one without wake-up preemption; it needs no privilege.
    const sched_param normal{};
    return pthread_setschedparam(pthread_self(), SCHED_BATCH, &normal) == 0;
#else
    return true;
#endif
}

} // namespace sdk::aravis::platform
