#include "sdk/aravis/AravisControl.h"

#include "sdk/SdkExceptions.h"

#include <QLoggingCategory>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace sdk::aravis {

namespace {

Q_LOGGING_CATEGORY(lcControl, "vxcam.aravis")

using Clock = std::chrono::steady_clock;

// Threads of channels retired while their camera was silent: each may be inside a call that Aravis gives up only
// after its own timeouts. Nothing waits for them (a close or delete would wait seconds); they are joined once they
// have ended, by the next retirement, and all of them when the process unloads the SDK, as the background
// release of a lost camera is.
class Reaper {
public:
    using Ended = std::function<bool()>;

    Reaper() = default;
    Reaper(const Reaper&) = delete;
    Reaper& operator=(const Reaper&) = delete;
    ~Reaper() {
        for (auto& entry : m_threads) {
            entry.second.join();
        }
    }

    // Takes `thread` once it has room for it; on an exception the caller still has it.
    void add(std::thread& thread, Ended ended) {
        const std::lock_guard lock(m_mutex);
        for (auto entry = m_threads.begin(); entry != m_threads.end();) {
            if (entry->first()) {
                entry->second.join();
                entry = m_threads.erase(entry);
            } else {
                ++entry;
            }
        }
        m_threads.reserve(m_threads.size() + 1);
        m_threads.emplace_back(std::move(ended), std::move(thread));
    }

private:
    std::mutex m_mutex; // guards m_threads: any host thread retires channels
    std::vector<std::pair<Ended, std::thread>> m_threads;
};

Reaper& reaper() {
    static Reaper threads;
    return threads;
}

} // namespace

struct ControlChannel::Job {
    std::function<void()> body;
    // Guarded by State::mutex.
    bool started = false;
    bool finished = false;
    bool abandoned = false; // its caller gave up waiting
};

struct ControlChannel::State {
    explicit State(std::string name) : serial(std::move(name)) {}

    // Logs `text` about the camera with no lock held: a host's message handler may take its time.
    void say(std::unique_lock<std::mutex>& lock, QtMsgType type, const std::string& text) const {
        lock.unlock();
        const QString line = QString::fromStdString("camera " + serial + text);
        if (type == QtWarningMsg) {
            qCWarning(lcControl()).noquote() << line;
        } else {
            qCInfo(lcControl()).noquote() << line;
        }
        lock.lock();
    }
    void becomeSilent(Clock::time_point since) {
        if (!silent) {
            silent = true;
            silentSince = since;
        }
    }

    const std::string serial;
    // Guards everything below: callers on the host's side (and the stream's delivery thread, when a stream ends
    // there) queue and wait, the channel's thread takes, finishes and looks.
    std::mutex mutex;
    std::condition_variable changed; // a job finished or was queued, the camera answered, the channel was retired
    std::deque<std::shared_ptr<Job>> queue;
    std::shared_ptr<Job> unanswered; // the running job whose caller gave up; null when there is none
    bool silent = false;
    Clock::time_point silentSince;
    std::optional<Watch> watching; // set by watch(); looks stop once the camera is lost
    bool lost = false;
    Clock::time_point nextLook;
    bool retired = false;
    bool ended = false; // the thread has done its last work
};

ControlChannel::ControlChannel(std::string serial, Runs runs, std::chrono::milliseconds deadline)
    : m_bOwnThread(runs == Runs::OnItsOwnThread), m_deadline(deadline),
      m_pState(std::make_shared<State>(std::move(serial))) {
    if (m_bOwnThread) {
        m_worker = std::thread(&ControlChannel::work, m_pState);
    }
}

ControlChannel::~ControlChannel() {
    retire({}, true);
}

void ControlChannel::watch(Watch watch) {
    if (!m_bOwnThread) {
        return;
    }
    const std::lock_guard lock(m_pState->mutex);
    m_pState->nextLook = Clock::now() + watch.period;
    m_pState->watching = std::move(watch);
    m_pState->changed.notify_all();
}

bool ControlChannel::silent() const noexcept {
    const std::lock_guard lock(m_pState->mutex);
    return m_pState->silent;
}

bool ControlChannel::awaitEnd(std::chrono::milliseconds timeout) const noexcept {
    if (!m_bOwnThread) {
        return true;
    }
    std::unique_lock lock(m_pState->mutex);
    return m_pState->changed.wait_for(lock, timeout, [this] { return m_pState->ended; });
}

