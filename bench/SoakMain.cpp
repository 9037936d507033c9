// A long run of one driver object, loaded by name as a host loads it, on a simulated camera at the highest rate
// it makes: random stops, starts and trigger-mode changes, and one conversion in a thousand failed by the SDK's
// fault rules. It prints resident memory after warm-up and at the end, the buffers of each stream at the end,
// and whether every frame the camera numbered was delivered or counted.
//   vxcam_soak [FRAMES] [SEED] [RATE]     defaults: 10000000 frames, seed 13, 100000 frames/s
#include "contract/IVeyraCameraObject.h"
#include "sdk/Sdk.h"

#include <QFile>
#include <QLibrary>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <random>
#include <string>

namespace {

// One stream, so that the frame IDs the host sees are one sequence per run of the stream: they restart at 0
// with each start. Bayer frames, so that every frame goes through conversion. The conversion fault strikes the
// 1000th, 2000th, ... transformation.
// %1: the camera's frame rate, for free run and line trigger alike.
constexpr const char* kCamera = R"({ "systems": [ { "id": "soak", "interfaces": [ { "id": "if0", "devices": [
  { "serial": "SOAK1", "pixelFormat": "BayerRG8", "width": 64, "height": 48, "frameRate": %1, "lineRate": %1,
    "streams": 1 } ] } ] } ],
  "faults": [ { "call": "Image::TransformImage", "nth": 1000, "every": 1000, "description": "soak conversion fault" } ] })";

// Critical "ExceptionType:" lines of BufferReady, and the counts of the driver's lines for repeats of one error.
std::atomic<uint64_t> g_conversionFailures{0};
// Frames the driver turned away at its gate, by the warnings of starts (a start that reprograms a running
// camera: its stream runs on, so these fall inside a run) and of every other call.
std::atomic<uint64_t> g_turnedAwayByStarts{0};
std::atomic<uint64_t> g_turnedAwayOtherwise{0};

void countTurnedAway(const QString& message) {
    static const QLatin1String undelivered(" went back to their stream undelivered.  -  CCameraVeyra::");
    const int at = message.indexOf(undelivered);
    if (at < 0) {
        return;
    }
    const uint64_t frames = message.section(QLatin1Char(' '), 0, 0).toULongLong();
    const bool byStart = message.mid(at + undelivered.size()) == QLatin1String("IStartCamera");
    (byStart ? g_turnedAwayByStarts : g_turnedAwayOtherwise).fetch_add(frames, std::memory_order_relaxed);
}

// Drops every line (the frame path would write millions) but counts the conversion failures the driver reports
// and the frames it turned away.
void countFailures(QtMsgType type, const QMessageLogContext& /*context*/, const QString& message) {
    static const QLatin1String again("The same SDK error again, ");
    if (type == QtWarningMsg || type == QtInfoMsg) {
        countTurnedAway(message);
        return;
    }
    if (type != QtCriticalMsg || !message.endsWith(QLatin1String("CCameraVeyra::BufferReady"))) {
        return;
    }
    if (message.startsWith(QLatin1String("ExceptionType:"))) {
        g_conversionFailures.fetch_add(1, std::memory_order_relaxed);
    } else if (message.startsWith(again)) {
        const uint64_t repeats = message.mid(again.size()).section(QLatin1Char(' '), 0, 0).toULongLong();
        g_conversionFailures.fetch_add(repeats, std::memory_order_relaxed);
    }
}

// Resident memory in KiB; 0 where the platform does not tell.
uint64_t residentKiB() {
#ifdef __linux__
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10);
        }
    }
#endif
    return 0;
}

// Counts the frames the host receives and follows their IDs: a run of the stream starts again at 0.
class SoakCallback final : public ICameraCallback {
public:
    // On the module's delivery thread.
    void OnImageReady(ICameraObject* camera) override {
        VeyraFrameLayout layout;
        if (asVeyraCamera(camera)->IGetFrameLayout(&layout) != 1) {
            std::fprintf(stderr, "IGetFrameLayout refused inside OnImageReady\n");
            std::abort();
        }
        const std::lock_guard lock(m_mutex);
        if (!m_bInRun || layout.frameId <= m_nLastId) {
            closeRun();
            m_bInRun = true;
            m_nGaps += layout.frameId; // frames 0 .. id-1 of the new run did not arrive
        } else {
            m_nGaps += layout.frameId - m_nLastId - 1;
        }
        m_nLastId = layout.frameId;
        ++m_nDelivered;
        m_arrived.notify_all();
    }

