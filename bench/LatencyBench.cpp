// How soon a software-triggered frame reaches the host, through the module and through Aravis's own stream
// signal, on Aravis's virtual camera in this process (latency-bench.sh runs it idle and beside busy loops).
//
//   vxcam_latency_bench MODULE_DIR [ROUNDS [TRIGGERS]]        (defaults: 10 rounds of 200 triggers a side)
//
// Three sides take turns in every round, TRIGGERS software triggers each, so that all see the same drifts of a
// shared machine; each turn opens its camera and closes it again, so that no other side's stream runs:
//   module                 the module loaded as a host loads it; its OnImageReady only notes the time;
//   Aravis                 a consumer of the stream's "new-buffer" signal that pops the buffer on Aravis's
//                          receiving thread, as Aravis's own tools do: no hand-over at all;
//   Aravis + bare hand-over  the same, handing the frame to a thread of its own through the module's doorbell
//                          and nothing else: the least that any delivery off the receiving thread costs.
// Three figures for each frame, in microseconds:
//   trigger -> callback   from just before the trigger call to the first instruction of the callback;
//   hand-over             from the "new-buffer" signal of the frame's buffer (on Aravis's receiving thread) to
//                         the same point: what the side adds once Aravis has the frame;
//   the trigger call      how long the trigger call itself takes.
// and, per frame, the wake-ups of the thread that runs the callback and its time waiting for a processor.
//
// The virtual camera fills a buffer at every tick of its clock, whether triggered or not, and a trigger shows in
// the next one. Its ticks come at the camera's highest frame rate (1000 per second) on every side: the program
// sets each virtual camera's tick as Aravis makes it (see arv_fake_device_get_fake_camera below). Each trigger
// comes a random 2 to 4 ms after the previous frame, at 200 us before a tick, so that the figures do not carry
// a random wait for the tick (0 to 1 ms) that a real camera would not have; what remains of the camera is its
// fill of the buffer (about 0.5 ms at 512 x 512).
//
// The hand-over is taken from the latest "new-buffer" signal before the callback. A hand-over longer than a tick
// (1 ms) may therefore be read from a later buffer's signal and come out short; the trigger -> callback figure
// has no such limit.
#include "contract/IVeyraCameraObject.h"
#include "sdk/aravis/AravisDoorbell.h"

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <arv.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kTicksPerSecond = 1000.0; // the virtual camera's highest frame rate
constexpr const char* kVirtualCamera = "Fake_1";
constexpr int kAravisBuffers = 8; // as many as the module gives a stream
// A trigger comes this long before the virtual camera's next tick, and the last part of the wait for it spins.
constexpr std::chrono::microseconds kTriggerLead{200};
constexpr std::chrono::microseconds kSpin{300};

int64_t nowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// When the latest "new-buffer" signal of any stream of this process was emitted: set on Aravis's receiving
// threads (by an emission hook, which runs before the signal's handlers), read by the callbacks.
std::atomic<int64_t> g_lastSignal{0};

gboolean noteSignal(GSignalInvocationHint* /*hint*/, guint /*count*/, const GValue* /*values*/, gpointer /*data*/) {
    g_lastSignal.store(nowNs(), std::memory_order_relaxed);
    return TRUE; // stay installed
}

void hookNewBufferSignal() {
    // The class is made first: its signals exist from then on.
    gpointer streamClass = g_type_class_ref(ARV_TYPE_STREAM);
    g_signal_add_emission_hook(g_signal_lookup("new-buffer", ARV_TYPE_STREAM), 0, &noteSignal, nullptr, nullptr);
    g_type_class_unref(streamClass);
}

// One frame's arrival at a side's callback, awaited by the main thread.
class Arrival {
public:
    struct Times {
        int64_t callback; // the callback's first instruction
        int64_t signal;   // the latest "new-buffer" signal before it
        pid_t thread;     // the thread that runs the callback
    };

    void expect() {
        const std::lock_guard lock(m_mutex);
        m_times.reset();
        m_bExpecting = true;
    }
    // On the side's delivering thread.
    void arrived(const Times& times) {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_bExpecting) {
                return;
            }
            m_bExpecting = false;
            m_times = times;
        }
        m_arrived.notify_one();
    }
    std::optional<Times> await(std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        m_arrived.wait_for(lock, timeout, [this] { return m_times.has_value(); });
        m_bExpecting = false;
        return m_times;
    }

private:
    // Guards the members below: the main thread expects and awaits, the delivering thread reports.
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    bool m_bExpecting = false;
    std::optional<Times> m_times;
};

