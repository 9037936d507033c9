#include "host/GrabSession.h"

#include "contract/IVeyraCameraObject.h"
#include "host/CameraChoice.h"
#include "host/Console.h"
#include "host/ContactSheet.h"
#include "host/FrameCollector.h"
#include "host/FrameWriter.h"
#include "host/HostPlatform.h"
#include "host/SdkCameraDetails.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

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

// True when a file can be made in `folder`: checked before the camera starts, so that a folder the tool cannot
// write to ends the run at once instead of after the grab.
bool canWriteInto(const QString& folder, QString& why) {
    QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".vxcam-probe-XXXXXX")));
    if (probe.open()) {
        return true;
    }
    why = probe.errorString();
    return false;
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
    bool moduleFailed = false; // no frame came, and the module had reported why
};

// Without any frame, a delivery error of the module says why at the first frame (a pixel format it cannot
// convert, say): the grab waits this long for a frame that gets through, not the whole timeout.
constexpr auto kGraceAfterModuleError = std::chrono::seconds(1);
// The module's routine that hands frames to the host, as its log lines name it.
constexpr char kDeliveryMethod[] = "CCameraVeyra::BufferReady";

QString progressLine(const GrabOptions& options, const QString& cameraId, const FrameTally& tally, double elapsedS) {
    const double fps = elapsedS > 0.0 ? static_cast<double>(tally.received) / elapsedS : 0.0;
    return QStringLiteral("%1  %2  %3 frames  %4 fps  %5 lost  %6 s")
        .arg(cameraId, triggerName(options.trigger))
        .arg(tally.received)
        .arg(QString::number(fps, 'f', 1))
        .arg(tally.lost)
        .arg(QString::number(elapsedS, 'f', 1));
}

