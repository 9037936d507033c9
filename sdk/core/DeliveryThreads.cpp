#include "sdk/core/DeliveryThreads.h"

#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

namespace sdk::core {
namespace {

thread_local int t_handlerCalls = 0;

// Threads whose stream ended on the thread itself. Guarded by reapedMutex(); joined by joinReapedThreads(). The
// mutex is never destroyed, so that a thread still ending while the process exits can hand itself over.
std::mutex& reapedMutex() {
    static auto* const mutex = new std::mutex; // NOLINT(cppcoreguidelines-owning-memory): lives as long as the process
    return *mutex;
}
// Never destroyed either: a thread may hand itself over after the exit's join below.
std::vector<std::thread>& reapedThreads() {
    static auto* const threads = new std::vector<std::thread>; // NOLINT(cppcoreguidelines-owning-memory)
    return *threads;
}

// Threads still handed over when the process (or the SDK library) ends are joined then: each has left its
// stream and is returning.
struct JoinReapedAtExit {
    JoinReapedAtExit() = default;
    JoinReapedAtExit(const JoinReapedAtExit&) = delete;
    JoinReapedAtExit& operator=(const JoinReapedAtExit&) = delete;
    ~JoinReapedAtExit() {
        std::vector<std::thread> ending;
        {
            const std::lock_guard lock(reapedMutex());
            ending.swap(reapedThreads());
        }
        for (std::thread& thread : ending) {
            if (thread.get_id() == std::this_thread::get_id()) {
                thread.detach();
            } else {
                thread.join();
            }
        }
    }
};
const JoinReapedAtExit g_joinReapedAtExit;

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
    static auto* const changed = new std::condition_variable; // NOLINT(cppcoreguidelines-owning-memory): as the mutex
    return *changed;
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