Arrival g_arrival; // the frame awaited now, by whichever side takes its turn

Arrival::Times arrivalNow() noexcept {
    const int64_t callback = nowNs();
    return {callback, g_lastSignal.load(std::memory_order_relaxed), static_cast<pid_t>(syscall(SYS_gettid))};
}

// What the scheduler counted for a thread of this process: its time on a processor, its time waiting for one,
// and its switches (each wake-up is one).
struct ThreadSchedule {
    uint64_t runNs = 0;
    uint64_t waitNs = 0;
    uint64_t switches = 0;
};

ThreadSchedule scheduleOf(pid_t thread) {
    std::ifstream file("/proc/self/task/" + std::to_string(thread) + "/schedstat");
    ThreadSchedule s;
    if (!(file >> s.runNs >> s.waitNs >> s.switches)) {
        return {};
    }
    return s;
}

// The samples of one side, in nanoseconds.
struct Samples {
    std::vector<int64_t> triggerToCallback;
    std::vector<int64_t> handOver;
    std::vector<int64_t> triggerCall;
    // The thread that runs the callback, while the turns' frames were counted: its switches, its time on a
    // processor and its time waiting for one.
    uint64_t switches = 0;
    uint64_t runNs = 0;
    uint64_t waitNs = 0;
    int lost = 0;
};

// A side takes turns: begin() readies its camera, trigger() fires one software trigger, end() lets it go.
class Side {
public:
    virtual ~Side() = default;
    virtual bool begin() = 0;
    virtual bool trigger() = 0;
    virtual void end() = 0;
    // The side's virtual camera, while its turn lasts.
    [[nodiscard]] virtual ArvFakeCamera* camera() const = 0;
};

// The virtual camera the module's producer made last (see arv_fake_device_get_fake_camera below).
std::atomic<ArvFakeCamera*> g_lastVirtualCamera{nullptr};

// ---- the module ---------------------------------------------------------------------------------------------

class TimingHost final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override { g_arrival.arrived(arrivalNow()); }
};

class ModuleSide final : public Side {
public:
    explicit ModuleSide(const QString& moduleDir) : m_module(moduleDir + QStringLiteral("/vxCam_160")) {
        auto create = reinterpret_cast<CameraCreateFunction>(m_module.resolve("Camera_Create")); // NOLINT
        m_destroy = reinterpret_cast<CameraDeleteFunction>(m_module.resolve("Camera_Delete"));   // NOLINT
        if (create == nullptr || m_destroy == nullptr) {
            std::fprintf(stderr, "cannot load the module: %s\n", m_module.errorString().toLocal8Bit().constData());
            return;
        }
        m_config.cameraId = QStringLiteral("veyra 1"); // the virtual camera's serial
        m_camera = asVeyraCamera(create(&m_config, &m_host));
    }
    ~ModuleSide() override {
        if (m_camera != nullptr) {
            m_destroy(m_camera);
        }
    }
    ModuleSide(const ModuleSide&) = delete;
    ModuleSide& operator=(const ModuleSide&) = delete;

    bool begin() override {
        g_lastVirtualCamera.store(nullptr);
        if (m_camera == nullptr || m_camera->IOpenCamera() != 1) {
            return false;
        }
        m_pVirtual = g_lastVirtualCamera.load(); // the open made it
        if (m_pVirtual == nullptr) {
            std::fprintf(stderr, "the module's virtual camera did not pass through this program's stand-in for "
                                 "arv_fake_device_get_fake_camera: its tick would not be the one measured\n");
            return false;
        }
        m_camera->m_nTriggerMode = SoftTrigger;
        return m_camera->IStartCamera() == 1;
    }
    [[nodiscard]] ArvFakeCamera* camera() const override { return m_pVirtual; }
    bool trigger() override { return m_camera->ISendSoftTrigger() == 1; }
    void end() override {
        m_camera->IStopCamera();
        m_camera->ICloseCamera();
    }

private:
    QLibrary m_module;
    CameraDeleteFunction m_destroy = nullptr;
    CameraConfig m_config;
    TimingHost m_host;
    IVeyraCameraObject* m_camera = nullptr;
    ArvFakeCamera* m_pVirtual = nullptr;
};

// ---- Aravis's own stream signal, alone or with a bare hand-over ---------------------------------------------

// A thread that runs the callback when the receiving thread rings it, through the module's own doorbell and
// nothing else: the least that handing a frame to another thread can cost.
class BareHandOver {
public:
    BareHandOver() : m_thread([this] { run(); }) {}
    ~BareHandOver() {
        m_bQuit.store(true);
        m_doorbell.ring();
        m_thread.join();
    }
    BareHandOver(const BareHandOver&) = delete;
    BareHandOver& operator=(const BareHandOver&) = delete;

