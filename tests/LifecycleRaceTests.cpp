// Two threads meet in one driver object: the host's callback calls an operation from inside OnImageReady while
// another host thread calls one of its own, at random moments. Whatever the timing, the object ends as some
// sequential order of the two calls leaves it, no call is lost, no callback comes after a stop or close
// returned, and nothing is reported by the sanitizers.
#include "driver/CameraVeyra.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimEnvironment.h"
#include "tests/support/TransportFixture.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;

enum class Op { Stop, Close, Delete, Start, Open, SoftTrigger, PropertyWrite };

const char* nameOf(Op op) {
    switch (op) {
    case Op::Stop:
        return "Stop";
    case Op::Close:
        return "Close";
    case Op::Delete:
        return "Delete";
    case Op::Start:
        return "Start";
    case Op::Open:
        return "Open";
    case Op::SoftTrigger:
        return "SoftTrigger";
    case Op::PropertyWrite:
        return "PropertyWrite";
    }
    return "?";
}

// What the host can see of the object.
struct Members {
    bool opened = true;
    bool running = true;
    bool deleted = false;
    bool operator==(const Members& other) const {
        return opened == other.opened && running == other.running && deleted == other.deleted;
    }
};

// The members after `op`, called alone on an object left as `before`. The camera runs in free run.
Members after(Op op, Members before) {
    Members m = before;
    if (m.deleted) {
        return m; // refused
    }
    switch (op) {
    case Op::Stop:
        m.running = false;
        break;
    case Op::Close:
        m.opened = false; // m_bRunning keeps its value
        break;
    case Op::Delete:
        m.deleted = true;
        break;
    case Op::Start:
        m.running = m.opened ? true : m.running;
        break;
    case Op::Open:
        m.opened = true;
        m.running = false;
        break;
    case Op::SoftTrigger:
    case Op::PropertyWrite:
        break;
    }
    return m;
}

class Probe final : public CCameraVeyra {
public:
    using CCameraVeyra::CCameraVeyra;
    [[nodiscard]] int threadsInside() const { return m_life.callsInside(); }
};

void call(Op op, Probe* camera) {
    switch (op) {
    case Op::Stop:
        camera->IStopCamera();
        break;
    case Op::Close:
        camera->ICloseCamera();
        break;
    case Op::Delete:
        CCameraVeyra::deleteCamera(camera);
        break;
    case Op::Start:
        camera->IStartCamera();
        break;
    case Op::Open:
        camera->IOpenCamera();
        break;
    case Op::SoftTrigger:
        camera->ISendSoftTrigger();
        break;
    case Op::PropertyWrite: {
        CameraProperty exposure{1, 5000};
        camera->ISetProperty(&exposure);
        break;
    }
    }
}

// Runs the callback's operation once, inside the first frame after it is armed.
class RacingCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override {
        {
            const std::lock_guard lock(m_mutex);
            ++frames;
            m_arrived.notify_all();
        }
        if (stopReturned.load()) {
            ++lateFrames;
        }
        if (!armed.exchange(false)) {
            return;
        }
        hostGo.set_value();
        std::this_thread::sleep_for(std::chrono::microseconds(delayMicros));
        auto* probe = static_cast<Probe*>(camera);
        if (op == Op::Delete) {
            // Only once the host thread is inside (waiting for this frame) or done: a host may not call an
            // object it deleted. This delivery counts as inside too. No event tells when a thread entered, so
            // this one waits by looking.
            const auto deadline = std::chrono::steady_clock::now() + 2s;
            while (probe->threadsInside() < 2 && !hostDone.load() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::yield();
            }
        }
        call(op, probe);
        callbackDone.set_value();
    }

    Op op = Op::Stop;
    int delayMicros = 0;
    std::atomic<bool> armed{false};
    std::promise<void> hostGo;
    std::promise<void> callbackDone;
    std::atomic<bool> hostDone{false};
    std::atomic<bool> stopReturned{false}; // the host's stop or close returned
    std::atomic<int> lateFrames{0};

    [[nodiscard]] int frameCount() {
        const std::lock_guard lock(m_mutex);
        return frames;
    }
    [[nodiscard]] bool waitForFrames(int count) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, 5s, [&] { return frames >= count; });
    }

private:
    std::mutex m_mutex; // guards frames
    std::condition_variable m_arrived;
    int frames = 0;
};

