#include "host/ViewerWindow.h"

#include "contract/IVeyraCameraObject.h"
#include "host/CameraChoice.h"
#include "host/Commands.h"
#include "host/Console.h"
#include "host/ContactSheet.h"
#include "host/FrameImage.h"
#include "host/FrameWriter.h"
#include "host/GrabReport.h"
#include "host/GrabSession.h"
#include "host/HostPlatform.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace vxcam::host {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 250;
// The window looks for a new frame at about the rate of a screen; frames in between are not drawn.
constexpr int kRefreshMs = 15;
constexpr QRgb kViewBackground = qRgb(48, 48, 48);

struct ModeEntry {
    const char* label;
    AcqTriggerMode mode;
};

constexpr ModeEntry kModes[] = {
    {"Free run", FreeRun},
    {"Free run, frame IDs from 0", FreeRunResetFrameId},
    {"Software trigger", SoftTrigger},
    {"Line trigger", LineTrigger},
    {"Idle", Idle},
};

// A widget or object that its Qt parent owns and deletes with itself: Qt's own ownership, kept in one place.
template <typename T, typename Parent, typename... Args>
T* ownedBy(Parent* parent, Args&&... args) {
    return new T(std::forward<Args>(args)..., parent); // NOLINT(cppcoreguidelines-owning-memory)
}

} // namespace

// ---- FrameView -------------------------------------------------------------------------------------------

FrameView::FrameView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(160, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void FrameView::show(QImage picture) {
    m_picture = std::move(picture);
    update();
}

void FrameView::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(kViewBackground));
    if (m_picture.isNull()) {
        return;
    }
    const QSize scaled = m_picture.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - scaled.width()) / 2, (height() - scaled.height()) / 2), scaled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(target, m_picture);
}

// ---- ViewerWindow ----------------------------------------------------------------------------------------

ViewerWindow::ViewerWindow(const CameraModule& module, QString cameraId, ViewOptions options)
    : m_module(module), m_cameraId(std::move(cameraId)), m_options(std::move(options)) {
    m_config.cameraType = CameraTypeVeyra;
    m_config.cameraId = m_cameraId;
    m_mode = m_options.trigger;
    setWindowTitle(QStringLiteral("vxcam view - %1").arg(m_cameraId));
    buildControls();
    resize(800, 600);
}

ViewerWindow::~ViewerWindow() {
    stopCamera();
}

