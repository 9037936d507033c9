#include "sdk/core/DeliveryThreads.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace sdk::core {
namespace {

thread_local int t_handlerCalls = 0;

// Threads whose stream ended on the thread itself. Guarded by reapedMutex(); joined by joinReapedThreads().
std::mutex& reapedMutex() {
    static std::mutex mutex;
    return mutex;
}
// Threads still in it when the process ends are let go: the process ends them.
struct ReapedThreads {
    std::vector<std::thread> threads;
    ReapedThreads() = default;
    ReapedThreads(const ReapedThreads&) = delete;
    ReapedThreads& operator=(const ReapedThreads&) = delete;
    ~ReapedThreads() {
        for (std::thread& thread : threads) {
            thread.detach();
        }
    }
};
std::vector<std::thread>& reapedThreads() {
    static ReapedThreads reaped;
    return reaped.threads;
}

} // namespace

bool insideHandlerCall() noexcept {
    return t_handlerCalls > 0;
}

HandlerCallScope::HandlerCallScope() noexcept {
    ++t_handlerCalls;
}

HandlerCallScope::~HandlerCallScope() {
    --t_handlerCalls;
}

void joinOrReap(std::thread thread) noexcept {
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() != std::this_thread::get_id()) {
        thread.join();
        return;
    }
    const std::lock_guard lock(reapedMutex());
    reapedThreads().push_back(std::move(thread));
}

namespace {

// Streams that exist; guarded by reapedMutex(), waited on with streamsChanged().
int g_nStreams = 0;
std::condition_variable& streamsChanged() {
    static std::condition_variable changed;
    return changed;
}

} // namespace

void streamMade() noexcept {
    const std::lock_guard lock(reapedMutex());
    ++g_nStreams;
}

void streamGone() noexcept {
    {
        const std::lock_guard lock(reapedMutex());
        --g_nStreams;
    }
    streamsChanged().notify_all();
}

bool joinReapedThreads(bool awaitStreams) noexcept {
    if (insideHandlerCall()) {
        return false;
    }
    std::vector<std::thread> joinable;
    {
        std::unique_lock lock(reapedMutex());
        if (awaitStreams) {
            streamsChanged().wait(lock, [] { return g_nStreams == 0; });
        }
        std::vector<std::thread>& reaped = reapedThreads();
        for (auto it = reaped.begin(); it != reaped.end();) {
            if (it->get_id() == std::this_thread::get_id()) {
                ++it;
                continue;
            }
            joinable.push_back(std::move(*it));
            it = reaped.erase(it);
        }
    }
    for (std::thread& thread : joinable) {
        thread.join();
    }
    return true;
}

} // namespace sdk::core