    // Host thread: waits until `count` frames in all have arrived, or `timeout` passed.
    bool waitFor(uint64_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_arrived.wait_for(lock, timeout, [&] { return m_nDelivered >= count; });
    }

    struct Figures {
        uint64_t delivered;
        uint64_t numbered; // frames the camera numbered up to the last delivered frame of each run
        uint64_t gaps;     // of those, the ones that did not arrive
    };
    Figures figures() {
        const std::lock_guard lock(m_mutex);
        return {m_nDelivered, m_nNumbered + (m_bInRun ? m_nLastId + 1 : 0), m_nGaps};
    }

private:
    void closeRun() {
        if (m_bInRun) {
            m_nNumbered += m_nLastId + 1;
        }
    }

    std::mutex m_mutex; // guards every member below; taken by the delivery thread and the host thread
    std::condition_variable m_arrived;
    uint64_t m_nDelivered = 0;
    uint64_t m_nNumbered = 0;
    uint64_t m_nGaps = 0;
    uint64_t m_nLastId = 0;
    bool m_bInRun = false;
};

// The camera's one stream, reached through the SDK the module shares with this process.
sdk::DataStream* soakStream() {
    sdk::System* system = sdk::SystemList::GetInstance()->begin()->second;
    sdk::Interface* iface = system->GetInterfaces()->begin()->second;
    sdk::Device* device = iface->GetDevices()->begin()->second;
    return device->GetDataStreams()->begin()->second;
}

} // namespace

