// Stopping, closing and deleting from inside callbacks, across objects and producers. Hosts stop a whole rig from
// inside one camera's OnImageReady ("enough frames"), restart right after a stop made there, and delete objects
// whose streams failed to close; none of that may hang the host or touch freed memory. Each case runs with the
// cameras on the simulated producer and with one of them on Aravis's virtual camera, whose stream and delivery
// thread end with the device.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SdkInspection.h"
#include "tests/support/SimConfigText.h"
#include "tests/support/SimEnvironment.h"
#include "tests/support/TransportFixture.h"

#include <QDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;

// A callback that runs a host action inside OnImageReady, once or on every frame, and counts frames.
class ActingCallback final : public ICameraCallback {
public:
    using Action = std::function<void(ICameraObject&)>;

    void setAction(Action action) {
        const std::lock_guard lock(m_mutex);
        m_action = std::move(action);
    }
    void OnImageReady(ICameraObject* camera) override {
        Action action;
        {
            const std::lock_guard lock(m_mutex);
            ++m_nFrames;
            action = m_action;
        }
        m_arrived.notify_all();
        if (action) {
            action(*camera);
        }
    }
    [[nodiscard]] bool waitForFrames(int count, std::chrono::milliseconds timeout = 10s) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, timeout, [&] { return m_nFrames >= count; });
    }
    [[nodiscard]] int frames() const {
        const std::lock_guard lock(m_mutex);
        return m_nFrames;
    }

private:
    // Guards the members below: frames arrive on delivery threads while the test reads and sets them.
    mutable std::mutex m_mutex;
    std::condition_variable m_arrived;
    Action m_action;
    int m_nFrames = 0;
};

// Two cameras: A on the pair's first transport, B always simulated. On "virtual", A is Aravis's virtual camera.
struct Pair {
    const char* name;
    bool virtualA;
    const char* transports; // VXCAM_TRANSPORTS
};
constexpr Pair kBothSimulated{"sim_sim", false, "sim"};
constexpr Pair kVirtualAndSimulated{"virtual_sim", true, "sim,virtual"};
// Both simulated cameras through the GenTL transport over vxcam-sim.cti.
constexpr Pair kBothGentl{"gentl_gentl", false, "gentl"};

std::string pairName(const ::testing::TestParamInfo<Pair>& info) {
    return info.param.name;
}

// A one-time signal between a callback and the test, shared by both: a callback may still be returning from it
// when the test goes on, so neither side owns it alone.
struct Signal {
    std::promise<void> promise;
    std::shared_future<void> future = promise.get_future().share();
    std::atomic<bool> given{false};
    void give() {
        if (!given.exchange(true)) {
            promise.set_value();
        }
    }
    [[nodiscard]] bool awaited(std::chrono::milliseconds limit) const {
        return future.wait_for(limit) == std::future_status::ready;
    }
};
using SharedSignal = std::shared_ptr<Signal>;
[[nodiscard]] SharedSignal makeSignal() {
    return std::make_shared<Signal>();
}

// A hang in the module leaves its threads waiting for good: the test ends the process with the failure rather
// than hang the run (the teardown would wait for them too).
void requireWithin(const Signal& signal, std::chrono::seconds limit, const std::string& what) {
    if (!signal.awaited(limit)) {
        ADD_FAILURE() << what;
        std::fflush(stdout);
        std::_Exit(1);
    }
}

class TeardownTest : public ::testing::TestWithParam<Pair> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_module.loaded()) << m_module.errorString().toStdString();
        const QString cameras = QStringList{simDevice(QStringLiteral("A1"), QStringLiteral(R"("frameRate": 200)")),
                                            simDevice(QStringLiteral("B1"), QStringLiteral(R"("frameRate": 200)"))}
                                    .join(QStringLiteral(", "));
        m_sim = std::make_unique<SimEnvironment>(simConfig({cameras}, m_faults));
        qputenv("VXCAM_TRANSPORTS", GetParam().transports);
        m_configA.cameraId = GetParam().virtualA ? QStringLiteral("veyra 1") : QStringLiteral("veyra A1");
        m_configB.cameraId = QStringLiteral("veyra B1");
        m_a = m_module.makeCamera(&m_configA, &m_callbackA);
        m_b = m_module.makeCamera(&m_configB, &m_callbackB);
    }
    void TearDown() override {
        m_a.reset();
        m_b.reset();
        m_sim.reset();
    }
    void openAndStartBoth() {
        for (ICameraObject* camera : {m_a.get(), m_b.get()}) {
            ASSERT_EQ(camera->IOpenCamera(), 1);
            camera->m_nTriggerMode = FreeRun;
            ASSERT_EQ(camera->IStartCamera(), 1);
        }
        ASSERT_TRUE(m_callbackA.waitForFrames(1));
        ASSERT_TRUE(m_callbackB.waitForFrames(1));
    }

    ModuleLoader m_module;
    QString m_faults;
    std::unique_ptr<SimEnvironment> m_sim;
    CameraConfig m_configA;
    CameraConfig m_configB;
    ActingCallback m_callbackA;
    ActingCallback m_callbackB;
    ModuleLoader::Camera m_a{nullptr, {nullptr}};
    ModuleLoader::Camera m_b{nullptr, {nullptr}};
};

