// A GenTL producer library (.cti) loaded into the process, with every function of the transport-layer C
// interface resolved by name.
#pragma once

#include "sdk/gentl/GenTL.h"
#include "sdk/gentl/GentlCall.h"

#include <QLibrary>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>

namespace sdk::gentl {

// Every function a producer exports, in the standard's order.
#define VXCAM_GENTL_FUNCTIONS(X)                                                                                       \
    X(GCGetInfo)                                                                                                       \
    X(GCGetLastError)                                                                                                  \
    X(GCInitLib)                                                                                                       \
    X(GCCloseLib)                                                                                                      \
    X(GCReadPort)                                                                                                      \
    X(GCWritePort)                                                                                                     \
    X(GCGetPortURL)                                                                                                    \
    X(GCGetPortInfo)                                                                                                   \
    X(GCRegisterEvent)                                                                                                 \
    X(GCUnregisterEvent)                                                                                               \
    X(GCGetNumPortURLs)                                                                                                \
    X(GCGetPortURLInfo)                                                                                                \
    X(EventGetData)                                                                                                    \
    X(EventGetDataInfo)                                                                                                \
    X(EventGetInfo)                                                                                                    \
    X(EventFlush)                                                                                                      \
    X(EventKill)                                                                                                       \
    X(TLOpen)                                                                                                          \
    X(TLClose)                                                                                                         \
    X(TLGetInfo)                                                                                                       \
    X(TLGetNumInterfaces)                                                                                              \
    X(TLGetInterfaceID)                                                                                                \
    X(TLGetInterfaceInfo)                                                                                              \
    X(TLOpenInterface)                                                                                                 \
    X(TLUpdateInterfaceList)                                                                                           \
    X(IFClose)                                                                                                         \
    X(IFGetInfo)                                                                                                       \
    X(IFGetNumDevices)                                                                                                 \
    X(IFGetDeviceID)                                                                                                   \
    X(IFUpdateDeviceList)                                                                                              \
    X(IFGetDeviceInfo)                                                                                                 \
    X(IFOpenDevice)                                                                                                    \
    X(IFGetParentTL)                                                                                                   \
    X(DevGetPort)                                                                                                      \
    X(DevGetNumDataStreams)                                                                                            \
    X(DevGetDataStreamID)                                                                                              \
    X(DevOpenDataStream)                                                                                               \
    X(DevGetInfo)                                                                                                      \
    X(DevClose)                                                                                                        \
    X(DevGetParentIF)                                                                                                  \
    X(DSAnnounceBuffer)                                                                                                \
    X(DSAllocAndAnnounceBuffer)                                                                                        \
    X(DSFlushQueue)                                                                                                    \
    X(DSStartAcquisition)                                                                                              \
    X(DSStopAcquisition)                                                                                               \
    X(DSGetInfo)                                                                                                       \
    X(DSGetBufferID)                                                                                                   \
    X(DSClose)                                                                                                         \
    X(DSRevokeBuffer)                                                                                                  \
    X(DSQueueBuffer)                                                                                                   \
    X(DSGetBufferInfo)

// The functions as the producer exports them.
struct RawFunctions {
#define VXCAM_GENTL_MEMBER(name) P##name name = nullptr;
    VXCAM_GENTL_FUNCTIONS(VXCAM_GENTL_MEMBER)
#undef VXCAM_GENTL_MEMBER
};

class GentlLibrary;

// One function of a producer, called through its library's deadline (GentlLibrary::invoke); called like the
// function itself.
template <typename Function>
class GuardedCall;

template <typename... A>
class GuardedCall<GC_ERROR(GC_CALLTYPE*)(A...)> {
public:
    using Raw = GC_ERROR(GC_CALLTYPE*)(A...);
    GuardedCall() = default;
    GuardedCall(const GentlLibrary* library, Raw function, const char* name, bool lastIsTimeout)
        : m_library(library), m_raw(function), m_name(name), m_bLastIsTimeout(lastIsTimeout) {}

