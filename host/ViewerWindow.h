// `vxcam view`: a window that shows one camera live, driven through the contract and the family's operations
// only, as any host drives it. Widgets live on the application's thread; frames come from LiveFrames.
#pragma once

#include "host/CameraModule.h"
#include "host/CommandLine.h"
#include "host/ExitCode.h"
#include "host/GrabSession.h"
#include "host/LiveFrames.h"

#include <QImage>
#include <QMainWindow>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace vxcam::host {

// Shows one picture scaled to the widget, aspect kept, on a dark background; pixels are repeated, not blended,
// so that a frame's edges stay as sharp as the camera sent them.
class FrameView final : public QWidget {
public:
    explicit FrameView(QWidget* parent = nullptr);
    void show(QImage picture);
    [[nodiscard]] const QImage& picture() const noexcept { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

class ViewerWindow final : public QMainWindow {
public:
    // `module` is loaded and outlives the window; `cameraId` as the module lists it.
    ViewerWindow(const CameraModule& module, QString cameraId, ViewOptions options);
    ~ViewerWindow() override;
    ViewerWindow(const ViewerWindow&) = delete;
    ViewerWindow& operator=(const ViewerWindow&) = delete;

    // Opens the camera, writes the exposure and starts it in the chosen mode; false, with the reason shown and
    // kept, when that fails.
    bool startCamera();
    [[nodiscard]] ExitCode exitCode() const noexcept { return m_exitCode; }
    [[nodiscard]] QString failure() const { return m_failure; }
    [[nodiscard]] int64_t framesShown() const noexcept { return m_nShown; }
    [[nodiscard]] LiveCounts counts() const { return m_frames.counts(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void showNewestFrame();
    void applyTriggerMode(AcqTriggerMode mode);
    void applyExposure(int32_t microseconds);
    void sendSoftwareTrigger();
    void takeSnapshot();
    void updateStatus();
    void stopCamera();
    void finishScripted();
    void fail(ExitCode code, const QString& reason);
    // Shows `text` in the status bar's message area for `shownMs` (0: until the next message).
    void say(const QString& text, int shownMs = kMessageMs);
    void showCameraExposure();

    static constexpr int kMessageMs = 6000;

    const CameraModule& m_module;
    const QString m_cameraId;
    const ViewOptions m_options;
    // The record and the callback outlive the camera object, which is declared after them.
    CameraConfig m_config;
    LiveFrames m_frames;
    SettingsChoice m_pixelFormat; // held while the camera object lives, which is declared after it
    CameraModule::CameraHandle m_camera;
    bool m_bOpened = false;
    bool m_bStarted = false;
    AcqTriggerMode m_mode = FreeRun;

    FrameView* m_pView = nullptr;
    QComboBox* m_pTrigger = nullptr;
    QPushButton* m_pSoftTrigger = nullptr;
    QSpinBox* m_pExposure = nullptr;
    QLabel* m_pMessage = nullptr; // what the last action did, beside the counts
    QLabel* m_pStatus = nullptr;  // rate, frame ID, lost frames, format, size, mode
    QTimer* m_pTicker = nullptr;
    QTimer* m_pMessageTimer = nullptr; // clears the message
    std::optional<ExposureLimits> m_exposureLimits;

    int64_t m_nRateReceived = 0; // frames received at the last rate sample
    std::chrono::steady_clock::time_point m_rateSampled;
    double m_fps = 0.0;
    int64_t m_nShown = 0;
    bool m_bFinished = false; // --quit-after reached: no further frame is shown
    uint32_t m_nShownFrameId = 0;
    QString m_shownFormat;
    ExitCode m_exitCode = ExitCode::Success;
    QString m_failure;
};

} // namespace vxcam::host
