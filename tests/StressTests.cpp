// Operations at random while 1 kHz cameras deliver, with callbacks that sometimes stop their own camera:
// no crash, no hang, and no callback after a stop, close or delete returned.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SimEnvironment.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vxcam::test {
namespace {

// One per driver object, and kept until the end of the test, so that a late call would still land here.
class StressCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* camera) override {
        ++frames;
        if (quiet.load()) {
            ++lateCalls;
        }
        const int n = ++sinceStop;
        if (n % 60 == 0) {
            camera->IStopCamera();
            ++stopsFromCallback;
        }
    }

    std::atomic<bool> quiet{true}; // a stop, close or delete returned and no start came since
    std::atomic<int> frames{0};
    std::atomic<int> lateCalls{0};
    std::atomic<int> sinceStop{0};
    std::atomic<int> stopsFromCallback{0};
};

struct Slot {
    CameraConfig config;
    std::unique_ptr<StressCallback> callback;
    ICameraObject* camera = nullptr;
};

TEST(Stress, RandomOperationsWhileCamerasDeliver) {
    ModuleLoader module;
    ASSERT_TRUE(module.loaded()) << module.errorString().toStdString();
    QStringList devices;
    for (int i = 0; i < 3; ++i) {
        devices << simDevice(
            QStringLiteral("S%1").arg(i),
            QStringLiteral(R"("width": 32, "height": 8, "frameRate": 1000, "lineRate": 1000, "streams": %1)")
                .arg(1 + i % 2));
    }
    SimEnvironment sim(simConfig(devices));
    qunsetenv("VXCAM_SIM_TRACE");
    QLoggingCategory::setFilterRules(QStringLiteral("vxcam.*=false"));

    std::vector<Slot> seats(3);
    std::vector<std::unique_ptr<StressCallback>> retired;
    int operations = 0;
    const auto run = [&] {
        std::mt19937 rng(20261210);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < deadline && operations < 3000) {
            ++operations;
            Slot& slot = seats[rng() % seats.size()];
            // Weighted so that cameras run much of the time: 1 delete, 1 close, 3 opens, 6 starts, 2 stops, 2
            // exposures, 3 software triggers, 2 listings in 20.
            constexpr int kActions[20] = {0, 2, 1, 1, 1, 3, 3, 3, 3, 3, 3, 6, 6, 7, 7, 8, 8, 8, 9, 9};
            const int action = kActions[rng() % 20];
            if (slot.camera == nullptr) {
                slot.callback = std::make_unique<StressCallback>();
                slot.config.cameraId = QStringLiteral("veyra S%1").arg(&slot - seats.data());
                slot.camera = module.create()(&slot.config, slot.callback.get());
                continue;
            }
            ICameraObject& camera = *slot.camera;
            StressCallback& callback = *slot.callback;
            switch (action) {
            case 0:
                module.destroy()(slot.camera);
                slot.camera = nullptr;
                callback.quiet = true;
                retired.push_back(std::move(slot.callback));
                break;
            case 1:
                camera.IOpenCamera();
                break;
            case 2:
                camera.ICloseCamera();
                callback.quiet = true;
                break;
            case 3:
                camera.m_nTriggerMode = static_cast<int32_t>(rng() % 5);
                callback.quiet = false;
                camera.IStartCamera();
                break;
            case 6:
                camera.IStopCamera();
                callback.quiet = true;
                break;
            case 7: {
                CameraProperty exposure{1, static_cast<int32_t>(rng() % 10000)};
                camera.ISetProperty(&exposure);
                break;
            }
            case 8:
                asVeyraCamera(&camera)->ISendSoftTrigger();
                callback.quiet = false; // reprogramming for software triggers restarts acquisition
                camera.ISetSoftTriggerMode();
                break;
            default:
                camera.IEnumAvailableCameras();
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 8000));
        }
        for (Slot& slot : seats) {
            if (slot.camera != nullptr) {
                module.destroy()(slot.camera);
                slot.callback->quiet = true;
                retired.push_back(std::move(slot.callback));
            }
        }
    };
    std::future<void> done = std::async(std::launch::async, run);
    if (done.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
        std::fprintf(stderr, "the operations hang after %d operations\n", operations);
        _exit(1);
    }
    done.get();
    QLoggingCategory::setFilterRules(QString());

    int frames = 0;
    int lateCalls = 0;
    int stopsFromCallback = 0;
    for (const auto& callback : retired) {
        frames += callback->frames;
        lateCalls += callback->lateCalls;
        stopsFromCallback += callback->stopsFromCallback;
    }
    EXPECT_EQ(lateCalls, 0);
    EXPECT_GT(frames, 100) << "frames flowed";
    EXPECT_GT(stopsFromCallback, 0) << "callbacks stopped their cameras";
    std::printf("%d operations, %d frames, %d stops from callbacks\n", operations, frames, stopsFromCallback);
}

} // namespace
} // namespace vxcam::test
