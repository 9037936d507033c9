#include "host/GrabSession.h"

#include "contract/IVeyraCameraObject.h"
#include "host/Console.h"
#include "host/ContactSheet.h"
#include "host/FrameCollector.h"
#include "host/FrameWriter.h"
#include "host/HostPlatform.h"
#include "host/SimulatedCamera.h"

#include <QDir>

#include <algorithm>
#include <chrono>
#include <utility>

namespace vxcam::host {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kSheetTiles = 16;
constexpr std::size_t kSheetColumns = 4;
constexpr auto kProgressInterval = 250ms;

// A callback for objects that only list cameras: they never start, so it is never called.
class NoFrames final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override {}
};

// The listed identifier `wanted` stands for: itself, the same with another case, or the one of a serial.
std::optional<QString> resolveCamera(const QStringList& listed, const QString& wanted) {
    for (const QString& id : listed) {
        if (id == wanted) {
            return id;
        }
    }
    for (const QString& id : listed) {
        if (id.compare(wanted, Qt::CaseInsensitive) == 0 || serialOf(id) == wanted) {
            return id;
        }
    }
    return std::nullopt;
}

QString unknownCameraMessage(const QString& wanted, const QStringList& listed) {
    if (listed.isEmpty()) {
        return QStringLiteral("unknown camera '%1': the module lists no camera (simulated cameras need "
                              "VXCAM_SIM_CONFIG naming their file)")
            .arg(wanted);
    }
    return QStringLiteral("unknown camera '%1'; the module lists: %2").arg(wanted, listed.join(QStringLiteral(", ")));
}

// The camera's pixel format as far as the host can know it, and the received layout that follows from it.
struct FormatKnowledge {
    QString pixelFormat;
    QString source;
    uint64_t readableBytes = 0;
    ReceivedLayout layout;
    QString pixelsNote; // why the pixels will not be read
};

// The contract tells a host neither the camera's pixel format nor the size of a frame's memory, so the tool
// reads pixels only where it knows both: on simulated cameras, from their configuration. Elsewhere it counts
// frames and leaves the pixels alone rather than guess a layout and read past a buffer.
FormatKnowledge knowFormat(const QString& cameraId) {
    FormatKnowledge known;
    const std::optional<SimulatedCamera> simulated = findSimulatedCamera(serialOf(cameraId));
    if (!simulated) {
        known.source = QStringLiteral("the contract does not tell it, and no simulated configuration has the camera");
        known.pixelsNote = QStringLiteral("pixels not read: the received layout is unknown");
        return known;
    }
    known.pixelFormat = simulated->pixelFormat;
    known.source = QStringLiteral("from the simulated configuration");
    known.layout = receivedLayoutFor(known.pixelFormat);
    // Frames that pass through are read in the camera's own buffer; converted ones in the module's image.
    const bool passesThrough = known.layout.known() && known.layout.samples != SampleLayout::Bgr8;
    known.readableBytes = passesThrough ? simulated->payloadSize : 0;
    const std::optional<std::size_t> needed = known.layout.frameBytes(simulated->width, simulated->height);
    if (!known.layout.known()) {
        known.pixelsNote = QStringLiteral("pixels not read: this tool does not read %1").arg(known.pixelFormat);
    } else if (known.readableBytes > 0 && needed && *needed > known.readableBytes) {
        known.pixelsNote = QStringLiteral("pixels not read: the camera's buffers (%1 bytes) are smaller than a "
                                          "frame (%2 bytes)")
                               .arg(simulated->payloadSize)
                               .arg(*needed);
    }
    return known;
}

// The camera object of one grab, stopped and closed on every way out before it goes back to the module.
class CameraRun {
public:
    explicit CameraRun(CameraModule::CameraHandle camera) : m_camera(std::move(camera)) {}
    ~CameraRun() {
        stop();
        close();
    }
    CameraRun(const CameraRun&) = delete;
    CameraRun& operator=(const CameraRun&) = delete;

