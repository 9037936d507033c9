// Which listed camera a user means: the identifier as `vxcam list` shows it (the family word in any case, the
// serial number exactly), or a bare serial number that names exactly one listed camera.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vxcam::host {

struct CameraChoice {
    std::optional<QString> id; // the listed identifier, when `wanted` names exactly one camera
    QString error;             // why not, naming the cameras the module lists
};

[[nodiscard]] CameraChoice chooseCamera(const QStringList& listed, const QString& wanted);

// Why the module lists no camera, as far as the tool can tell, in parentheses: what the SDK layer warned of
// (a camera file it cannot use), or which variables choose the cameras.
[[nodiscard]] QString noCameraHint();

// The serial number in a camera identifier ("veyra SN1001" gives "SN1001"), as the module splits it.
[[nodiscard]] QString serialOf(const QString& cameraId);

} // namespace vxcam::host