    GC_ERROR operator()(A... args) const;

private:
    const GentlLibrary* m_library = nullptr;
    Raw m_raw = nullptr;
    const char* m_name = "";
    bool m_bLastIsTimeout = false; // the call's last argument is its own timeout in milliseconds
};

struct GentlFunctions {
#define VXCAM_GENTL_MEMBER(name) GuardedCall<P##name> name; // NOLINT(bugprone-macro-parentheses): a declaration
    VXCAM_GENTL_FUNCTIONS(VXCAM_GENTL_MEMBER)
#undef VXCAM_GENTL_MEMBER
};

// A loaded producer. The library is initialised (GCInitLib) by load() and closed (GCCloseLib) and unloaded by
// the destructor; what it opened must be closed before.
//
// Calls with a deadline: every call goes to the producer on a thread of its own and is waited for at most the
// deadline (VXCAM_GENTL_CALL_TIMEOUT_MS, 2000 by default, plus the call's own timeout where it has one). A
// producer that does not return in time is marked unusable: its stuck call is abandoned and no call reaches it
// again, each failing at once with GC_ERR_NOT_AVAILABLE and a description saying so. The frame path (the
// delivery threads, which mark themselves with DirectCalls) calls the producer straight, at no cost of ours.
class GentlLibrary {
public:
    // Loads the file at `path` and resolves every function; null, with `error` saying why, when the file cannot
    // be loaded, lacks a function or refuses GCInitLib.
    static std::shared_ptr<GentlLibrary> load(const QString& path, std::string& error);
    ~GentlLibrary();
    GentlLibrary(const GentlLibrary&) = delete;
    GentlLibrary& operator=(const GentlLibrary&) = delete;

    [[nodiscard]] const GentlFunctions& fn() const noexcept { return m_functions; }
    [[nodiscard]] const QString& path() const noexcept { return m_path; }
    // The description of the last failed call this thread made to this producer (the producer's own, from
    // GCGetLastError, or why the call was not made), with its code.
    [[nodiscard]] std::string lastError(GC_ERROR code) const;
    // False once a call did not return within its deadline.
    [[nodiscard]] bool usable() const noexcept { return !m_bStuck.load(); }

    // While one lives, the calls of its thread go straight to the producer, without a deadline.
    class DirectCalls {
    public:
        DirectCalls() noexcept;
        ~DirectCalls();
        DirectCalls(const DirectCalls&) = delete;
        DirectCalls& operator=(const DirectCalls&) = delete;

    private:
        bool m_bBefore;
    };

    // The deadline of a call, without the call's own timeout.
    [[nodiscard]] uint64_t deadlineMs() const noexcept { return m_nDeadlineMs; }
    // Gives the producer up: no call reaches it any more. `why` says what did not return.
    void markStuck(const std::string& why) const;

    // Whether this thread calls producers straight (DirectCalls).
    [[nodiscard]] static bool callsDirectly() noexcept;
    // GC_ERR_NOT_AVAILABLE, with a description saying why, once the producer is unusable; success before.
    [[nodiscard]] GC_ERROR refuseWhenStuck(const char* function) const;

    // Runs `call` (the producer's `function`) as described above. `timeoutMs` is the call's own timeout, added
    // to the deadline (GENTL_INFINITE: no deadline).
    GC_ERROR invoke(const char* function, uint64_t timeoutMs, const std::function<GC_ERROR()>& call,
                    const std::function<void()>& copyBack) const;

private:
    explicit GentlLibrary(const QString& path);
    [[nodiscard]] std::string producersLastError() const; // this thread's, from GCGetLastError

    QString m_path;
    QLibrary m_library;
    RawFunctions m_raw;
    GentlFunctions m_functions;
    bool m_bInitialised = false;
    uint64_t m_nDeadlineMs = 2000;
    mutable std::atomic<bool> m_bStuck{false};
    mutable std::mutex m_stuckMutex;
    mutable std::string m_stuckWhy; // guarded by m_stuckMutex: which call did not return
};

template <typename... A>
GC_ERROR GuardedCall<GC_ERROR(GC_CALLTYPE*)(A...)>::operator()(A... args) const {
    if (GentlLibrary::callsDirectly()) {
        if (const GC_ERROR refused = m_library->refuseWhenStuck(m_name)) {
            return refused;
        }
        return m_raw(args...);
    }
    uint64_t timeout = 0;
    if constexpr (sizeof...(A) > 0) {
        using Last = std::tuple_element_t<sizeof...(A) - 1, std::tuple<A...>>;
        if constexpr (std::is_same_v<Last, uint64_t>) {
            if (m_bLastIsTimeout) {
                timeout = std::get<sizeof...(A) - 1>(std::forward_as_tuple(args...));
            }
        }
    }
    auto shadows = std::make_shared<call::Arguments<A...>>(args...);
    return m_library->invoke(
        m_name, timeout, [shadows, function = m_raw] { return shadows->apply(function); },
        [&shadows] { shadows->copyBack(); });
}

} // namespace sdk::gentl