int main(int argc, char** argv) {
    const uint64_t target = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 10000000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 13U;
    const unsigned long rate = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 100000UL;
    qInstallMessageHandler(countFailures);
    QLoggingCategory::setFilterRules(QStringLiteral("vxcam.driver.frame.debug=false"));

    QTemporaryDir dir;
    const QString configPath = dir.filePath(QStringLiteral("soak.json"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(QString::fromLatin1(kCamera).arg(rate).toLatin1()) < 0) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(configPath));
        return 1;
    }
    file.close();
    qputenv("VXCAM_SIM_CONFIG", configPath.toLocal8Bit());
    qputenv("VXCAM_TRANSPORTS", "sim"); // the simulated camera alone: no real camera joins the run
    qunsetenv("VXCAM_SIM_TRACE");

    QLibrary module(QStringLiteral(VXCAM_MODULE_DIR "/vxCam_160"));
    const auto create = reinterpret_cast<CameraCreateFunction>(module.resolve("Camera_Create"));  // NOLINT
    const auto destroy = reinterpret_cast<CameraDeleteFunction>(module.resolve("Camera_Delete")); // NOLINT
    if (create == nullptr || destroy == nullptr) {
        std::fprintf(stderr, "module not loadable: %s\n", qPrintable(module.errorString()));
        return 1;
    }
    CameraConfig config;
    config.cameraId = QStringLiteral("veyra SOAK1");
    SoakCallback callback;
    ICameraObject* camera = create(&config, &callback);
    if (camera->IOpenCamera() != 1) {
        std::fprintf(stderr, "the simulated camera did not open\n");
        return 1;
    }
    sdk::DataStream* stream = soakStream();

    std::mt19937 random(seed);
    const auto chance = [&](int percent) { return std::uniform_int_distribution<int>(1, 100)(random) <= percent; };
    constexpr AcqTriggerMode kModes[] = {LineTrigger, FreeRun, FreeRunResetFrameId, SoftTrigger, Idle};
    const uint64_t warmUp = std::min<uint64_t>(target / 20, 200000);
    uint64_t residentAfterWarmUp = 0;
    uint64_t starts = 0;
    uint64_t stops = 0;
    uint64_t modeChanges = 0;
    const auto begin = std::chrono::steady_clock::now();

    const auto accounted = [&] {
        return callback.figures().delivered + g_conversionFailures.load() + stream->GetLostFrameCount();
    };
    while (accounted() < target) {
        // A run: maybe a stop first, then a mode (changed or not) and a start, then frames.
        if (chance(60)) {
            camera->IStopCamera();
            ++stops;
        }
        const AcqTriggerMode mode = kModes[std::uniform_int_distribution<int>(0, chance(2) ? 4 : 3)(random)];
        modeChanges += mode != camera->m_nTriggerMode ? 1 : 0;
        camera->m_nTriggerMode = mode;
        if (camera->IStartCamera() == 1) {
            ++starts;
        }
        // Soft-triggered runs are shorter: each frame waits for a trigger and its round trip.
        const uint64_t frames =
            std::uniform_int_distribution<uint64_t>(100, mode == SoftTrigger ? 5000 : 50000)(random);
        const uint64_t goal = callback.figures().delivered + frames;
        if (mode == SoftTrigger) {
            // Triggers as fast as frames come back, a few ahead: more would only find every buffer taken and
            // count the frame lost, a loss of the soak's making that says nothing about the module.
            const uint64_t first = callback.figures().delivered + g_conversionFailures.load();
            for (uint64_t i = 0; i < frames && accounted() < target; ++i) {
                static_cast<void>(asVeyraCamera(camera)->ISendSoftTrigger());
                constexpr uint64_t kAhead = 6;
                if (i >= kAhead) {
                    static_cast<void>(callback.waitFor(first + i - kAhead - g_conversionFailures.load(),
                                                       std::chrono::milliseconds(20)));
                }
            }
        }
        static_cast<void>(callback.waitFor(goal, std::chrono::milliseconds(mode == Idle ? 20 : 2000)));
        if (residentAfterWarmUp == 0 && accounted() >= warmUp) {
            residentAfterWarmUp = residentKiB();
        }
    }
    camera->IStopCamera();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

    const SoakCallback::Figures f = callback.figures();
    const uint64_t failures = g_conversionFailures.load();
    const uint64_t lost = stream->GetLostFrameCount();
    sdk::BufferList* buffers = stream->GetBufferList();
    const uint64_t total = f.delivered + failures + lost;
    std::printf("frames: %llu delivered + %llu conversion failures + %llu lost = %llu, in %.1f s (%.0f frames/s)\n",
                static_cast<unsigned long long>(f.delivered), static_cast<unsigned long long>(failures),
                static_cast<unsigned long long>(lost), static_cast<unsigned long long>(total), seconds,
                static_cast<double>(total) / seconds);
    std::printf("camera numbered %llu frames up to each run's last delivered one; %llu of them did not arrive; "
                "%llu frames came after a run's last delivery (lost or failed at a stop or mode change)\n",
                static_cast<unsigned long long>(f.numbered), static_cast<unsigned long long>(f.gaps),
                static_cast<unsigned long long>(total >= f.numbered ? total - f.numbered : 0));
    const uint64_t turnedAway = g_turnedAwayByStarts.load();
    std::printf("frames the driver turned away at its gate: %llu during reprogramming starts, %llu at stops and "
                "other calls\n",
                static_cast<unsigned long long>(turnedAway),
                static_cast<unsigned long long>(g_turnedAwayOtherwise.load()));
    // A frame that went missing inside a run, without the SDK counting it lost or the driver reporting it
    // (a conversion failure, a frame turned away while a start reprogrammed the running camera), shows as a
    // gap with no count to cover it.
    const bool everyFrameAccounted = failures + lost + turnedAway >= f.gaps;
    std::printf("every numbered frame delivered or counted: %s\n", everyFrameAccounted ? "yes" : "NO");
    std::printf("camera rate: %lu frames/s\n", rate);
    std::printf("runs: %llu starts, %llu stops, %llu trigger-mode changes\n", static_cast<unsigned long long>(starts),
                static_cast<unsigned long long>(stops), static_cast<unsigned long long>(modeChanges));
    std::printf("resident memory: %llu KiB after warm-up (%llu frames), %llu KiB at the end\n",
                static_cast<unsigned long long>(residentAfterWarmUp), static_cast<unsigned long long>(warmUp),
                static_cast<unsigned long long>(residentKiB()));
    std::printf("buffers of the stream at the end: %zu announced, %llu queued\n",
                buffers != nullptr ? buffers->size() : 0,
                static_cast<unsigned long long>(buffers != nullptr ? buffers->GetQueuedCount() : 0));

    const bool eightBuffers = buffers != nullptr && buffers->size() == 8 && buffers->GetQueuedCount() == 8;

    camera->ICloseCamera();
    destroy(camera);
    return everyFrameAccounted && eightBuffers ? 0 : 1;
}
