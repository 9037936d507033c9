// The module leaves thread scheduling to the host. The thread that runs OnImageReady has normal scheduling when the
// host's own threads do: a frame reaches the host as soon as a processor is free, not when a running thread's
// time slice ends. A thread the host starts from its callback inherits nothing the host did not choose, and no
// call of the module changes the policy or the nice value of the host's thread that makes it.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/TransportFixture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <ostream>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;

// A thread's policy as the kernel reports it (flags such as reset-on-fork included) and its nice value.
struct Scheduling {
    int policy = -1;
    int nice = 0;
    friend bool operator==(const Scheduling& a, const Scheduling& b) {
        return a.policy == b.policy && a.nice == b.nice;
    }
    friend std::ostream& operator<<(std::ostream& out, const Scheduling& s) {
        const char* name = s.policy == SCHED_OTHER   ? "normal"
                           : s.policy == SCHED_BATCH ? "batch"
                           : s.policy == SCHED_IDLE  ? "idle"
                                                     : "other policy";
        return out << name << " (" << s.policy << "), nice " << s.nice;
    }
};

pid_t threadId() {
    return static_cast<pid_t>(syscall(SYS_gettid));
}

Scheduling schedulingOfThisThread() {
    Scheduling s;
    s.policy = sched_getscheduler(0); // 0: the calling thread
    errno = 0;
    s.nice = getpriority(PRIO_PROCESS, static_cast<id_t>(threadId()));
    return s;
}

// Gives the calling thread `wanted`; false where the system refused.
bool scheduleThisThread(const Scheduling& wanted) {
    const sched_param none{};
    return sched_setscheduler(0, wanted.policy, &none) == 0 &&
           setpriority(PRIO_PROCESS, static_cast<id_t>(threadId()), wanted.nice) == 0;
}

// A simulated camera that streams fast enough for short tests; the virtual one is Aravis's own.
QString fastCamera() {
    return simConfig({simDevice(QStringLiteral("S1"), QStringLiteral(R"("pixelFormat": "Mono8", "frameRate": 50)"))});
}

std::string testName(int32_t triggerMode) {
    return triggerMode == FreeRun ? "FreeRun" : "SoftTrigger";
}

// The scheduling seen inside the first callbacks, and in a thread that the host starts from its first one.
class CallbackScheduling : public OnTransportWith<int32_t> {
protected:
    struct Seen {
        std::vector<Scheduling> callbacks;
        Scheduling hostThreadStartedThere;
    };

    Seen deliverTwoFrames() {
        camera(fastCamera(), cameraId(QStringLiteral("S1")));
        EXPECT_EQ(m_camera->IOpenCamera(), 1);
        std::mutex mutex; // guards `seen`: written on the delivery thread, read here after the waits
        Seen seen;
        m_frames.setAction([&](ICameraObject&, const RecordedFrame&) {
            const Scheduling inCallback = schedulingOfThisThread();
            const std::lock_guard lock(mutex);
            if (seen.callbacks.empty()) {
                std::thread([&seen] { seen.hostThreadStartedThere = schedulingOfThisThread(); }).join();
            }
            seen.callbacks.push_back(inCallback);
        });
        m_camera->m_nTriggerMode = testCase();
        EXPECT_EQ(m_camera->IStartCamera(), 1);
        for (std::size_t frame = 1; frame <= 2; ++frame) {
            if (testCase() == SoftTrigger) {
                EXPECT_EQ(asVeyraCamera(m_camera.get())->ISendSoftTrigger(), 1);
            }
            EXPECT_TRUE(m_frames.waitForFrames(frame)) << "frame " << frame;
        }
        m_camera->IStopCamera();
        m_camera->ICloseCamera();
        m_frames.setAction(nullptr); // no callback runs after the close
        const std::lock_guard lock(mutex);
        return seen;
    }
};