    // On the receiving thread: a frame whose buffer was signalled at `signal`.
    void handOver(int64_t signal) {
        m_signal.store(signal);
        m_bPending.store(true);
        m_doorbell.ring();
    }

private:
    void run() {
        for (;;) {
            m_doorbell.waitForRing();
            if (m_bQuit.load()) {
                return;
            }
            if (m_bPending.exchange(false)) {
                Arrival::Times times = arrivalNow();
                times.signal = m_signal.load();
                g_arrival.arrived(times);
            }
        }
    }

    sdk::aravis::Doorbell m_doorbell;
    std::atomic<bool> m_bQuit{false};
    std::atomic<bool> m_bPending{false}; // a frame waits for the thread
    std::atomic<int64_t> m_signal{0};    // its buffer's signal
    std::thread m_thread;
};

class AravisSide final : public Side {
public:
    // With `handOver`, the frame goes on to a thread of its own (BareHandOver) instead of being consumed on
    // Aravis's receiving thread.
    explicit AravisSide(BareHandOver* handOver) {
        m_state.handOver = handOver;
        GError* error = nullptr;
        m_camera = arv_camera_new(kVirtualCamera, &error);
        if (m_camera == nullptr) {
            std::fprintf(stderr, "cannot open %s: %s\n", kVirtualCamera, error != nullptr ? error->message : "");
            g_clear_error(&error);
            return;
        }
        m_state.fake = arv_fake_device_get_fake_camera(ARV_FAKE_DEVICE(arv_camera_get_device(m_camera)));
    }
    ~AravisSide() override {
        if (m_camera != nullptr) {
            g_object_unref(m_camera);
        }
    }
    AravisSide(const AravisSide&) = delete;
    AravisSide& operator=(const AravisSide&) = delete;

    bool begin() override {
        if (m_camera == nullptr) {
            return false;
        }
        GError* error = nullptr;
        arv_camera_set_trigger(m_camera, "Software", &error);
        if (error == nullptr) {
            m_stream = arv_camera_create_stream(m_camera, nullptr, nullptr, &error);
        }
        if (error != nullptr || m_stream == nullptr) {
            std::fprintf(stderr, "Aravis side: %s\n", error != nullptr ? error->message : "no stream");
            g_clear_error(&error);
            return false;
        }
        const auto payload = static_cast<size_t>(arv_camera_get_payload(m_camera, nullptr));
        for (int i = 0; i < kAravisBuffers; ++i) {
            arv_stream_push_buffer(m_stream, arv_buffer_new(payload, nullptr));
        }
        m_handler = g_signal_connect(m_stream, "new-buffer", G_CALLBACK(&AravisSide::onNewBuffer), &m_state);
        arv_stream_set_emit_signals(m_stream, TRUE);
        arv_camera_start_acquisition(m_camera, &error);
        return error == nullptr;
    }
    bool trigger() override {
        GError* error = nullptr;
        arv_camera_software_trigger(m_camera, &error);
        g_clear_error(&error);
        return true;
    }
    void end() override {
        arv_camera_stop_acquisition(m_camera, nullptr);
        arv_stream_set_emit_signals(m_stream, FALSE);
        g_signal_handler_disconnect(m_stream, m_handler);
        g_object_unref(m_stream); // ends its receiving thread and frees its buffers
        m_stream = nullptr;
    }
    [[nodiscard]] ArvFakeCamera* camera() const override { return m_state.fake; }

private:
    struct State {
        ArvFakeCamera* fake = nullptr;
        BareHandOver* handOver = nullptr;
    };

    // On Aravis's receiving thread. The virtual camera fills a buffer on every tick; as the module does, only a
    // frame after a trigger counts as sent.
    static void onNewBuffer(ArvStream* stream, gpointer data) {
        const Arrival::Times times = arrivalNow();
        const State& state = *static_cast<const State*>(data);
        ArvBuffer* buffer = arv_stream_try_pop_buffer(stream);
        if (buffer == nullptr) {
            return;
        }
        if (arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS &&
            arv_fake_camera_check_and_acknowledge_software_trigger(state.fake)) {
            if (state.handOver != nullptr) {
                state.handOver->handOver(times.signal);
            } else {
                g_arrival.arrived(times);
            }
        }
        arv_stream_push_buffer(stream, buffer);
    }

    ArvCamera* m_camera = nullptr;
    State m_state;
    ArvStream* m_stream = nullptr;
    gulong m_handler = 0;
};