    [[nodiscard]] ICameraObject* get() const noexcept { return m_camera.get(); }

    bool open() {
        m_bOpened = m_camera->IOpenCamera() == 1;
        return m_bOpened;
    }
    // True when the camera runs in `mode`; the idle mode starts nothing and only needs the call to succeed.
    bool start(AcqTriggerMode mode) {
        m_camera->m_nTriggerMode = mode;
        m_bStarted = true;
        const int32_t started = m_camera->IStartCamera();
        return started == 1 && (mode == Idle || m_camera->m_bRunning);
    }
    // Returns once no frame is being delivered.
    void stop() {
        if (m_bStarted) {
            m_camera->IStopCamera();
            m_bStarted = false;
        }
    }
    void close() {
        if (m_bOpened) {
            m_camera->ICloseCamera();
            m_bOpened = false;
        }
    }

private:
    CameraModule::CameraHandle m_camera;
    bool m_bOpened = false;
    bool m_bStarted = false;
};

// How the collecting ended.
struct Collected {
    double elapsedS = 0.0;
    int64_t softwareTriggers = 0;
    bool stalled = false;
    bool interrupted = false;
    bool triggerRefused = false;
};

QString progressLine(const GrabOptions& options, const QString& cameraId, const FrameTally& tally, double elapsedS) {
    const double fps = elapsedS > 0.0 ? static_cast<double>(tally.received) / elapsedS : 0.0;
    return QStringLiteral("%1  %2  %3 frames  %4 fps  %5 lost  %6 s")
        .arg(cameraId, triggerName(options.trigger))
        .arg(tally.received)
        .arg(QString::number(fps, 'f', 1))
        .arg(tally.lost)
        .arg(QString::number(elapsedS, 'f', 1));
}

// Waits for frames until the count is reached, the time is up, the camera stalls or Ctrl-C; in the software
// trigger mode it fires one trigger whenever the frame of the last one has come. Pictures are written as
// their copies arrive.
Collected collect(const GrabOptions& options, const QString& cameraId, ICameraObject& camera, FrameCollector& collector,
                  FrameWriter* writer) {
    using Seconds = std::chrono::duration<double>;
    const Clock::time_point started = Clock::now();
    const Clock::time_point end =
        options.durationS ? started + std::chrono::duration_cast<Clock::duration>(Seconds(*options.durationS))
                          : Clock::time_point::max();
    const auto timeout = std::chrono::duration_cast<Clock::duration>(Seconds(options.timeoutS));
    const int64_t limit = options.frames.value_or(0);
    const bool soft = options.trigger == SoftTrigger;

    Collected result;
    Clock::time_point lastActivity = started; // the last frame, or the last trigger
    Clock::time_point nextProgress = started;
    FrameTally tally = collector.tally();
    int64_t seen = 0;
    for (;;) {
        if (tally.received != seen) {
            seen = tally.received;
            lastActivity = Clock::now();
        }
        // One picture per turn, so that a slow disk cannot hold the loop long past its end.
        if (writer != nullptr) {
            writer->take(collector.takeCaptured(1), collector);
        }
        const Clock::time_point now = Clock::now();
        if ((limit > 0 && tally.received >= limit) || now >= end) {
            break;
        }
        if (!options.durationS && now - lastActivity >= timeout) {
            result.stalled = true;
            break;
        }
        if (platform::interrupted()) {
            result.interrupted = true;
            break;
        }
        if (soft && result.softwareTriggers <= tally.received && (limit == 0 || result.softwareTriggers < limit)) {
            if (asVeyraCamera(&camera)->ISendSoftTrigger() != 1) {
                result.triggerRefused = true;
                break;
            }
            ++result.softwareTriggers;
            lastActivity = Clock::now();
        }
        if (now >= nextProgress) {
            Console::instance().progress(progressLine(options, cameraId, tally, Seconds(now - started).count()));
            nextProgress = now + kProgressInterval;
        }
        Clock::time_point until = std::min(nextProgress, end);
        if (!options.durationS) {
            until = std::min(until, lastActivity + timeout);
        }
        tally = collector.waitForChange(seen, until);
    }
    Console::instance().endProgress();
    result.elapsedS = Seconds(Clock::now() - started).count();
    return result;
}