TEST_P(CallbackScheduling, CallbackAndTheThreadsItStartsRunUnderNormalScheduling) {
    const Scheduling host = schedulingOfThisThread();
    ASSERT_EQ(host.policy, SCHED_OTHER) << "the test runs on a thread of normal scheduling";
    const Seen seen = deliverTwoFrames();
    ASSERT_GE(seen.callbacks.size(), 2U); // a free run may deliver one more before the stop
    for (const Scheduling& callback : seen.callbacks) {
        EXPECT_EQ(callback, host) << "the thread that runs OnImageReady";
    }
    EXPECT_EQ(seen.hostThreadStartedThere, host) << "a thread that the host starts inside OnImageReady";
}

INSTANTIATE_TEST_SUITE_P(Producers, CallbackScheduling,
                         ::testing::Combine(::testing::ValuesIn(allTransports()),
                                            ::testing::Values(FreeRun, SoftTrigger)),
                         transportAnd([](int32_t mode, std::size_t) { return testName(mode); }));

// A host thread of each kind makes every call of a software-triggered grab; after each one it still has the
// scheduling it chose.
struct HostThreadCase {
    const char* name;
    Scheduling scheduling;
    friend std::ostream& operator<<(std::ostream& out, const HostThreadCase& c) { return out << c.scheduling; }
};

class HostThreadScheduling : public OnTransportWith<HostThreadCase> {};

TEST_P(HostThreadScheduling, ModulesCallsLeaveTheHostThreadsSchedulingAlone) {
    const Scheduling wanted = testCase().scheduling;
    camera(fastCamera(), cameraId(QStringLiteral("S1")));
    ICameraObject& cam = *m_camera;
    auto* veyra = asVeyraCamera(&cam);
    // "call: what the thread had afterwards" for every call after which the thread's scheduling differed.
    auto changes = std::async(std::launch::async, [&]() -> std::vector<std::string> {
        if (!scheduleThisThread(wanted)) {
            return {"the system refused the host thread's own scheduling"};
        }
        std::vector<std::string> found;
        const auto check = [&](const char* call, const std::function<bool()>& make) {
            if (!make()) {
                found.push_back(std::string(call) + " failed");
            }
            if (const Scheduling now = schedulingOfThisThread(); !(now == wanted)) {
                std::ostringstream text;
                text << call << ": " << now;
                found.push_back(text.str());
            }
        };
        check("IEnumAvailableCameras", [&] { return !cam.IEnumAvailableCameras().isEmpty(); });
        check("IOpenCamera", [&] { return cam.IOpenCamera() == 1; });
        check("InitProperty", [&] {
            cam.InitProperty();
            return true;
        });
        cam.m_nTriggerMode = SoftTrigger;
        check("IStartCamera", [&] { return cam.IStartCamera() == 1; });
        check("ISendSoftTrigger", [&] { return veyra->ISendSoftTrigger() == 1; });
        check("the frame", [&] { return m_frames.waitForFrames(1); });
        check("IStopCamera", [&] {
            cam.IStopCamera();
            return true;
        });
        check("ICloseCamera", [&] {
            cam.ICloseCamera();
            return !cam.m_bOpened;
        });
        return found;
    });
    ASSERT_EQ(changes.wait_for(30s), std::future_status::ready) << "the host thread's grab hangs";
    const std::vector<std::string> found = changes.get();
    EXPECT_TRUE(found.empty()) << "host thread with " << wanted << ":\n" << ::testing::PrintToString(found);
}

INSTANTIATE_TEST_SUITE_P(Producers, HostThreadScheduling,
                         ::testing::Combine(::testing::ValuesIn(allTransports()),
                                            ::testing::Values(HostThreadCase{"Normal", {SCHED_OTHER, 0}},
                                                              HostThreadCase{"NormalNice5", {SCHED_OTHER, 5}},
                                                              HostThreadCase{"Batch", {SCHED_BATCH, 0}})),
                         transportAnd([](const HostThreadCase& c, std::size_t) { return std::string(c.name); }));

} // namespace
} // namespace vxcam::test
