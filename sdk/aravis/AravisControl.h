// The control channel of one open camera. Every call that talks to the camera runs on the channel's own thread,
// one at a time, and its caller waits for the answer only up to a deadline.
//
// Aravis waits out its own timeouts and retries on a camera that does not answer (seconds on a GigE Vision link
// that went down), and offers no way to shorten them or to interrupt a call. The host's callers expect an answer
// within two seconds, so the call runs here and the caller is answered "did not answer within ..." once the
// deadline passes. The call itself cannot be taken back: it goes on until Aravis gives up or the camera answers,
// and may still take effect then. From then on the camera counts as silent: every further call fails at once
// rather than queueing behind it, until the camera answers again.
//
// Whether it answers is the watch's to find out (watch()): between calls, the channel's thread looks at the camera
// now and then. A camera that answers no look is silent too; one that stays silent longer than it keeps a session
// without hearing from its host, or that says it gave up the session, is lost: the watch's `lost` is called once.
// Aravis's own heartbeat notices a link that goes down only once the link is back, if at all; this is how the
// host learns of it within seconds. Without a watch, a camera counts as answering again once the call that did not
// answer has ended.
//
// Everything a call touches must outlive it, also when its caller has given up: calls capture values, and the
// camera's objects live until the channel's last call, the release of the camera, has run (retire()).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>

namespace sdk::aravis {

class ControlChannel {
public:
    // The contract's bound is two seconds for a whole host call; the rest is left for the call's own work and for
    // the calls that fail at once after this one.
    static constexpr std::chrono::milliseconds kDefaultDeadline{1500};

    // Where the calls run. A link that cannot go silent for seconds (the in-process virtual camera, USB with
    // Aravis's own short timeouts) runs them on the caller's thread, at no cost.
    enum class Runs { OnItsOwnThread, OnTheCallersThread };

    explicit ControlChannel(std::string serial, Runs runs = Runs::OnItsOwnThread,
                            std::chrono::milliseconds deadline = kDefaultDeadline);
    // Retires the channel with nothing more to run, unless it was retired already.
    ~ControlChannel();
    ControlChannel(const ControlChannel&) = delete;
    ControlChannel& operator=(const ControlChannel&) = delete;

    // Runs `call` on the channel's thread and returns its result, or rethrows what it raised. Raises the SDK's
    // "TimeoutException" under `function` when it did not end within the deadline (counted from now), or at once
    // while an earlier call that did not answer still runs; "NotAvailableException" once the channel is retired.
    // A call that never started when its caller gave up is dropped.
    template <typename Call>
    std::invoke_result_t<Call&> run(const char* function, Call call) {
        using Result = std::invoke_result_t<Call&>;
        if (!m_bOwnThread) {
            return call();
        }
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(call));
        std::future<Result> answer = task->get_future();
        await(function, [task] { (*task)(); });
        return answer.get();
    }

    // Ends the channel: `last` (if any) runs after every call already queued, as the thread's last work; the
    // camera's last release goes here, so that it never runs under a call still in progress. With `wait`, and no
    // call in progress that did not answer, waits until `last` has run, up to the deadline; otherwise returns at
    // once, and the thread is joined once it has ended (at the latest when the process unloads the SDK).
    void retire(std::function<void()> last, bool wait) noexcept;

    // What a look at the camera found.
    enum class Presence { Answers, GaveUpTheSession, Silent };
    struct Watch {
        std::function<Presence()> look;      // runs on the channel's thread
        std::chrono::milliseconds period;    // from the end of one look to the next
        std::chrono::milliseconds lostAfter; // silent this long: the camera has ended the session
        std::function<void()> lost;          // called once, on the channel's thread, with no lock held
    };
    // Starts looking at the camera between calls.
    void watch(Watch watch);

    // True while the camera counts as silent: a call did not answer, or a look found no answer, and no look (or,
    // without a watch, no end of that call) has found it answering since.
    [[nodiscard]] bool silent() const noexcept;
    // Waits until the channel's thread has done its last work, up to `timeout`; true once it has. For a channel
    // retired while the camera was not silent: an open of the same camera waits for the earlier session's goodbye.
    [[nodiscard]] bool awaitEnd(std::chrono::milliseconds timeout) const noexcept;

private:
    struct Job;
    struct State;

    // Queues `body` and waits for it up to the deadline; raises as run() describes.
    void await(const char* function, std::function<void()> body);
    static void work(const std::shared_ptr<State>& shared);
    static void look(State& state, std::unique_lock<std::mutex>& lock);

    const bool m_bOwnThread;
    const std::chrono::milliseconds m_deadline;
    std::shared_ptr<State> m_pState; // shared with the channel's thread
    // Started by the constructor (when the channel has a thread); joined or handed to the reaper by retire().
    std::thread m_worker;
};

} // namespace sdk::aravis
