// What the driver adds to every pass-through frame on top of the host's callback: the lifecycle's gate, the
// pixel-format test, the four frame members and the buffer's way back. The buffer goes back to an owner that
// only counts, so that the figure is the driver's alone.
#include "driver/CameraVeyra.h"
#include "sdk/Buffer.h"
#include "sdk/core/BufferAccess.h"

#include <QLoggingCategory>
#include <benchmark/benchmark.h>

#include <atomic>

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
    using CCameraVeyra::BufferReady;
    using CCameraVeyra::CCameraVeyra;
    void acceptFrames() {
        m_life.setState(vxcam::CameraLifecycle::State::Acquiring);
        m_life.acceptFrames();
    }
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
        camera.BufferReady(&frame.buffer);
    }
    if (frame.owner.queued != static_cast<uint64_t>(state.iterations())) {
        state.SkipWithError("a frame did not go back to its stream");
    }
    benchmark::DoNotOptimize(callback.sum.load());
}
BENCHMARK(BM_PassThroughDelivery);

} // namespace