// (the camera's producer, from the callback, from the host's other thread)
using Pair = std::tuple<Transport, Op, Op>;

class LifecycleRace : public ::testing::TestWithParam<Pair> {
protected:
    static void SetUpTestSuite() { QLoggingCategory::setFilterRules(QStringLiteral("vxcam.driver.frame.debug=false")); }
};

TEST_P(LifecycleRace, EndsAsSomeOrderOfTheTwoCalls) {
    const auto [transport, fromCallback, fromHost] = GetParam();
    const SimEnvironment sim(simConfig({simDevice(
        QStringLiteral("R1"), QStringLiteral(R"("width": 16, "height": 4, "frameRate": 1000, "lineRate": 1000)"))}));
    qputenv("VXCAM_TRANSPORTS", transport.name);
    const QString cameraId =
        transport.simulated ? QStringLiteral("veyra R1") : QStringLiteral("veyra ") + kVirtualSerial;
    const Members start;
    const Members callbackFirst = after(fromHost, after(fromCallback, start));
    const Members hostFirst = after(fromCallback, after(fromHost, start));
    std::mt19937 random(20261210U + static_cast<unsigned>(fromCallback) * 16U + static_cast<unsigned>(fromHost));
    std::uniform_int_distribution<int> delay(0, 1500);
    LogCapture log;

    // The virtual camera sends 25 frames a second: fewer runs keep its cases as short as the simulated ones.
    const int runs = transport.simulated ? 12 : 4;
    for (int run = 0; run < runs; ++run) {
        SCOPED_TRACE(run);
        CameraConfig config;
        config.cameraId = cameraId;
        RacingCallback callback;
        callback.op = fromCallback;
        callback.delayMicros = delay(random);
        auto* camera = new Probe(&config, &callback); // NOLINT(cppcoreguidelines-owning-memory): as Camera_Create
        ASSERT_EQ(camera->IOpenCamera(), 1);
        camera->m_nTriggerMode = FreeRun;
        ASSERT_EQ(camera->IStartCamera(), 1);

        const int hostDelay = delay(random);
        std::thread host([&] {
            callback.hostGo.get_future().wait();
            std::this_thread::sleep_for(std::chrono::microseconds(hostDelay));
            call(fromHost, camera);
            if (fromHost == Op::Stop || fromHost == Op::Close) {
                callback.stopReturned = true;
            }
            callback.hostDone = true;
        });
        callback.armed = true;
        ASSERT_EQ(callback.callbackDone.get_future().wait_for(10s), std::future_status::ready) << "no frame came";
        host.join();

        if (fromCallback == Op::Delete) {
            EXPECT_EQ(callback.lateFrames.load(), 0);
            // The last object was deleted inside a callback: the host waits for the module's threads as a host
            // that unloads the module would (its stream may have ended on its own delivery thread).
            CCameraVeyra::deleteCamera(nullptr);
            continue; // freed by the last of the two calls; ASan tells if anything touched it afterwards
        }
        const Members seen{camera->m_bOpened, camera->m_bRunning, false};
        EXPECT_TRUE(seen == callbackFirst || seen == hostFirst)
            << "opened " << seen.opened << ", running " << seen.running;
        EXPECT_EQ(callback.lateFrames.load(), 0) << "a frame after the stop or close returned";
        if (seen.opened && seen.running) {
            // Nothing was lost on the way: the camera delivers.
            EXPECT_TRUE(callback.waitForFrames(callback.frameCount() + 2)) << "running, but no frames";
        }
        CCameraVeyra::deleteCamera(camera);
    }
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty()) << log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(FromCallbackAndHost, LifecycleRace,
                         ::testing::Combine(::testing::ValuesIn(allTransports()),
                                            ::testing::Values(Op::Stop, Op::Close, Op::Delete, Op::Start, Op::Open,
                                                              Op::SoftTrigger, Op::PropertyWrite),
                                            ::testing::Values(Op::Start, Op::Stop, Op::Close, Op::Open)),
                         [](const ::testing::TestParamInfo<Pair>& pair) {
                             return std::string(std::get<0>(pair.param).name) + "_" + nameOf(std::get<1>(pair.param)) +
                                    "_vs_" + nameOf(std::get<2>(pair.param));
                         });

} // namespace
} // namespace vxcam::test
