#include "sdk/gentl/GentlFunctions.h"

#include "sdk/gentl/GentlError.h"

#include <QLoggingCategory>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace sdk::gentl {
namespace {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Producer libraries in the process: the call threads end when the last one goes.
std::atomic<int> s_liveLibraries{0};

// This thread's calls go straight to the producers (a delivery thread's).
thread_local bool t_direct = false;

// The description of the last call this thread made through a deadline, read on the call's own thread (a
// producer's last error is per thread), or why the call was not made.
struct CapturedError {
    const GentlLibrary* library = nullptr;
    std::string text;
};
thread_local CapturedError t_captured;

// Calls whose last argument is their own timeout in milliseconds.
bool lastIsTimeout(const char* function) {
    return std::strcmp(function, "TLUpdateInterfaceList") == 0 || std::strcmp(function, "IFUpdateDeviceList") == 0 ||
           std::strcmp(function, "EventGetData") == 0;
}

uint64_t deadlineFromEnvironment() {
    bool ok = false;
    const qulonglong ms = qEnvironmentVariable("VXCAM_GENTL_CALL_TIMEOUT_MS").toULongLong(&ok);
    return ok && ms > 0 ? ms : 2000;
}

// The producer's description of this thread's last error; "" when it gives none.
std::string describeLastError(PGCGetLastError getLastError) {
    if (getLastError == nullptr) {
        return {};
    }
    GC_ERROR lastCode = GC_ERR_SUCCESS;
    std::array<char, 1024> description{};
    size_t size = description.size();
    if (getLastError(&lastCode, description.data(), &size) != GC_ERR_SUCCESS) {
        return {};
    }
    // A description that does not end within its size is cut at the room given: it is said, not parsed.
    description.back() = '\0';
    return description.data();
}

// The threads that make the calls of the host's side: an idle one takes the next call, a new one starts when
// none is idle. A thread stuck in a producer is never idle again and is left to it. Process-wide; at the
// process's end the idle threads are ended and joined (a thread that holds a producer's thread-local data must
// not outlive the process's last checks), the others are let go.
class CallThreads {
public:
    static CallThreads& instance() {
        static CallThreads threads;
        return threads;
    }

    CallThreads() = default;
    CallThreads(const CallThreads&) = delete;
    CallThreads& operator=(const CallThreads&) = delete;

    // True once the set has ended (the process's static objects are going): calls are then made on the
    // caller's thread.
    [[nodiscard]] static bool ended() noexcept { return s_ended.load(); }

    ~CallThreads() {
        s_ended.store(true);
        {
            const std::lock_guard lock(m_pShared->mutex);
            m_pShared->closing = true;
            for (auto& worker : m_pShared->busy) {
                worker->thread.detach(); // stuck in a producer, or about to see `closing` and end
            }
            m_pShared->busy.clear();
        }
        endIdle();
    }

    // Ends and joins the idle threads: no thread of the SDK layer runs once the last producer is gone (a stuck
    // one excepted). Not on a call thread.
    void endIdle() {
        std::vector<std::shared_ptr<Worker>> idle;
        {
            const std::lock_guard lock(m_pShared->mutex);
            idle.swap(m_pShared->idle);
        }
        for (auto& worker : idle) {
            {
                const std::lock_guard lock(worker->mutex);
                worker->quit = true;
            }
            worker->wake.notify_one();
            worker->thread.join();
        }
    }

    // A job: the call, which gives the step that tells its waiting caller. The step runs once the thread is
    // idle again, so that a caller told of its call's end never finds the thread still busy.
    using Job = std::function<std::function<void()>()>;