// "Enough frames, stop every camera", from inside each camera's own callback at the same moment: each callback
// stops the other camera while that one is delivering and about to stop this one. No stop may wait for the
// other's delivery, and no frame may reach a callback once the stops have returned on both sides.
TEST_P(TeardownTest, TwoCallbacksThatStopTheWholeRigNeverHang) {
    openAndStartBoth();
    for (int round = 0; round < 20; ++round) {
        // Both callbacks meet before stopping, so that each stop comes while the other camera delivers.
        const SharedSignal aInside = makeSignal();
        const SharedSignal bInside = makeSignal();
        const SharedSignal aStopped = makeSignal();
        const SharedSignal bStopped = makeSignal();
        ICameraObject* a = m_a.get();
        ICameraObject* b = m_b.get();
        // Each callback says it is inside, waits for the other to be inside too, then stops the other camera
        // and its own.
        const auto stopTheRig = [](SharedSignal mine, SharedSignal theirs, SharedSignal stopped, ICameraObject* other) {
            return [mine, theirs, stopped, other](ICameraObject& self) {
                if (mine->given.load()) {
                    return;
                }
                mine->give();
                static_cast<void>(theirs->awaited(2s));
                other->IStopCamera();
                self.IStopCamera();
                stopped->give();
            };
        };
        m_callbackA.setAction(stopTheRig(aInside, bInside, aStopped, b));
        m_callbackB.setAction(stopTheRig(bInside, aInside, bStopped, a));
        const std::string where = "round " + std::to_string(round) + ": the callbacks that stop each other hang";
        requireWithin(*aStopped, 20s, where);
        requireWithin(*bStopped, 20s, where);
        m_callbackA.setAction({});
        m_callbackB.setAction({});
        EXPECT_FALSE(m_a->m_bRunning);
        EXPECT_FALSE(m_b->m_bRunning);
        // Both are stopped: a start in another mode and back makes them deliver again for the next round.
        for (ICameraObject* camera : {m_a.get(), m_b.get()}) {
            camera->m_nTriggerMode = FreeRun;
            ASSERT_EQ(camera->IStartCamera(), 1) << "round " << round;
        }
        const int framesA = m_callbackA.frames();
        const int framesB = m_callbackB.frames();
        ASSERT_TRUE(m_callbackA.waitForFrames(framesA + 1)) << "round " << round;
        ASSERT_TRUE(m_callbackB.waitForFrames(framesB + 1)) << "round " << round;
    }
}

// The same rig closed and deleted from inside the other camera's callback: B is deleted from A's callback
// while B delivers, then A closes itself there. Nothing waits, and nothing of B is touched after its memory went.
TEST_P(TeardownTest, ACallbackClosesAndDeletesAnotherCameraThatIsDelivering) {
    openAndStartBoth();
    const SharedSignal bInside = makeSignal();
    const SharedSignal bReleased = makeSignal();
    const SharedSignal done = makeSignal();
    m_callbackB.setAction([bInside, bReleased](ICameraObject&) {
        if (bInside->given.exchange(true)) {
            return;
        }
        bInside->promise.set_value();
        // Still delivering while A's callback closes and deletes this camera: a deletion that waited for this
        // delivery would wait for good.
        static_cast<void>(bReleased->awaited(60s));
    });
    ICameraObject* b = m_b.release();
    const CameraDeleteFunction destroy = m_module.destroy();
    m_callbackA.setAction([bInside, bReleased, done, b, destroy](ICameraObject& self) {
        if (done->given.load() || !bInside->awaited(2s)) {
            return;
        }
        b->IStopCamera();
        b->ICloseCamera();
        destroy(b);
        bReleased->give();
        self.IStopCamera();
        self.ICloseCamera();
        done->give();
    });
    requireWithin(*done, 15s, "closing and deleting another camera from a callback hangs");
    EXPECT_FALSE(m_a->m_bOpened);
}