// ---- the rounds and the figures -----------------------------------------------------------------------------

// Waits until `lead` before the virtual camera's next tick: sleeps most of the way, then spins, so that the
// trigger's moment does not depend on how soon a sleeping thread wakes.
void awaitTickLead(ArvFakeCamera* camera, std::chrono::microseconds lead) {
    const auto untilTick = std::chrono::microseconds(arv_fake_camera_get_sleep_time_for_next_frame(camera, nullptr));
    const auto due = std::chrono::steady_clock::now() + untilTick - lead;
    std::this_thread::sleep_until(due - kSpin);
    while (std::chrono::steady_clock::now() < due) {
    }
}

// One trigger and its frame, a random 2 to 4 ms after the previous one, `kTriggerLead` before a tick of the
// virtual camera: the frame's times, or none when no frame came within a second.
std::optional<Arrival::Times> triggerOnce(Side& side, std::mt19937& random, Samples& samples) {
    std::uniform_int_distribution<int> gapUs(2000, 4000);
    std::this_thread::sleep_for(std::chrono::microseconds(gapUs(random)));
    awaitTickLead(side.camera(), kTriggerLead);
    g_arrival.expect();
    const int64_t triggered = nowNs();
    if (!side.trigger()) {
        return std::nullopt;
    }
    const int64_t returned = nowNs();
    std::optional<Arrival::Times> times = g_arrival.await(std::chrono::milliseconds(1000));
    if (times) {
        samples.triggerToCallback.push_back(times->callback - triggered);
        samples.handOver.push_back(times->callback - times->signal);
        samples.triggerCall.push_back(returned - triggered);
    }
    return times;
}

// A turn's first frame is not counted: it tells which thread runs the callback, and the virtual camera may still
// sleep out a period of the free-running rate it had before the trigger mode was set (up to 40 ms).
bool runTurn(Side& side, int triggers, std::mt19937& random, Samples& samples) {
    if (!side.begin()) {
        return false;
    }
    Samples warmUp;
    const std::optional<Arrival::Times> first = triggerOnce(side, random, warmUp);
    if (!first) {
        side.end();
        return false;
    }
    const ThreadSchedule before = scheduleOf(first->thread);
    for (int i = 0; i < triggers; ++i) {
        if (!triggerOnce(side, random, samples)) {
            ++samples.lost;
        }
    }
    const ThreadSchedule after = scheduleOf(first->thread);
    samples.switches += after.switches - before.switches;
    samples.waitNs += after.waitNs - before.waitNs;
    samples.runNs += after.runNs - before.runNs;
    side.end();
    return true;
}

struct Percentiles {
    double p50, p90, p99, max; // microseconds
};

Percentiles percentilesOf(std::vector<int64_t> ns) {
    if (ns.empty()) {
        return {0, 0, 0, 0};
    }
    std::sort(ns.begin(), ns.end());
    const auto at = [&](double p) {
        const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(ns.size())));
        return static_cast<double>(ns[std::max<std::size_t>(rank, 1) - 1]) / 1000.0;
    };
    return {at(0.50), at(0.90), at(0.99), static_cast<double>(ns.back()) / 1000.0};
}

// The three sides of the run, in the order of their turns.
struct Results {
    Samples module;     // through vxCam_160
    Samples aravis;     // Aravis's new-buffer signal, consumed on its receiving thread
    Samples handedOver; // the same, handed to a thread of its own by the module's doorbell alone
};

double ratio(double x, double y) {
    return y > 0 ? x / y : 0.0;
}

void printRow(const char* name, std::size_t count, const Percentiles& p) {
    std::printf("  %-30s %7zu %9.1f %9.1f %9.1f %9.1f\n", name, count, p.p50, p.p90, p.p99, p.max);
}

void printRatios(const char* name, const Percentiles& a, const Percentiles& b) {
    std::printf("  %-30s %7s %8.2fx %8.2fx %8.2fx %8.2fx\n", name, "", ratio(a.p50, b.p50), ratio(a.p90, b.p90),
                ratio(a.p99, b.p99), ratio(a.max, b.max));
}