// Why frames that were to be saved are missing, or nothing when none is.
QString unsavedReason(const GrabReport& report, const FrameWriter& writer) {
    if (report.framesNotSaved == 0) {
        return {};
    }
    QString reason = !report.pixelsNote.isEmpty() ? report.pixelsNote
                     : writer.failures() > 0      ? writer.firstFailure()
                     : report.tally.unreadable > 0
                         ? QStringLiteral("the module gave frames without pixels or of an unreadable size")
                         : QStringLiteral("the picture writer fell behind the camera");
    return QStringLiteral("%1 of the frames to save not saved: %2").arg(report.framesNotSaved).arg(reason);
}

// What the run amounts to, the most important failure first.
void judge(GrabReport& report, const GrabOptions& options, const Collected& collected, const FrameWriter* writer) {
    const int64_t received = report.tally.received;
    if (collected.triggerRefused) {
        report.exitCode = ExitCode::StartFailed;
        report.problem = QStringLiteral("the camera refused software trigger %1").arg(collected.softwareTriggers + 1);
    } else if (options.frames && received < *options.frames) {
        report.exitCode = ExitCode::TooFewFrames;
        report.problem = collected.stalled ? QStringLiteral("only %1 of %2 frames arrived: none came for %3 s")
                                                 .arg(received)
                                                 .arg(*options.frames)
                                                 .arg(options.timeoutS)
                                           : QStringLiteral("only %1 of %2 frames arrived in %3 s")
                                                 .arg(received)
                                                 .arg(*options.frames)
                                                 .arg(QString::number(collected.elapsedS, 'f', 1));
    } else if (!options.frames && received == 0 && options.trigger != Idle) {
        report.exitCode = ExitCode::TooFewFrames;
        report.problem = QStringLiteral("no frame arrived in %1 s").arg(QString::number(collected.elapsedS, 'f', 1));
    } else if (writer != nullptr) {
        report.problem = unsavedReason(report, *writer);
        if (report.problem.isEmpty() && writer->failures() > 0) {
            report.problem = writer->firstFailure();
        }
        if (!report.problem.isEmpty()) {
            report.exitCode = ExitCode::OutputFailed;
        }
    }
}

GrabReport reportOf(const GrabOptions& options, const QString& cameraId, const FormatKnowledge& known) {
    GrabReport report;
    report.camera = cameraId;
    report.trigger = triggerName(options.trigger);
    report.exposureUs = options.exposureUs;
    report.framesAsked = options.frames;
    report.durationAsked = options.durationS;
    report.cameraPixelFormat = known.pixelFormat;
    report.pixelFormatSource = known.source;
    report.layout = known.layout;
    report.pixelsNote = known.pixelsNote;
    report.saveDir = options.saveDir;
    report.saveEvery = options.every;
    return report;
}

// The contact sheet of the sampled frames, beside the pictures.
void writeSheet(GrabResult& result, FrameWriter& writer, const FrameCollector& collector) {
    GrabReport& report = *result.report;
    const std::vector<int64_t> chosen = collector.sheetFrames();
    result.sheetTiles = writer.tilesOf(chosen);
    const QImage sheet = composeSheet(gridOf(result.sheetTiles, kSheetColumns));
    if (sheet.isNull()) {
        return;
    }
    const QString path = QDir(report.saveDir).filePath(QStringLiteral("contact-sheet.png"));
    if (writer.savePng(sheet, path)) {
        report.contactSheet = path;
        report.sheetFrames = chosen;
    }
}