// A stop made inside OnImageReady, then a start from the host's thread at once, many times: the start must
// neither wait for the delivery thread that the stop left to end nor lose it.
TEST_P(TeardownTest, AStartRightAfterAStopMadeInsideTheCallbackNeverHangs) {
    openAndStartBoth();
    ICameraObject& cam = *m_a;
    for (int round = 0; round < 40; ++round) {
        const SharedSignal stopped = makeSignal();
        m_callbackA.setAction([stopped](ICameraObject& self) {
            if (!stopped->given.load()) {
                self.IStopCamera();
                stopped->give();
            }
        });
        requireWithin(*stopped, 10s, "round " + std::to_string(round) + ": no frame came to stop from");
        m_callbackA.setAction({});
        const int before = m_callbackA.frames();
        const SharedSignal started = makeSignal();
        std::thread([&cam, started] {
            EXPECT_EQ(cam.IStartCamera(), 1);
            started->give();
        }).detach();
        requireWithin(*started, 10s,
                      "round " + std::to_string(round) + ": the start after a stop inside the callback hangs");
        ASSERT_TRUE(m_callbackA.waitForFrames(before + 1)) << "round " << round << ": no frame after the start";
    }
}

// Threads of this process, as the system counts them.
[[nodiscard]] std::size_t processThreads() {
    return static_cast<std::size_t>(
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The last object deleted from inside its own callback (the other one was deleted while running): once the host
// has asked with Camera_Delete(nullptr) from a thread of its own, no thread of the module runs any more, so that
// the host may unload it. Aravis keeps no thread of its own for the virtual camera beyond those of the session.
TEST_P(TeardownTest, NoThreadOfTheModuleRunsOnceTheLastObjectIsGone) {
    // A thread started and joined first, so that a sanitizer's own helper thread (started with the process's
    // first thread) is already counted.
    std::thread([] {}).join();
    const std::size_t before = processThreads();
    openAndStartBoth();
    m_b.reset(); // deleted from the host's thread, while running
    const SharedSignal deleted = makeSignal();
    static_cast<void>(m_a.release()); // deleted by its own callback
    const CameraDeleteFunction destroy = m_module.destroy();
    m_callbackA.setAction([deleted, destroy](ICameraObject& self) {
        if (!deleted->given.load()) {
            destroy(&self); // the last object, from inside its own callback
            deleted->give();
        }
    });
    requireWithin(*deleted, 10s, "no frame came to delete from");
    destroy(nullptr); // waits for the module's threads
    // The GenTL transport's call threads live while a producer is loaded (they were counted before) and end
    // with the last one, as Aravis's do with the session.
    if (GetParam().virtualA || std::string_view(GetParam().transports) == "gentl") {
        EXPECT_LE(processThreads(), before) << "threads of the module still run";
    } else {
        EXPECT_EQ(processThreads(), before) << "threads of the module still run";
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, TeardownTest, ::testing::Values(kBothSimulated, kVirtualAndSimulated, kBothGentl),
                         pairName);

// A stream whose close fails: the device's close ends it all the same, and the driver forgets it then, so that
// deleting the object afterwards touches nothing of the stream.
class FailedStreamCloseTest : public TeardownTest {
protected:
    void SetUp() override {
        m_faults = QStringLiteral(R"({ "call": "DataStream::Close" })");
        TeardownTest::SetUp();
    }
};

TEST_P(FailedStreamCloseTest, DeletingAfterAFailedStreamCloseTouchesNoFreedStream) {
    openAndStartBoth();
    m_a->IStopCamera();
    m_a->ICloseCamera();
    EXPECT_FALSE(m_a->m_bOpened);
    m_a.reset(); // Camera_Delete: nothing of the ended stream may be touched (the sanitizer build checks)
    // The camera can be opened again by a new object, with a new stream that delivers.
    CameraConfig config;
    config.cameraId = m_configA.cameraId;
    ActingCallback callback;
    ModuleLoader::Camera again = m_module.makeCamera(&config, &callback);
    ASSERT_EQ(again->IOpenCamera(), 1);
    again->m_nTriggerMode = FreeRun;
    ASSERT_EQ(again->IStartCamera(), 1);
    EXPECT_TRUE(callback.waitForFrames(2));
    again->IStopCamera();
}

INSTANTIATE_TEST_SUITE_P(Pairs, FailedStreamCloseTest,
                         ::testing::Values(kBothSimulated, kVirtualAndSimulated, kBothGentl), pairName);

} // namespace
} // namespace vxcam::test