    // Runs `job` on an idle thread or a new one; raises std::system_error when no thread can be started.
    void run(Job job) {
        std::shared_ptr<Worker> worker;
        bool started = false;
        {
            const std::lock_guard lock(m_pShared->mutex);
            if (!m_pShared->idle.empty()) {
                worker = std::move(m_pShared->idle.back());
                m_pShared->idle.pop_back();
            } else {
                worker = std::make_shared<Worker>();
                worker->job = std::move(job);
                worker->thread = std::thread(&CallThreads::serve, m_pShared, worker);
                started = true;
            }
            m_pShared->busy.push_back(worker);
        }
        if (started) {
            return; // the new thread has its job
        }
        {
            const std::lock_guard lock(worker->mutex);
            worker->job = std::move(job);
        }
        worker->wake.notify_one();
    }

private:
    struct Worker {
        std::thread thread;           // joined at the end when idle, else let go
        std::mutex mutex;             //
        std::condition_variable wake; // a job was given, or the end came
        Job job;                      // guarded by mutex; empty while idle
        bool quit = false;            // guarded by mutex
    };
    // What the threads share with the set; they keep it alive, since a stuck one may come back after the end.
    struct Shared {
        std::mutex mutex;                          // guards the members below
        std::vector<std::shared_ptr<Worker>> idle; // waiting for a job
        std::vector<std::shared_ptr<Worker>> busy; // running one
        bool closing = false;                      // the process ends: no thread is offered again
    };

    static void serve(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Worker>& worker) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(worker->mutex);
                worker->wake.wait(lock, [&] { return static_cast<bool>(worker->job) || worker->quit; });
                if (worker->quit) {
                    return;
                }
                job = std::move(worker->job);
                worker->job = nullptr;
            }
            std::function<void()> tell = job();
            job = nullptr; // what the job holds goes before the thread is offered again
            bool closing = false;
            {
                const std::lock_guard lock(shared->mutex);
                closing = shared->closing;
                if (!closing) {
                    auto& busy = shared->busy;
                    busy.erase(std::remove(busy.begin(), busy.end(), worker), busy.end());
                    shared->idle.push_back(worker);
                }
            }
            tell();
            if (closing) {
                return; // let go by the set's end
            }
        }
    }

    static inline std::atomic<bool> s_ended{false};
    const std::shared_ptr<Shared> m_pShared = std::make_shared<Shared>();
};

} // namespace

GentlLibrary::DirectCalls::DirectCalls() noexcept : m_bBefore(t_direct) {
    t_direct = true;
}

GentlLibrary::DirectCalls::~DirectCalls() {
    t_direct = m_bBefore;
}

bool GentlLibrary::callsDirectly() noexcept {
    return t_direct;
}

GentlLibrary::GentlLibrary(const QString& path)
    : m_path(path), m_library(path), m_nDeadlineMs(deadlineFromEnvironment()) {
    s_liveLibraries.fetch_add(1);
}

