// The rules every producer's delivery threads keep, and the place where threads that could not be joined at once
// are joined later.
//
// A handler call runs the host's code. A thread inside one (of any stream, of any producer) never waits for
// another handler call or for another stream's hand-over: such waits across cameras are how two callbacks that
// stop each other's camera would wait for each other for good. What it cannot wait for is finished by the thread
// it would have waited for, when that one leaves its call.
//
// A delivery thread is joined by whoever ends its stream, except when the stream ends on that very thread (its
// last reference was dropped there): the thread is then handed to the reaper, which joins it once it has returned.
// Joining the reaper's threads is how a host learns that no thread of the SDK runs any more (SystemList::
// AwaitThreadsEnded).
#pragma once

#include "sdk/SdkExport.h"

#include <thread>

namespace sdk::core {

// True on a thread that is inside a new-buffer handler call of any stream. Thread-safe, lock-free.
[[nodiscard]] VXSDK_API bool insideHandlerCall() noexcept;

// Marks the calling thread as inside a handler call for its scope. Nests.
class HandlerCallScope {
public:
    HandlerCallScope() noexcept;
    ~HandlerCallScope();
    HandlerCallScope(const HandlerCallScope&) = delete;
    HandlerCallScope& operator=(const HandlerCallScope&) = delete;
};

// Joins `thread` now when it is another thread and the caller may wait; otherwise hands it to the reaper. A
// caller inside a handler call still joins: the thread it ends is idle or ending (its stream had no hand-over in
// progress, or the stream would still be alive), so the join does not wait for a delivery.
void joinOrReap(std::thread thread) noexcept;

// Every data stream counts itself from its construction to the end of its destruction, so that the threads of
// streams that a hand-over in progress still holds can be waited for. Thread-safe.
void streamMade() noexcept;
void streamGone() noexcept;

// Joins every thread handed to the reaper (those that have not returned yet are waited for), except the calling
// thread itself; with `awaitStreams`, first waits until no stream exists any more (the session was released, and
// hand-overs in progress still hold some). Must not be called from inside a handler call: it answers false there
// and joins nothing.
bool joinReapedThreads(bool awaitStreams) noexcept;

} // namespace sdk::core