GrabResult failure(ExitCode code, const QString& error) {
    GrabResult result;
    result.exitCode = code;
    result.error = error;
    return result;
}

} // namespace

std::optional<QStringList> listCameras(const CameraModule& module) {
    CameraConfig config;
    config.cameraType = CameraTypeVeyra;
    NoFrames callback;
    const CameraModule::CameraHandle lister = module.makeCamera(&config, &callback);
    if (!lister) {
        return std::nullopt;
    }
    return lister->IEnumAvailableCameras();
}

GrabResult grab(const CameraModule& module, const GrabOptions& options) {
    if (!options.saveDir.isEmpty() && !QDir().mkpath(options.saveDir)) {
        return failure(ExitCode::OutputFailed,
                       QStringLiteral("cannot create the folder '%1'").arg(QDir::toNativeSeparators(options.saveDir)));
    }
    const std::optional<QStringList> listed = listCameras(module);
    if (!listed) {
        return failure(ExitCode::ModuleUnusable, QStringLiteral("the module made no camera object"));
    }
    const std::optional<QString> cameraId = resolveCamera(*listed, options.camera);
    if (!cameraId) {
        return failure(ExitCode::CameraUnavailable, unknownCameraMessage(options.camera, *listed));
    }
    const FormatKnowledge known = knowFormat(*cameraId);

    FrameCollector::Plan plan;
    plan.layout = known.pixelsNote.isEmpty() ? known.layout : ReceivedLayout{};
    plan.readableBytes = known.readableBytes;
    plan.frameLimit = options.frames.value_or(0);
    if (!options.saveDir.isEmpty()) {
        plan.saveEvery = options.every;
        plan.sheetTiles = kSheetTiles;
    }
    // The record and the callback outlive the camera object: the run below is destroyed first.
    CameraConfig config;
    config.cameraType = CameraTypeVeyra;
    config.cameraId = *cameraId;
    FrameCollector collector(plan);
    CameraModule::CameraHandle handle = module.makeCamera(&config, &collector);
    if (!handle) {
        return failure(ExitCode::ModuleUnusable, QStringLiteral("the module made no camera object"));
    }
    CameraRun run(std::move(handle));
    if (!run.open()) {
        return failure(ExitCode::CameraUnavailable,
                       QStringLiteral("camera '%1' is listed but did not open").arg(*cameraId));
    }
    GrabResult result;
    result.report = reportOf(options, *cameraId, known);
    GrabReport& report = *result.report;
    report.contractBitsPerPixel = run.get()->m_nBitsPerPixel;
    report.contractImageFormat = run.get()->m_nImageFormat;
    if (options.exposureUs) {
        CameraProperty exposure{1, *options.exposureUs};
        run.get()->ISetProperty(&exposure);
    }
    if (!run.start(options.trigger)) {
        return failure(ExitCode::StartFailed, QStringLiteral("camera '%1' did not start in trigger mode %2")
                                                  .arg(*cameraId, triggerName(options.trigger)));
    }

    std::optional<FrameWriter> writer;
    if (!options.saveDir.isEmpty()) {
        writer.emplace(options.saveDir, plan.layout);
    }
    const Collected collected = collect(options, *cameraId, *run.get(), collector, writer ? &*writer : nullptr);
    run.stop();
    if (writer) {
        writer->take(collector.takeCaptured(), collector);
    }
    run.close();

    report.tally = collector.tally();
    report.elapsedS = collected.elapsedS;
    report.softwareTriggers = collected.softwareTriggers;
    report.interrupted = collected.interrupted;
    if (writer) {
        writeSheet(result, *writer, collector);
        report.saved = writer->saved();
        const int64_t toSave = (report.tally.received + options.every - 1) / options.every;
        report.framesNotSaved = std::max<int64_t>(0, toSave - static_cast<int64_t>(report.saved.size()));
    }
    judge(report, options, collected, writer ? &*writer : nullptr);
    result.exitCode = report.exitCode;
    return result;
}

} // namespace vxcam::host