void ViewerWindow::buildControls() {
    m_pView = ownedBy<FrameView>(this);
    setCentralWidget(m_pView);

    auto* controls = addToolBar(QStringLiteral("Camera"));
    controls->setMovable(false);
    controls->addWidget(ownedBy<QLabel>(controls, QStringLiteral(" Trigger ")));
    m_pTrigger = ownedBy<QComboBox>(controls);
    for (const ModeEntry& entry : kModes) {
        m_pTrigger->addItem(QLatin1String(entry.label), static_cast<int>(entry.mode));
    }
    m_pTrigger->setCurrentIndex(m_pTrigger->findData(static_cast<int>(m_mode)));
    controls->addWidget(m_pTrigger);
    m_pSoftTrigger = ownedBy<QPushButton>(controls, QStringLiteral("Trigger"));
    m_pSoftTrigger->setObjectName(QStringLiteral("softTrigger"));
    m_pSoftTrigger->setToolTip(QStringLiteral("Fire one software trigger"));
    controls->addWidget(m_pSoftTrigger);
    controls->addSeparator();
    controls->addWidget(ownedBy<QLabel>(controls, QStringLiteral(" Exposure (us) ")));
    m_pExposure = ownedBy<QSpinBox>(controls);
    m_pExposure->setObjectName(QStringLiteral("exposure"));
    // Limits and value come from the camera once it is open (showCameraExposure); until then it takes nothing.
    m_pExposure->setRange(1, std::numeric_limits<int32_t>::max());
    m_pExposure->setValue(m_options.exposureUs.value_or(1));
    m_pExposure->setEnabled(false);
    m_pExposure->setKeyboardTracking(false);
    controls->addWidget(m_pExposure);
    controls->addSeparator();
    auto* snapshot = ownedBy<QPushButton>(controls, QStringLiteral("Snapshot"));
    snapshot->setObjectName(QStringLiteral("snapshot"));
    snapshot->setToolTip(QStringLiteral("Write the frame shown as PNG into %1")
                             .arg(QDir::toNativeSeparators(QDir(m_options.snapshotDir).absolutePath())));
    controls->addWidget(snapshot);

    // Both labels are permanent: the bar's own temporary message would hide behind a permanent label that
    // takes the whole width, so messages have a label of their own, left of the counts.
    m_pMessage = ownedBy<QLabel>(this);
    m_pMessage->setObjectName(QStringLiteral("message"));
    m_pMessage->setTextFormat(Qt::PlainText);
    m_pStatus = ownedBy<QLabel>(this);
    m_pStatus->setObjectName(QStringLiteral("status"));
    m_pStatus->setMinimumWidth(1); // the counts give way to a message while one is shown
    statusBar()->addPermanentWidget(m_pMessage, 1);
    statusBar()->addPermanentWidget(m_pStatus, 0);
    m_pMessageTimer = ownedBy<QTimer>(this);
    m_pMessageTimer->setSingleShot(true);
    connect(m_pMessageTimer, &QTimer::timeout, this, [this] {
        m_pMessage->clear();
        m_pMessage->setMinimumWidth(0);
    });

    auto* quit = ownedBy<QShortcut>(this, QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(quit, &QShortcut::activated, this, &QWidget::close);

    connect(m_pTrigger, QOverload<int>::of(&QComboBox::activated), this,
            [this](int index) { applyTriggerMode(static_cast<AcqTriggerMode>(m_pTrigger->itemData(index).toInt())); });
    connect(m_pSoftTrigger, &QPushButton::clicked, this, [this] { sendSoftwareTrigger(); });
    connect(m_pExposure, QOverload<int>::of(&QSpinBox::valueChanged), this,
            [this](int value) { applyExposure(value); });
    connect(snapshot, &QPushButton::clicked, this, [this] { takeSnapshot(); });

    m_pTicker = ownedBy<QTimer>(this);
    connect(m_pTicker, &QTimer::timeout, this, [this] {
        if (platform::interrupted()) {
            if (m_exitCode == ExitCode::Success) {
                m_exitCode = ExitCode::Interrupted;
                m_failure = QStringLiteral("interrupted (Ctrl-C or SIGTERM)");
            }
            close();
            return;
        }
        updateStatus();
    });
    m_pTicker->start(kTickMs);
    auto* refresh = ownedBy<QTimer>(this);
    connect(refresh, &QTimer::timeout, this, [this] { showNewestFrame(); });
    refresh->start(kRefreshMs);
}

bool ViewerWindow::startCamera() {
    // Read before the module's camera object exists: the SDK layer's system list is the tool's for the read.
    m_exposureLimits = readExposureLimits(m_cameraId);
    if (!m_options.pixelFormat.isEmpty()) {
        m_pixelFormat = chooseSettings(m_cameraId, SdkSettings{m_options.pixelFormat, std::nullopt});
        if (!m_pixelFormat.hold) {
            fail(m_pixelFormat.failureCode, m_pixelFormat.failure);
            return false;
        }
    }
    m_camera = m_module.makeCamera(&m_config, &m_frames);
    if (!m_camera) {
        fail(ExitCode::ModuleUnusable, QStringLiteral("the module made no camera object"));
        return false;
    }
    m_bOpened = m_camera->IOpenCamera() == 1;
    if (!m_bOpened) {
        fail(ExitCode::CameraUnavailable, QStringLiteral("camera '%1' is listed but did not open").arg(m_cameraId));
        return false;
    }
    if (m_options.exposureUs) {
        if (const std::optional<QString> refusal = writeExposure(*m_camera, *m_options.exposureUs, m_exposureLimits)) {
            fail(ExitCode::SettingRefused, QStringLiteral("camera '%1' refused the exposure %2 us: %3")
                                               .arg(m_cameraId)
                                               .arg(*m_options.exposureUs)
                                               .arg(*refusal));
            return false;
        }
    }
    showCameraExposure();
    m_rateSampled = Clock::now();
    applyTriggerMode(m_mode);
    if (!m_bStarted && m_mode != Idle) {
        fail(ExitCode::StartFailed,
             QStringLiteral("camera '%1' did not start in trigger mode %2").arg(m_cameraId, triggerName(m_mode)));
        return false;
    }
    updateStatus();
    return true;
}

// The exposure box offers the camera's range and shows the value it holds (the one just written, if any); a
// camera whose exposure the SDK layer cannot read keeps the box disabled rather than show a made-up value.
void ViewerWindow::showCameraExposure() {
    if (!m_exposureLimits) {
        m_pExposure->setToolTip(QStringLiteral("the camera's exposure limits could not be read"));
        return;
    }
    const ExposureLimits& limits = *m_exposureLimits;
    constexpr double kIntMax = std::numeric_limits<int32_t>::max();
    const auto low = static_cast<int32_t>(std::clamp(std::ceil(limits.min), 1.0, kIntMax));
    const auto high = static_cast<int32_t>(std::clamp(std::floor(limits.max), static_cast<double>(low), kIntMax));
    const int32_t value = m_options.exposureUs.value_or(static_cast<int32_t>(
        std::clamp(std::round(limits.value), static_cast<double>(low), static_cast<double>(high))));
    const QSignalBlocker quiet(m_pExposure); // showing the camera's value writes nothing
    m_pExposure->setRange(low, high);
    m_pExposure->setValue(value);
    m_pExposure->setEnabled(true);
    m_pExposure->setToolTip(QStringLiteral("Exposure in microseconds: the camera takes %1 to %2")
                                .arg(microsecondsText(limits.min), microsecondsText(limits.max)));
}

void ViewerWindow::say(const QString& text, int shownMs) {
    m_pMessage->setText(text);
    m_pMessage->setToolTip(text);
    // A message is read in full: it takes its width, up to the bar's, and the counts beside it what is left.
    m_pMessage->setMinimumWidth(std::min(m_pMessage->fontMetrics().horizontalAdvance(text), statusBar()->width()));
    if (shownMs > 0) {
        m_pMessageTimer->start(shownMs);
    } else {
        m_pMessageTimer->stop();
    }
}

void ViewerWindow::applyTriggerMode(AcqTriggerMode mode) {
    if (!m_bOpened) {
        return;
    }
    // A new mode takes a stop first: the module applies a mode only at a start.
    if (m_bStarted) {
        m_camera->IStopCamera();
        m_bStarted = false;
    }
    m_mode = mode;
    m_camera->m_nTriggerMode = mode;
    const bool started = m_camera->IStartCamera() == 1 && (mode == Idle || m_camera->m_bRunning);
    m_bStarted = started;
    m_pSoftTrigger->setEnabled(started && mode == SoftTrigger);
    m_pTrigger->setCurrentIndex(m_pTrigger->findData(static_cast<int>(mode)));
    if (!started) {
        say(QStringLiteral("the camera did not start in trigger mode %1").arg(triggerName(mode)), 0);
    }
}

void ViewerWindow::applyExposure(int32_t microseconds) {
    if (!m_bOpened) {
        return;
    }
    const std::optional<QString> refusal = writeExposure(*m_camera, microseconds, m_exposureLimits);
    say(!refusal ? QStringLiteral("exposure %1 us").arg(microseconds)
                 : QStringLiteral("the camera refused the exposure %1 us: %2").arg(microseconds).arg(*refusal));
}

void ViewerWindow::sendSoftwareTrigger() {
    if (m_bStarted && asVeyraCamera(m_camera.get())->ISendSoftTrigger() != 1) {
        say(QStringLiteral("the camera refused the software trigger"));
    }
}

void ViewerWindow::takeSnapshot() {
    const QImage& picture = m_pView->picture();
    if (picture.isNull()) {
        say(QStringLiteral("no frame to write yet"));
        return;
    }
    if (const std::optional<QString> why = unwritableFolder(m_options.snapshotDir)) {
        say(*why);
        return;
    }
    const QString path = QDir(m_options.snapshotDir).filePath(QStringLiteral("snapshot-%1.png").arg(m_nShownFrameId));
    const std::optional<QString> failure = writePng(picture, path);
    say(failure ? *failure : QStringLiteral("wrote %1").arg(QDir::toNativeSeparators(path)));
}

// On this window's thread, at every refresh.
void ViewerWindow::showNewestFrame() {
    std::optional<LiveFrame> live = m_frames.takeNewest();
    if (!live || m_bFinished) {
        return;
    }
    const CapturedFrame& frame = live->frame;
    // Drawn as RGB32, which the painter scales without converting (and so without Qt's thread pool).
    QImage picture =
        frame.bytes.empty() ? QImage() : rgb32Of(frameImage(frame.layout, frame.width, frame.height, frame.bytes));
    m_nShownFrameId = frame.frameId;
    m_shownFormat =
        live->format.described
            ? QStringLiteral("%1 (received as %2)").arg(live->format.cameraPixelFormat, live->format.layout.pfncName)
            : QStringLiteral("not described");
    m_pView->show(std::move(picture));
    ++m_nShown;
    if (m_options.quitAfterFrames > 0 && m_nShown >= m_options.quitAfterFrames) {
        finishScripted();
    }
}

void ViewerWindow::updateStatus() {
    const LiveCounts counts = m_frames.counts();
    const Clock::time_point now = Clock::now();
    // Over the last second or so; until a second has passed, over what there is.
    const double span = std::chrono::duration<double>(now - m_rateSampled).count();
    if (span >= 1.0 || (m_fps == 0.0 && span >= 0.1)) {
        m_fps = static_cast<double>(counts.received - m_nRateReceived) / span;
    }
    if (span >= 1.0) {
        m_nRateReceived = counts.received;
        m_rateSampled = now;
    }
    const QImage& picture = m_pView->picture();
    m_pStatus->setText(QStringLiteral("%1 fps   frame %2   %3 lost   %4   %5 x %6   %7")
                           .arg(QString::number(m_fps, 'f', 1))
                           .arg(counts.lastFrameId ? QString::number(*counts.lastFrameId) : QStringLiteral("-"))
                           .arg(counts.lost)
                           .arg(m_shownFormat.isEmpty() ? QStringLiteral("no frame yet") : m_shownFormat)
                           .arg(picture.width())
                           .arg(picture.height())
                           .arg(triggerName(m_mode)));
}

// --quit-after: the window is drawn with the frame just shown, its picture written, and the window closed.
void ViewerWindow::finishScripted() {
    m_bFinished = true;
    updateStatus();
    if (!m_options.windowShot.isEmpty()) {
        if (const std::optional<QString> failure = writePng(grab().toImage(), m_options.windowShot)) {
            fail(ExitCode::OutputFailed, *failure);
        }
    }
    close();
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
    stopCamera();
    event->accept();
}

// Returns once no frame is delivered any more; queued notices that still arrive find no frame.
void ViewerWindow::stopCamera() {
    if (!m_camera) {
        return;
    }
    if (m_bStarted) {
        m_camera->IStopCamera();
        m_bStarted = false;
    }
    if (m_bOpened) {
        m_camera->ICloseCamera();
        m_bOpened = false;
    }
}

void ViewerWindow::fail(ExitCode code, const QString& reason) {
    if (m_exitCode == ExitCode::Success) {
        m_exitCode = code;
        m_failure = reason;
    }
    say(reason, 0);
}

// ---- the command -----------------------------------------------------------------------------------------

ExitCode runView(const ViewOptions& options) {
    Console& console = Console::instance();
    console.setVerbose(options.common.verbose);
    CameraModule module(options.common.moduleDir);
    if (!module.load()) {
        console.error(module.errorString());
        return ExitCode::ModuleUnusable;
    }
    const std::optional<QStringList> listed = listCameras(module);
    if (!listed) {
        console.error(QStringLiteral("the module made no camera object"));
        return ExitCode::ModuleUnusable;
    }
    QString cameraId;
    if (options.camera.isEmpty()) {
        if (listed->isEmpty()) {
            console.error(chooseCamera(*listed, QStringLiteral("(any)")).error);
            return ExitCode::CameraUnavailable;
        }
        cameraId = listed->constFirst();
    } else {
        const CameraChoice choice = chooseCamera(*listed, options.camera);
        if (!choice.id) {
            console.error(choice.error);
            return ExitCode::CameraUnavailable;
        }
        cameraId = *choice.id;
    }
    ViewerWindow window(module, cameraId, options);
    window.show();
    if (!window.startCamera()) {
        console.error(window.failure());
        return window.exitCode();
    }
    console.note(
        QStringLiteral("showing %1; Ctrl+Q or closing the window ends, as do Ctrl-C and SIGTERM here").arg(cameraId));
    QApplication::exec();
    const LiveCounts counts = window.counts();
    console.result(QStringLiteral("%1: %2 shown of %3 received, %4 lost\n")
                       .arg(cameraId, plural(window.framesShown(), "frame", "frames"))
                       .arg(counts.received)
                       .arg(counts.lost));
    if (window.exitCode() != ExitCode::Success) {
        console.error(window.failure());
    }
    return window.exitCode();
}

} // namespace vxcam::host