std::shared_ptr<GentlLibrary> GentlLibrary::load(const QString& path, std::string& error) {
    std::unique_ptr<GentlLibrary> library(new GentlLibrary(path)); // NOLINT: private constructor
    // Symbols of a producer stay its own: two producers may carry the same helper libraries. The sanitizers'
    // runtimes cannot take a library bound so, and load it plainly.
    if (!kSanitized) {
        library->m_library.setLoadHints(QLibrary::DeepBindHint);
    }
    if (!library->m_library.load()) {
        error = library->m_library.errorString().toStdString();
        return nullptr;
    }
    RawFunctions& raw = library->m_raw;
    GentlFunctions& f = library->m_functions;
    std::vector<const char*> missing;
#define VXCAM_GENTL_RESOLVE(name)                                                                                      \
    raw.name = reinterpret_cast<P##name>(library->m_library.resolve(#name)); /* NOLINT: the standard's signature */    \
    if (raw.name == nullptr) {                                                                                         \
        missing.push_back(#name);                                                                                      \
    }                                                                                                                  \
    f.name = GuardedCall<P##name>(library.get(), raw.name, #name, lastIsTimeout(#name));
    VXCAM_GENTL_FUNCTIONS(VXCAM_GENTL_RESOLVE)
#undef VXCAM_GENTL_RESOLVE
    if (!missing.empty()) {
        error = "it lacks the GenTL function";
        for (const char* name : missing) {
            error += std::string(" ") + name;
        }
        return nullptr;
    }
    const GC_ERROR result = f.GCInitLib();
    if (result != GC_ERR_SUCCESS) {
        error = "GCInitLib failed: " + library->lastError(result);
        return nullptr;
    }
    library->m_bInitialised = true;
    return library;
}

GentlLibrary::~GentlLibrary() {
    if (m_bInitialised && usable()) {
        static_cast<void>(m_functions.GCCloseLib());
    }
    if (s_liveLibraries.fetch_sub(1) == 1 && !CallThreads::ended()) {
        CallThreads::instance().endIdle(); // the call threads end with the last producer
    }
    // The library stays mapped: a producer may have threads of its own still ending (or a call of ours stuck
    // in it), and unloading code under them would crash the host. QLibrary unloads only on an explicit unload().
}

std::string GentlLibrary::producersLastError() const {
    return describeLastError(m_raw.GCGetLastError);
}

std::string GentlLibrary::lastError(GC_ERROR code) const {
    std::string text = "error " + std::to_string(code);
    const std::string description = t_captured.library == this ? t_captured.text : producersLastError();
    if (!description.empty()) {
        text += ": " + description;
    }
    return text;
}

GC_ERROR GentlLibrary::refuseWhenStuck(const char* function) const {
    if (usable()) {
        return GC_ERR_SUCCESS;
    }
    const std::lock_guard lock(m_stuckMutex);
    t_captured = {this, "GenTL producer " + m_path.toStdString() + " is no longer called (" + m_stuckWhy +
                            "), so neither is " + function};
    return GC_ERR_NOT_AVAILABLE;
}

void GentlLibrary::markStuck(const std::string& why) const {
    {
        const std::lock_guard lock(m_stuckMutex);
        if (m_bStuck.load()) {
            return;
        }
        m_stuckWhy = why;
        m_bStuck.store(true);
    }
    qCWarning(lcGentl()).noquote() << "GenTL producer" << m_path << "-" << QString::fromStdString(why)
                                   << "; it is no longer called, and its cameras are unusable until the process "
                                      "restarts";
}

GC_ERROR GentlLibrary::invoke(const char* function, uint64_t timeoutMs, const std::function<GC_ERROR()>& call,
                              const std::function<void()>& copyBack) const {
    if (const GC_ERROR refused = refuseWhenStuck(function)) {
        return refused;
    }
    // Shared with the call's thread, which may outlive this wait.
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        bool returned = false;          // guarded by mutex
        GC_ERROR code = GC_ERR_SUCCESS; // guarded by mutex
        std::string error;              // guarded by mutex
    };
    if (CallThreads::ended()) {
        const GC_ERROR code = call();
        t_captured = {this, code != GC_ERR_SUCCESS ? describeLastError(m_raw.GCGetLastError) : std::string()};
        copyBack();
        return code;
    }
    auto outcome = std::make_shared<Outcome>();
    try {
        CallThreads::instance().run([outcome, call, getLastError = m_raw.GCGetLastError]() -> std::function<void()> {
            const GC_ERROR code = call();
            std::string error = code != GC_ERR_SUCCESS ? describeLastError(getLastError) : std::string();
            return [outcome, code, error = std::move(error)]() mutable {
                {
                    const std::lock_guard lock(outcome->mutex);
                    outcome->code = code;
                    outcome->error = std::move(error);
                    outcome->returned = true;
                }
                outcome->done.notify_all();
            };
        });
    } catch (const std::system_error&) {
        t_captured = {this, std::string("no thread could be started for ") + function};
        return GC_ERR_RESOURCE_EXHAUSTED;
    }
    std::unique_lock lock(outcome->mutex);
    const auto returned = [&] { return outcome->returned; };
    if (timeoutMs == GENTL_INFINITE) {
        outcome->done.wait(lock, returned);
    } else {
        constexpr uint64_t kLongestOwnTimeout = uint64_t{24} * 3600 * 1000;
        const auto deadline = std::chrono::milliseconds(m_nDeadlineMs + std::min(timeoutMs, kLongestOwnTimeout));
        if (!outcome->done.wait_for(lock, deadline, returned)) {
            const std::string why =
                std::string(function) + " did not return within " + std::to_string(deadline.count()) + " ms";
            lock.unlock();
            markStuck(why);
            t_captured = {this, why};
            return GC_ERR_TIMEOUT;
        }
    }
    copyBack(); // also on failure: a producer reports the size it needs with GC_ERR_BUFFER_TOO_SMALL
    t_captured = {this, outcome->error};
    return outcome->code;
}

} // namespace sdk::gentl