// Prints the three sides' percentiles of one figure and the module's ratios; with `goals`, whether the module
// meets them against Aravis's own signal (returned).
bool printFigure(const char* title, std::vector<int64_t> Samples::*figure, const Results& r, bool goals) {
    const Percentiles m = percentilesOf(r.module.*figure);
    const Percentiles a = percentilesOf(r.aravis.*figure);
    const Percentiles h = percentilesOf(r.handedOver.*figure);
    std::printf("%-32s %7s %9s %9s %9s %9s   (us)\n", title, "frames", "p50", "p90", "p99", "max");
    printRow("module (vxCam_160)", (r.module.*figure).size(), m);
    printRow("Aravis new-buffer signal", (r.aravis.*figure).size(), a);
    printRow("the same + bare hand-over", (r.handedOver.*figure).size(), h);
    printRatios("module / Aravis", m, a);
    printRatios("module / bare hand-over", m, h);
    if (!goals) {
        return true;
    }
    const bool p50Met = ratio(m.p50, a.p50) <= 1.1;
    const bool p99Met = ratio(m.p99, a.p99) <= 1.2;
    std::printf("  goals against Aravis: p50 <= 1.1x %s, p99 <= 1.2x %s\n", p50Met ? "met" : "NOT met",
                p99Met ? "met" : "NOT met");
    return p50Met && p99Met;
}

// What the scheduler did with the thread that runs each side's callback: the module's delivery thread, Aravis's
// receiving thread, the bare hand-over's thread. The virtual camera fills a buffer on every tick, frame or not,
// and each buffer wakes the module's delivery thread too; CPU per wake-up compares the module's delivery thread
// with the bare hand-over's (Aravis's receiving thread fills the buffers, so its figure is the camera's).
void printThreads(const Results& r) {
    const auto per = [](uint64_t value, std::size_t count) {
        return count == 0 ? 0.0 : static_cast<double>(value) / static_cast<double>(count);
    };
    std::printf("the callback's thread:              wake-ups   waiting for a     CPU per\n");
    std::printf("                                   per frame  processor (us)  wake-up (us)\n");
    const auto row = [&](const char* name, const Samples& s) {
        const std::size_t frames = s.triggerToCallback.size();
        std::printf("  %-30s %9.1f %15.1f %13.1f\n", name, per(s.switches, frames), per(s.waitNs, frames) / 1000.0,
                    per(s.runNs, s.switches) / 1000.0);
    };
    row("module (vxCam_160)", r.module);
    row("Aravis new-buffer signal", r.aravis);
    row("the same + bare hand-over", r.handedOver);
}

} // namespace

// The virtual camera takes triggers at its own tick, 25 a second unless told otherwise, and no GenICam feature
// sets it. This definition stands in for Aravis's for the whole process (the module's calls included) and gives
// every virtual camera the tick of its highest frame rate, on both sides alike.
extern "C" ArvFakeCamera* arv_fake_device_get_fake_camera(ArvFakeDevice* device) {
    using Real = ArvFakeCamera* (*)(ArvFakeDevice*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "arv_fake_device_get_fake_camera")); // NOLINT
    ArvFakeCamera* camera = real != nullptr ? real(device) : nullptr;
    if (camera != nullptr) {
        arv_fake_camera_set_trigger_frequency(camera, kTicksPerSecond);
        g_lastVirtualCamera.store(camera);
    }
    return camera;
}

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s MODULE_DIR [ROUNDS [TRIGGERS]]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int triggers = argc > 3 ? std::atoi(argv[3]) : 200;
    // The virtual camera only, and a production host's logging: the module's debug lines off, and the
    // warnings that every open writes.
    qputenv("VXCAM_TRANSPORTS", "virtual");
    qputenv("QT_LOGGING_RULES", "*.debug=false;vxcam.driver.warning=false");
    arv_enable_interface("Fake");
    hookNewBufferSignal();

    ModuleSide module(QString::fromLocal8Bit(argv[1]));
    AravisSide aravis(nullptr);
    BareHandOver bareHandOver;
    AravisSide handedOver(&bareHandOver);
    Results r;
    std::mt19937 random(2112);
    for (int round = 0; round < rounds; ++round) {
        if (!runTurn(module, triggers, random, r.module) || !runTurn(aravis, triggers, random, r.aravis) ||
            !runTurn(handedOver, triggers, random, r.handedOver)) {
            std::fprintf(stderr, "round %d: a side could not start\n", round + 1);
            return 1;
        }
    }
    std::printf("%d rounds of %d software triggers a side, in turns; lost (no frame within 1 s): %d, %d, %d\n", rounds,
                triggers, r.module.lost, r.aravis.lost, r.handedOver.lost);
    const bool met = printFigure("trigger -> callback", &Samples::triggerToCallback, r, true);
    printFigure("hand-over (signal -> callback)", &Samples::handOver, r, false);
    printFigure("the trigger call", &Samples::triggerCall, r, false);
    printThreads(r);
    return met ? 0 : 3;
}
