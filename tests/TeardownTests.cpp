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
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
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
};
constexpr Pair kBothSimulated{"sim_sim", false};
constexpr Pair kVirtualAndSimulated{"virtual_sim", true};

std::string pairName(const ::testing::TestParamInfo<Pair>& info) {
    return info.param.name;
}

// Runs `body` on a thread of its own and waits for it; a hang fails the test instead of hanging the suite (the
// stuck thread is left behind: the process ends with the test run).
[[nodiscard]] bool finishesWithin(std::chrono::seconds limit, std::function<void()> body) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([body = std::move(body), done] {
        body();
        done->set_value();
    }).detach();
    if (finished.wait_for(limit) == std::future_status::ready) {
        finished.get();
        return true;
    }
    return false;
}

class TeardownTest : public ::testing::TestWithParam<Pair> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_module.loaded()) << m_module.errorString().toStdString();
        const QString cameras = QStringList{simDevice(QStringLiteral("A1"), QStringLiteral(R"("frameRate": 200)")),
                                            simDevice(QStringLiteral("B1"), QStringLiteral(R"("frameRate": 200)"))}
                                    .join(QStringLiteral(", "));
        m_sim = std::make_unique<SimEnvironment>(simConfig({cameras}, m_faults));
        qputenv("VXCAM_TRANSPORTS", GetParam().virtualA ? "sim,virtual" : "sim");
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
        std::atomic<int> stopsMade{0};
        // Both callbacks meet before stopping, so that each stop comes while the other camera delivers.
        std::promise<void> aInside;
        std::promise<void> bInside;
        std::shared_future<void> aReady = aInside.get_future().share();
        std::shared_future<void> bReady = bInside.get_future().share();
        std::atomic<bool> aOnce{false};
        std::atomic<bool> bOnce{false};
        m_callbackA.setAction([&](ICameraObject& self) {
            if (aOnce.exchange(true)) {
                return;
            }
            aInside.set_value();
            static_cast<void>(bReady.wait_for(2s));
            m_b->IStopCamera();
            self.IStopCamera();
            ++stopsMade;
        });
        m_callbackB.setAction([&](ICameraObject& self) {
            if (bOnce.exchange(true)) {
                return;
            }
            bInside.set_value();
            static_cast<void>(aReady.wait_for(2s));
            m_a->IStopCamera();
            self.IStopCamera();
            ++stopsMade;
        });
        // Waited for on a test thread: a deadlock in the callbacks leaves the test with a failure, not a hang.
        ASSERT_TRUE(finishesWithin(20s,
                                   [&] {
                                       while (stopsMade.load() < 2) {
                                           std::this_thread::sleep_for(1ms);
                                       }
                                   }))
            << "round " << round << ": the callbacks that stop each other hang";
        m_callbackA.setAction({});
        m_callbackB.setAction({});
        EXPECT_FALSE(m_a->m_bRunning);
        EXPECT_FALSE(m_b->m_bRunning);
        // Both are stopped: a start in another mode and back makes them deliver again for the next round.
        for (ICameraObject* camera : {m_a.get(), m_b.get()}) {
            camera->m_nTriggerMode = FreeRun;
            ASSERT_EQ(camera->IStartCamera(), 1) << "round " << round;
        }
        const int a = m_callbackA.frames();
        const int b = m_callbackB.frames();
        ASSERT_TRUE(m_callbackA.waitForFrames(a + 1)) << "round " << round;
        ASSERT_TRUE(m_callbackB.waitForFrames(b + 1)) << "round " << round;
    }
}

// The same rig closed and deleted from inside the other camera's callback: B is deleted from A's callback
// while B delivers, then A closes itself there. Nothing waits, and nothing of B is touched after its memory went.
TEST_P(TeardownTest, ACallbackClosesAndDeletesAnotherCameraThatIsDelivering) {
    openAndStartBoth();
    // Shared with B's callback, which may still be returning from its wait when the test ends.
    struct BSignals {
        std::promise<void> inside;
        std::shared_future<void> ready = inside.get_future().share();
        std::promise<void> released;
        std::shared_future<void> goOn = released.get_future().share();
        std::atomic<bool> once{false};
    };
    const auto b = std::make_shared<BSignals>();
    m_callbackB.setAction([b](ICameraObject&) {
        if (b->once.exchange(true)) {
            return;
        }
        b->inside.set_value();
        // Still delivering while A's callback closes and deletes this camera: a deletion that waited for this
        // delivery would wait for good.
        static_cast<void>(b->goOn.wait_for(60s));
    });
    std::atomic<bool> done{false};
    std::atomic<bool> aOnce{false};
    m_callbackA.setAction([&](ICameraObject& self) {
        if (aOnce.exchange(true)) {
            return;
        }
        static_cast<void>(b->ready.wait_for(2s));
        ICameraObject* cameraB = m_b.release();
        cameraB->IStopCamera();
        cameraB->ICloseCamera();
        m_module.destroy()(cameraB);
        b->released.set_value();
        self.IStopCamera();
        self.ICloseCamera();
        done = true;
    });
    ASSERT_TRUE(finishesWithin(15s, [&] {
        while (!done.load()) {
            std::this_thread::sleep_for(1ms);
        }
    })) << "closing and deleting another camera from a callback hangs";
    EXPECT_FALSE(m_a->m_bOpened);
}

// A stop made inside OnImageReady, then a start from the host's thread at once, many times: the start must
// neither wait for the delivery thread that the stop left to end nor lose it.
TEST_P(TeardownTest, AStartRightAfterAStopMadeInsideTheCallbackNeverHangs) {
    openAndStartBoth();
    ICameraObject& cam = *m_a;
    for (int round = 0; round < 40; ++round) {
        std::promise<void> stopped;
        std::future<void> stoppedInside = stopped.get_future();
        std::atomic<bool> once{false};
        m_callbackA.setAction([&](ICameraObject& self) {
            if (!once.exchange(true)) {
                self.IStopCamera();
                stopped.set_value();
            }
        });
        ASSERT_EQ(stoppedInside.wait_for(10s), std::future_status::ready) << "round " << round;
        m_callbackA.setAction({});
        const int before = m_callbackA.frames();
        ASSERT_TRUE(finishesWithin(10s, [&] { EXPECT_EQ(cam.IStartCamera(), 1); }))
            << "round " << round << ": the start after a stop inside the callback hangs";
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
    const std::size_t before = processThreads();
    openAndStartBoth();
    m_b.reset(); // deleted from the host's thread, while running
    std::promise<void> deleted;
    std::future<void> deletedInside = deleted.get_future();
    std::atomic<bool> once{false};
    ICameraObject* a = m_a.release();
    m_callbackA.setAction([&](ICameraObject& self) {
        if (!once.exchange(true)) {
            m_module.destroy()(&self); // the last object, from inside its own callback
            deleted.set_value();
        }
    });
    ASSERT_EQ(deletedInside.wait_for(10s), std::future_status::ready);
    static_cast<void>(a);
    m_module.destroy()(nullptr); // waits for the module's threads
    if (GetParam().virtualA) {
        EXPECT_LE(processThreads(), before) << "threads of the module still run";
    } else {
        EXPECT_EQ(processThreads(), before) << "threads of the module still run";
    }
}

INSTANTIATE_TEST_SUITE_P(Pairs, TeardownTest, ::testing::Values(kBothSimulated, kVirtualAndSimulated), pairName);

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

INSTANTIATE_TEST_SUITE_P(Pairs, FailedStreamCloseTest, ::testing::Values(kBothSimulated, kVirtualAndSimulated),
                         pairName);

} // namespace
} // namespace vxcam::test
