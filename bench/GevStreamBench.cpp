// One side of the GigE Vision benchmark (gev-bench.sh): loads the module as a host does and streams from one
// camera in free run. Like arv-camera-test, it prints "<N> frames/s" once a second (frames delivered in that
// second), so that the script counts both sides the same way. After SECONDS from the first frame it stops and
// prints its own view of that window (discovery and opening are not counted):
//   frames=<delivered in the window> seconds=<the window> cpu=<process CPU seconds in the window>
// The host's callback does nothing but count, so that the figures are the module's and the SDK's.
#include "contract/ICameraObject.h"

#include <QLibrary>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

class CountingHost final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override { m_nFrames.fetch_add(1, std::memory_order_relaxed); }
    [[nodiscard]] uint64_t frames() const noexcept { return m_nFrames.load(); }

private:
    std::atomic<uint64_t> m_nFrames{0}; // written on the delivery thread, read by the main thread
};

double processCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Prints the frames of each second until `window` has passed; the main thread sleeps in between.
void reportEachSecond(const CountingHost& host, std::chrono::duration<double> window) {
    const auto start = std::chrono::steady_clock::now();
    auto next = start + std::chrono::seconds(1);
    uint64_t framesBefore = host.frames();
    while (next - start <= window) {
        std::this_thread::sleep_until(next);
        const uint64_t frames = host.frames();
        std::printf("%llu frames/s\n", static_cast<unsigned long long>(frames - framesBefore));
        std::fflush(stdout);
        framesBefore = frames;
        next += std::chrono::seconds(1);
    }
    std::this_thread::sleep_until(start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(window));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s MODULE_DIR SERIAL SECONDS\n", argv[0]);
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    QLibrary module(QString::fromLocal8Bit(argv[1]) + QStringLiteral("/vxCam_160"));
    auto create = reinterpret_cast<CameraCreateFunction>(module.resolve("Camera_Create"));  // NOLINT
    auto destroy = reinterpret_cast<CameraDeleteFunction>(module.resolve("Camera_Delete")); // NOLINT
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "cannot load the module: %s\n", module.errorString().toLocal8Bit().constData());
        return 1;
    }
    CameraConfig config;
    config.cameraId = QStringLiteral("veyra ") + QString::fromLocal8Bit(argv[2]);
    CountingHost host;
    ICameraObject* camera = create(&config, &host);
    if (camera->IOpenCamera() != 1) {
        std::fprintf(stderr, "cannot open %s\n", config.cameraId.toLocal8Bit().constData());
        destroy(camera);
        return 1;
    }
    camera->m_nTriggerMode = FreeRun;
    const int started = camera->IStartCamera();
    // The window opens with the first frame, once the camera streams, and lasts SECONDS.
    while (started == 1 && host.frames() == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const uint64_t framesBefore = host.frames();
    const double cpuBefore = processCpuSeconds();
    const auto windowStart = std::chrono::steady_clock::now();
    reportEachSecond(host, std::chrono::duration<double>(std::atof(argv[3])));
    const uint64_t frames = host.frames() - framesBefore;
    const double cpu = processCpuSeconds() - cpuBefore;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - windowStart).count();
    camera->IStopCamera();
    camera->ICloseCamera();
    destroy(camera);
    std::printf("frames=%llu seconds=%.3f cpu=%.3f\n", static_cast<unsigned long long>(frames), wall, cpu);
    return started == 1 ? 0 : 1;
}