// Waits for frames until the count is reached, the time is up, the camera stalls, or Ctrl-C; in the software
// trigger mode it fires one trigger whenever the frame of the last one has come. The picture writer's threads
// write pictures meanwhile.
Collected collect(const GrabOptions& options, const QString& cameraId, ICameraObject& camera,
                  FrameCollector& collector) {
    using Seconds = std::chrono::duration<double>;
    const Clock::time_point started = Clock::now();
    const Clock::time_point end =
        options.durationS ? started + std::chrono::duration_cast<Clock::duration>(Seconds(*options.durationS))
                          : Clock::time_point::max();
    // Without --timeout (only with --duration) no wait for a frame is too long.
    const bool watchStall = options.timeoutS.has_value();
    const auto timeout = std::chrono::duration_cast<Clock::duration>(Seconds(options.timeoutS.value_or(0.0)));
    const int64_t limit = options.frames.value_or(0);
    const bool soft = options.trigger == SoftTrigger;

    Collected result;
    Clock::time_point lastActivity = started; // the last frame, or the last trigger
    Clock::time_point nextProgress = started;
    FrameTally tally = collector.tally();
    int64_t seen = 0;
    std::optional<Clock::time_point> moduleErrorSeen; // while no frame came
    for (;;) {
        if (tally.received != seen) {
            seen = tally.received;
            lastActivity = Clock::now();
        }
        const Clock::time_point now = Clock::now();
        if ((limit > 0 && tally.received >= limit) || now >= end) {
            break;
        }
        if (watchStall && now - lastActivity >= timeout) {
            result.stalled = true;
            break;
        }
        if (platform::interrupted()) {
            result.interrupted = true;
            break;
        }
        if (tally.received == 0 && !moduleErrorSeen && options.trigger != Idle &&
            Console::instance().hasModuleErrorFrom(QLatin1String(kDeliveryMethod))) {
            moduleErrorSeen = now;
        }
        if (tally.received == 0 && moduleErrorSeen && now - *moduleErrorSeen >= kGraceAfterModuleError) {
            result.stalled = true;
            result.moduleFailed = true;
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
        if (watchStall) {
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
    const QString reason =
        !report.pixelsNote.isEmpty() ? report.pixelsNote
        : writer.failures() > 0      ? writer.firstFailure()
        : report.tally.unreadable > 0
            ? QStringLiteral("the module gave frames without pixels or of an unreadable size")
            : QStringLiteral("the picture writer fell behind the camera with %1 MiB of frames waiting; save fewer "
                             "(--every K) or pace the camera (--trigger soft)")
                  .arg(FrameCollector::kMaxKeptBytes >> 20U);
    return QStringLiteral("%1 of the frames to save not saved: %2").arg(report.framesNotSaved).arg(reason);
}

// Why frames were lost on the way from the camera and what to do, or nothing when none was. The IDs skipped are
// frames the camera numbered that never reached the host: sent while none of the stream's buffers was free, or
// lost by the transport.
QString lostFramesWarning(const GrabReport& report, bool saving) {
    const int64_t lost = report.tally.lost;
    if (lost == 0) {
        return {};
    }
    const QString frames = plural(lost, "frame", "frames");
    // The stream's own counts tell the causes apart; the IDs alone cannot.
    if (report.stream) {
        const QString cause = likelyStreamCause(*report.stream);
        if (!cause.isEmpty() && !saving) {
            return QStringLiteral("%1 lost (gaps in the frame IDs): %2").arg(frames, cause);
        }
    }
    if (saving) {
        return QStringLiteral("%1 lost (gaps in the frame IDs): the camera's buffers ran out while the tool copied "
                              "frames out for saving, or the transport lost them; save fewer (--every K), pace the "
                              "camera (--trigger soft) or lower its frame rate")
            .arg(frames);
    }
    return QStringLiteral("%1 lost (gaps in the frame IDs): the camera's buffers ran out because the host took frames "
                          "slower than the camera sent them, or the transport lost them; pace the camera (--trigger "
                          "soft) or lower its frame rate")
        .arg(frames);
}

// What the run amounts to, the most important failure first.
void judge(GrabReport& report, const GrabOptions& options, const Collected& collected, const FrameWriter* writer) {
    const int64_t received = report.tally.received;
    if (collected.interrupted) {
        report.exitCode = ExitCode::Interrupted;
        report.problem = QStringLiteral("interrupted after %1 of the grab").arg(plural(received, "frame", "frames"));
    } else if (collected.triggerRefused) {
        report.exitCode = ExitCode::StartFailed;
        report.problem = QStringLiteral("the camera refused software trigger %1").arg(collected.softwareTriggers + 1);
    } else if (options.frames && received < *options.frames) {
        report.exitCode = ExitCode::TooFewFrames;
        report.problem = collected.moduleFailed
                             ? QStringLiteral("only %1 of %2 frames arrived: none came within %3 s of the module's "
                                              "first failure")
                                   .arg(received)
                                   .arg(*options.frames)
                                   .arg(std::chrono::duration<double>(kGraceAfterModuleError).count())
                         : collected.stalled ? QStringLiteral("only %1 of %2 frames arrived: none came for %3 s")
                                                   .arg(received)
                                                   .arg(*options.frames)
                                                   .arg(options.timeoutS.value_or(0.0))
                                             : QStringLiteral("only %1 of %2 frames arrived in %3 s")
                                                   .arg(received)
                                                   .arg(*options.frames)
                                                   .arg(QString::number(collected.elapsedS, 'f', 1));
    } else if (!options.frames && received == 0 && options.trigger != Idle) {
        report.exitCode = ExitCode::TooFewFrames;
        report.problem =
            collected.moduleFailed
                ? QStringLiteral("no frame arrived: none came within %1 s of the module's first failure")
                      .arg(std::chrono::duration<double>(kGraceAfterModuleError).count())
            : collected.stalled
                ? QStringLiteral("no frame arrived: none came for %1 s").arg(options.timeoutS.value_or(0.0))
                : QStringLiteral("no frame arrived in %1 s").arg(QString::number(collected.elapsedS, 'f', 1));
    } else if (!options.frames && collected.stalled) {
        report.exitCode = ExitCode::TooFewFrames;
        report.problem = QStringLiteral("the frames stopped: none came for %1 s").arg(options.timeoutS.value_or(0.0));
    } else if (writer != nullptr) {
        report.problem = unsavedReason(report, *writer);
        if (report.problem.isEmpty() && writer->failures() > 0) {
            report.problem = writer->firstFailure();
        }
        if (!report.problem.isEmpty()) {
            report.exitCode = ExitCode::OutputFailed;
        }
    }
    if (report.exitCode == ExitCode::Success) {
        report.warning = lostFramesWarning(report, writer != nullptr);
    }
    // Frames the module could not deliver never reach the host; its first error says why, once and first.
    if (report.exitCode == ExitCode::TooFewFrames && !report.moduleError.isEmpty()) {
        report.problem =
            QStringLiteral("the module failed to deliver frames: %1; %2").arg(report.moduleError, report.problem);
    }
}

GrabReport reportOf(const GrabOptions& options, const QString& cameraId) {
    GrabReport report;
    report.camera = cameraId;
    report.trigger = triggerName(options.trigger);
    report.exposureUs = options.exposureUs;
    report.framesAsked = options.frames;
    report.durationAsked = options.durationS;
    report.saveDir = options.saveDir;
    report.saveEvery = options.every;
    return report;
}

// What the module said of the first frame, for the report.
void describeReceived(GrabReport& report) {
    const FrameTally& tally = report.tally;
    if (!tally.format) {
        report.pixelFormatSource = QStringLiteral("no frame arrived to describe it");
        return;
    }
    if (!tally.format->described) {
        report.pixelFormatSource = QStringLiteral("the module did not describe the frames");
        report.pixelsNote = QStringLiteral("pixels not read: the module did not describe the frames");
        return;
    }
    report.cameraPixelFormat = tally.format->cameraPixelFormat;
    report.pixelFormatSource = QStringLiteral("as the module describes each frame");
    report.layout = tally.format->layout;
    report.linePitch = tally.format->linePitch;
    report.byteSize = tally.format->byteSize;
    if (!report.layout.known()) {
        report.pixelsNote = QStringLiteral("pixels not read: this tool does not read %1").arg(report.layout.name);
    } else if (report.tally.unreadable > 0) {
        report.pixelsNote = QStringLiteral("pixels not read: the module's frame memory (%1 bytes) is smaller than a "
                                           "%2 x %3 frame of %4")
                                .arg(report.byteSize)
                                .arg(tally.width)
                                .arg(tally.height)
                                .arg(report.layout.name);
    }
}

// The contact sheet of the sampled frames, beside the pictures; each tile labelled with the camera and the
// frame ID.
void writeSheet(GrabResult& result, FrameWriter& writer, const FrameCollector& collector) {
    GrabReport& report = *result.report;
    const std::vector<int64_t> chosen = collector.sheetFrames();
    result.sheetTiles.clear();
    for (const FrameTile& tile : writer.tilesOf(chosen)) {
        result.sheetTiles.push_back(
            labelledTile(tile.picture, QStringLiteral("%1  #%2").arg(report.camera).arg(tile.frameId)));
    }
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

// Frame pictures already in `folder`, as this tool names them.
int64_t earlierPicturesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("frame-*.png")}, QDir::Files).size();
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

QString microsecondsText(double value) {
    return QString::number(value, 'g', 12);
}

std::optional<ExposureLimits> readExposureLimits(const QString& cameraId) {
    QString error;
    const std::optional<SdkCameraDetails> details = readSdkCameraDetails(serialOf(cameraId), error);
    if (!details || details->exposureFeature.isEmpty() || !details->exposureMin || !details->exposureMax) {
        return std::nullopt;
    }
    return ExposureLimits{*details->exposureMin, *details->exposureMax, details->exposureValue.value_or(0.0)};
}

std::optional<QString> writeExposure(ICameraObject& camera, int32_t microseconds,
                                     const std::optional<ExposureLimits>& limits) {
    static const QString kMethod = QStringLiteral("CCameraVeyra::ISetProperty");
    static_cast<void>(Console::instance().takeModuleComplaint(kMethod));
    CameraProperty exposure{1, microseconds};
    // The answer decides; the module's log line about the call, when there is one, only says why.
    const bool taken = camera.ISetProperty(&exposure);
    const QString complaint = Console::instance().takeModuleComplaint(kMethod);
    if (taken) {
        return std::nullopt;
    }
    QString why = complaint.isEmpty() ? QStringLiteral("the module answered false") : complaint;
    if (limits) {
        why += QStringLiteral("; the camera takes %1 to %2 us")
                   .arg(microsecondsText(limits->min), microsecondsText(limits->max));
    }
    return why;
}

namespace {

// "the pixel format BayerRG8", "the packet size 8000", or both.
QString settingsText(const SdkSettings& settings) {
    QStringList parts;
    if (!settings.pixelFormat.isEmpty()) {
        parts << QStringLiteral("the pixel format %1").arg(settings.pixelFormat);
    }
    if (settings.packetSize) {
        parts << QStringLiteral("the packet size %1").arg(*settings.packetSize);
    }
    return parts.join(QStringLiteral(" and "));
}

} // namespace

SettingsChoice chooseSettings(const QString& cameraId, const SdkSettings& settings) {
    SettingsChoice choice;
    SdkSettingsHold::Refusal refusal;
    choice.hold = SdkSettingsHold::choose(serialOf(cameraId), settings, refusal);
    if (choice.hold) {
        return choice;
    }
    if (refusal.cameraUnavailable) {
        choice.failureCode = ExitCode::CameraUnavailable;
        choice.failure = QStringLiteral("camera '%1' could not be opened to choose %2: %3")
                             .arg(cameraId, settingsText(settings), refusal.reason);
    } else {
        choice.failureCode = ExitCode::SettingRefused;
        choice.failure =
            QStringLiteral("camera '%1' refused %2: %3").arg(cameraId, settingsText(settings), refusal.reason);
    }
    return choice;
}

std::optional<QString> unwritableFolder(const QString& folder) {
    const QFileInfo existing(folder);
    if (existing.exists() && !existing.isDir()) {
        return QStringLiteral("'%1' is a file, not a folder; name a folder for the pictures")
            .arg(QDir::toNativeSeparators(folder));
    }
    if (!QDir().mkpath(folder)) {
        return QStringLiteral("cannot create the folder '%1'").arg(QDir::toNativeSeparators(folder));
    }
    QString why;
    if (!canWriteInto(folder, why)) {
        return QStringLiteral("cannot write into the folder '%1': %2").arg(QDir::toNativeSeparators(folder), why);
    }
    return std::nullopt;
}

GrabResult grab(const CameraModule& module, const GrabOptions& options) {
    if (!options.saveDir.isEmpty()) {
        if (const std::optional<QString> why = unwritableFolder(options.saveDir)) {
            return failure(ExitCode::OutputFailed, *why);
        }
    }
    const std::optional<QStringList> listed = listCameras(module);
    if (!listed) {
        return failure(ExitCode::ModuleUnusable, QStringLiteral("the module made no camera object"));
    }
    const CameraChoice choice = chooseCamera(*listed, options.camera);
    if (!choice.id) {
        return failure(ExitCode::CameraUnavailable, choice.error);
    }
    const QString& cameraId = *choice.id;
    // Read before the module's camera object exists: the SDK layer's system list is the tool's for the read.
    const std::optional<ExposureLimits> limits =
        options.exposureUs ? readExposureLimits(cameraId) : std::optional<ExposureLimits>();
    // Made before the module's camera object and destroyed after it (declared first).
    SettingsChoice settings;
    if (!options.pixelFormat.isEmpty() || options.packetSize) {
        settings = chooseSettings(cameraId, SdkSettings{options.pixelFormat, options.packetSize});
        if (!settings.hold) {
            return failure(settings.failureCode, settings.failure);
        }
    }

    FrameCollector::Plan plan;
    plan.frameLimit = options.frames.value_or(0);
    if (!options.saveDir.isEmpty()) {
        plan.saveEvery = options.every;
        plan.sheetTiles = kSheetTiles;
    }
    // The record and the callback outlive the camera object: the run below is destroyed first.
    CameraConfig config;
    config.cameraType = CameraTypeVeyra;
    config.cameraId = cameraId;
    FrameCollector collector(plan);
    CameraModule::CameraHandle handle = module.makeCamera(&config, &collector);
    if (!handle) {
        return failure(ExitCode::ModuleUnusable, QStringLiteral("the module made no camera object"));
    }
    CameraRun run(std::move(handle));
    if (!run.open()) {
        return failure(ExitCode::CameraUnavailable,
                       QStringLiteral("camera '%1' is listed but did not open").arg(cameraId));
    }
    if (options.exposureUs) {
        if (const std::optional<QString> refusal = writeExposure(*run.get(), *options.exposureUs, limits)) {
            return failure(ExitCode::SettingRefused, QStringLiteral("camera '%1' refused the exposure %2 us: %3")
                                                         .arg(cameraId)
                                                         .arg(*options.exposureUs)
                                                         .arg(*refusal));
        }
    }
    GrabResult result;
    result.report = reportOf(options, cameraId);
    GrabReport& report = *result.report;
    if (!options.saveDir.isEmpty()) {
        report.earlierPictures = earlierPicturesIn(options.saveDir);
        if (report.earlierPictures > 0) {
            Console::instance().note(
                QStringLiteral("the folder '%1' holds %2 of an earlier run: frames of this run replace those of the "
                               "same number, the others stay (an empty folder keeps runs apart)")
                    .arg(QDir::toNativeSeparators(options.saveDir),
                         plural(report.earlierPictures, "frame picture", "frame pictures")));
        }
    }
    report.contractBitsPerPixel = run.get()->m_nBitsPerPixel;
    report.contractImageFormat = run.get()->m_nImageFormat;
    // Errors the module logged before the frames (none of them stops a grab) are not why frames are missing.
    static_cast<void>(Console::instance().takeModuleError());
    if (!run.start(options.trigger)) {
        return failure(
            ExitCode::StartFailed,
            QStringLiteral("camera '%1' did not start in trigger mode %2").arg(cameraId, triggerName(options.trigger)));
    }
    Console::instance().note(QStringLiteral("grabbing from %1 in trigger mode %2 (Ctrl-C stops)")
                                 .arg(cameraId, triggerName(options.trigger)));

    std::optional<FrameWriter> writer;
    if (!options.saveDir.isEmpty()) {
        writer.emplace(options.saveDir, collector);
    }
    const Collected collected = collect(options, cameraId, *run.get(), collector);
    run.stop();
    if (writer) {
        writer->finish();
    }
    // Read while the camera is open: its streams' counts end with the close.
    VeyraStreamStatistics stream;
    if (asVeyraCamera(run.get())->IGetStreamStatistics(&stream) == 1) {
        report.stream = stream;
    }
    run.close();

    report.tally = collector.tally();
    report.elapsedS = collected.elapsedS;
    report.softwareTriggers = collected.softwareTriggers;
    report.interrupted = collected.interrupted;
    report.moduleError = Console::instance().takeModuleError();
    describeReceived(report);
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
