// One grab from start to end, as a host drives a camera: list, open, exposure, start in a trigger mode, collect,
// stop, close; then the pictures, the contact sheet and the report.
#pragma once

#include "host/CameraModule.h"
#include "host/CommandLine.h"
#include "host/ExitCode.h"
#include "host/GrabReport.h"
#include "host/SdkCameraDetails.h"

#include <QImage>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace vxcam::host {

struct GrabResult {
    ExitCode exitCode = ExitCode::Success;
    QString error;                    // what stopped the grab before it could report; empty otherwise
    std::optional<GrabReport> report; // once the camera was opened
    std::vector<QImage> sheetTiles;   // the contact sheet's tiles, in order
};

// Host thread. `module` must be loaded.
[[nodiscard]] GrabResult grab(const CameraModule& module, const GrabOptions& options);

// Why pictures cannot go into `folder` (made when missing), or nothing when they can. Checked before a camera
// starts, so that a bad folder ends the run before the grab rather than after it.
[[nodiscard]] std::optional<QString> unwritableFolder(const QString& folder);

// The camera's exposure limits and value in microseconds, as the SDK layer reports them.
struct ExposureLimits {
    double min = 0.0;
    double max = 0.0;
    double value = 0.0;
};

// Reads the exposure limits of the camera `cameraId` (as the module lists it) from the SDK layer; nothing when
// the camera has no exposure feature or cannot be read. Host thread, while no camera object of the module is
// alive (see readSdkCameraDetails).
[[nodiscard]] std::optional<ExposureLimits> readExposureLimits(const QString& cameraId);

// Writes the exposure through ISetProperty; why the camera refused it, or nothing when it took it. A refusal
// names the camera's range when `limits` are known. Host thread.
[[nodiscard]] std::optional<QString> writeExposure(ICameraObject& camera, int32_t microseconds,
                                                   const std::optional<ExposureLimits>& limits = std::nullopt);

// The settings chosen for the camera `cameraId` (as the module lists it) through the SDK layer, held until the
// module's camera object is gone; or why they could not be chosen, with the exit code that says so.
struct SettingsChoice {
    std::unique_ptr<SdkSettingsHold> hold; // null when the choice failed
    ExitCode failureCode = ExitCode::Success;
    QString failure;
};

// Host thread, before the module's camera object for `cameraId` is made.
[[nodiscard]] SettingsChoice chooseSettings(const QString& cameraId, const SdkSettings& settings);

// "5000" or "12.5": a number of microseconds as the tool prints it.
[[nodiscard]] QString microsecondsText(double value);

// The identifiers the module lists, through a short-lived camera object; nothing when it makes none.
[[nodiscard]] std::optional<QStringList> listCameras(const CameraModule& module);

} // namespace vxcam::host
