// What the driver adds to every pass-through frame on top of the host's callback: the lifecycle's gate, the
// pixel-format test, the four frame members and the buffer's way back. The buffer goes back to an owner that
// only counts, so that the figure is the driver's alone. Beside it, the simulated camera's own cost of a frame
// (copying its picture into the buffer and describing it), measured apart, so that a figure taken on simulated
// cameras is never mistaken for the module's.
#include "driver/CameraVeyra.h"
#include "sdk/Buffer.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/sim/SimAcquisition.h"

#include <QLoggingCategory>
#include <benchmark/benchmark.h>

#include <atomic>
#include <ctime>

namespace {

class CountingOwner final : public sdk::core::BufferOwner {
public:
    void queueBuffer(sdk::Buffer& /*buffer*/) override { ++queued; }
    void forgetBuffer(sdk::Buffer& /*buffer*/) noexcept override {}
    uint64_t queued = 0;
};

class CountingCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override { sum += camera->m_nWidth; }
    std::atomic<int64_t> sum{0};
};

class DeliveryProbe final : public CCameraVeyra {
public:
    using CCameraVeyra::CCameraVeyra;
    void acceptFrames() {
        m_life.setState(vxcam::CameraLifecycle::State::Acquiring);
        m_life.acceptFrames();
    }
    // A frame as a stream bound to the object hands it over.
    void deliver(sdk::Buffer* buffer) { BufferReady(*m_pBinding, buffer); }

private:
    std::shared_ptr<vxcam::StreamBinding> m_pBinding =
        std::make_shared<vxcam::StreamBinding>(*this, m_pLifecycle, nullptr, nullptr);
};

// A 2448 x 2048 Mono8 frame, as a camera hands it over.
struct Frame {
    Frame() {
        sdk::core::BufferAccess::attach(buffer, owner, 2448ull * 2048ull);
        sdk::core::BufferAccess::describeFrame(buffer, 2448, 2048, 42, "Mono8", 0);
    }
    ~Frame() { sdk::core::BufferAccess::detach(buffer); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    CountingOwner owner;
    sdk::Buffer buffer;
};

void quietFramePath() {
    QLoggingCategory::setFilterRules(QStringLiteral("vxcam.driver.frame.debug=false"));
}

void BM_HostCallbackAlone(benchmark::State& state) {
    quietFramePath();
    CameraConfig config;
    CountingCallback callback;
    DeliveryProbe camera(&config, &callback);
    for (auto _ : state) {
        callback.OnImageReady(&camera);
    }
    benchmark::DoNotOptimize(callback.sum.load());
}
BENCHMARK(BM_HostCallbackAlone);

void BM_PassThroughDelivery(benchmark::State& state) {
    quietFramePath();
    CameraConfig config;
    CountingCallback callback;
    DeliveryProbe camera(&config, &callback);
    camera.acceptFrames();
    Frame frame;
    for (auto _ : state) {
        camera.deliver(&frame.buffer);
    }
    if (frame.owner.queued != static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError("a frame did not go back to its stream");
    }
    benchmark::DoNotOptimize(callback.sum.load());
}
BENCHMARK(BM_PassThroughDelivery);

// The simulated camera's per-frame work alone: no thread, no wait, no driver.
void BM_SimulatedCameraFrame(benchmark::State& state) {
    sdk::sim::SimDeviceConfig config;
    config.pixelFormat = "Mono8";
    config.width = 2448;
    config.height = 2048;
    const auto camera = sdk::sim::SimAcquisition::create(config, 2448ull * 2048ull);
    Frame frame;
    camera->fillForMeasurement(frame.buffer, 0); // the picture is rendered by the first frame, not timed here
    uint64_t frameId = 0;
    for (auto _ : state) {
        camera->fillForMeasurement(frame.buffer, frameId++);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SimulatedCameraFrame);

double threadSeconds() {
    timespec spec{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &spec);
    return static_cast<double>(spec.tv_sec) + static_cast<double>(spec.tv_nsec) * 1e-9;
}

// The two side by side in one run, each frame first made by the simulated camera, then delivered by the driver,
// each step timed on the thread's CPU clock: the ratio says how much of a simulated frame's cost is the
// simulator's.
void BM_SimulatorBesideDriver(benchmark::State& state) {
    quietFramePath();
    sdk::sim::SimDeviceConfig config;
    config.pixelFormat = "Mono8";
    config.width = 2448;
    config.height = 2048;
    const auto simulated = sdk::sim::SimAcquisition::create(config, 2448ull * 2048ull);
    CameraConfig cameraConfig;
    CountingCallback callback;
    DeliveryProbe camera(&cameraConfig, &callback);
    camera.acceptFrames();
    Frame frame;
    simulated->fillForMeasurement(frame.buffer, 0); // renders the picture
    double simulator = 0;
    double driver = 0;
    uint64_t frameId = 0;
    for (auto _ : state) {
        const double start = threadSeconds();
        simulated->fillForMeasurement(frame.buffer, frameId++);
        const double filled = threadSeconds();
        camera.deliver(&frame.buffer);
        const double delivered = threadSeconds();
        simulator += filled - start;
        driver += delivered - filled;
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["simulator_us/frame"] = simulator / frames * 1e6;
    state.counters["driver_us/frame"] = driver / frames * 1e6;
    state.counters["simulator/driver"] = driver > 0 ? simulator / driver : 0.0;
    benchmark::DoNotOptimize(callback.sum.load());
}
BENCHMARK(BM_SimulatorBesideDriver);

} // namespace