void ControlChannel::await(const char* function, std::function<void()> body) {
    State& state = *m_pState;
    const Clock::time_point submitted = Clock::now();
    auto job = std::make_shared<Job>();
    job->body = std::move(body);
    std::unique_lock lock(state.mutex);
    if (state.retired) {
        lock.unlock();
        Exceptions::raise("NotAvailableException", function, "camera " + state.serial + " is closed");
    }
    if (state.silent) {
        const auto silentFor =
            std::chrono::duration_cast<std::chrono::milliseconds>(submitted - state.silentSince).count();
        lock.unlock();
        Exceptions::raise("TimeoutException", function,
                          "camera " + state.serial + " has not answered for " + std::to_string(silentFor) +
                              " ms; no call is made until it does");
    }
    state.queue.push_back(job);
    state.changed.notify_all();
    if (state.changed.wait_until(lock, submitted + m_deadline, [&job] { return job->finished; })) {
        return;
    }
    job->abandoned = true;
    if (job->started) {
        state.unanswered = job;
    }
    state.becomeSilent(submitted);
    const std::string what = " did not answer within " + std::to_string(m_deadline.count()) + " ms (" + function + ")";
    state.say(lock, QtWarningMsg, what + "; its calls fail at once until it answers");
    lock.unlock();
    Exceptions::raise("TimeoutException", function, "camera " + state.serial + what);
}

void ControlChannel::work(const std::shared_ptr<State>& shared) {
    State& state = *shared;
    std::unique_lock lock(state.mutex);
    for (;;) {
        const auto due = [&state] {
            return state.retired || !state.queue.empty() ||
                   (state.watching.has_value() && !state.lost && Clock::now() >= state.nextLook);
        };
        if (state.watching.has_value() && !state.lost) {
            state.changed.wait_until(lock, state.nextLook, due);
        } else {
            state.changed.wait(lock, due);
        }
        if (state.queue.empty()) {
            if (state.retired) {
                break;
            }
            if (state.watching.has_value() && !state.lost && Clock::now() >= state.nextLook) {
                look(state, lock);
            }
            continue;
        }
        std::shared_ptr<Job> job = std::move(state.queue.front());
        state.queue.pop_front();
        if (job->abandoned) {
            continue; // never started: its caller was told it failed, so it must not take effect later
        }
        job->started = true;
        lock.unlock();
        job->body(); // a packaged task: what it raises goes to its caller
        job->body = nullptr;
        lock.lock();
        job->finished = true;
        if (state.unanswered == job) {
            state.unanswered = nullptr;
            state.nextLook = Clock::now(); // does the camera answer now?
            if (!state.watching.has_value() || state.retired) {
                state.silent = false; // no look will tell: the next call (or the goodbye) tries it
            }
            state.say(lock, QtInfoMsg, ": the call that had not answered has ended");
        }
        state.changed.notify_all();
    }
    state.ended = true;
    state.changed.notify_all();
}

// Called on the channel's thread, with the lock held, when a look is due.
void ControlChannel::look(State& state, std::unique_lock<std::mutex>& lock) {
    const Watch& watch = *state.watching; // set once; never reset while the thread runs
    const Clock::time_point began = Clock::now();
    lock.unlock();
    const Presence presence = watch.look();
    lock.lock();
    // A silent camera is looked at again at once: a look that finds no answer has already waited seconds.
    state.nextLook = Clock::now() + (presence == Presence::Silent ? std::chrono::milliseconds(0) : watch.period);
    if (presence == Presence::Answers) {
        if (state.silent) {
            state.silent = false;
            state.changed.notify_all();
            state.say(lock, QtInfoMsg, " answers again");
        }
        return;
    }
    if (presence == Presence::Silent) {
        state.becomeSilent(began);
        if (Clock::now() - state.silentSince < watch.lostAfter) {
            return;
        }
    }
    state.becomeSilent(began);
    state.lost = true;
    lock.unlock();
    watch.lost();
    lock.lock();
}

void ControlChannel::retire(std::function<void()> last, bool wait) noexcept {
    if (!m_bOwnThread) {
        if (last) {
            last();
        }
        return;
    }
    State& state = *m_pState;
    std::unique_lock lock(state.mutex);
    if (state.retired) {
        return;
    }
    state.retired = true;
    if (last) {
        auto job = std::make_shared<Job>();
        job->body = std::move(last);
        state.queue.push_back(std::move(job));
    }
    state.changed.notify_all();
    // The channel's own thread may end the channel (a call dropping what held it last): it cannot wait for itself.
    wait = wait && m_worker.get_id() != std::this_thread::get_id();
    const bool joinNow =
        wait && !state.silent && state.changed.wait_for(lock, m_deadline, [&state] { return state.ended; });
    lock.unlock();
    if (joinNow) {
        m_worker.join();
        return;
    }
    try {
        reaper().add(m_worker, [shared = m_pState] {
            const std::lock_guard ended(shared->mutex);
            return shared->ended;
        });
    } catch (...) {
        m_worker.detach(); // no memory to keep it: it ends on its own
    }
}

} // namespace sdk::aravis
