// What the SDK layer reports of one camera, read directly from the SDK layer (libvxsdk) rather than through the
// module: the host contract has no way to ask for a camera's model, the pixel formats it offers, its trigger
// sources or its exposure limits. This file is the tool's only use of the SDK layer; everything else goes
// through the module, as in any host.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace vxcam::host {

struct SdkCameraDetails {
    QString model;
    QString serial;
    QString pixelFormat;      // the current one
    QStringList pixelFormats; // offered, as far as the tool can name them (see unnamedEntries)
    uint64_t pixelFormatEntries = 0;
    QStringList triggerSources; // offered, likewise
    uint64_t triggerSourceEntries = 0;
    QString exposureFeature; // "ExposureTime" or "ExposureTimeAbs"; empty when the camera has neither
    std::optional<double> exposureMin;
    std::optional<double> exposureMax;
    std::optional<double> exposureValue;
    QStringList problems; // features that could not be read, with the SDK's reason
};

// Opens the camera with `serial` through the SDK layer, reads its details and closes it again. Nothing, with
// `error` set, when no system reaches it or it does not open. Host thread; no camera object of the module may
// be alive meanwhile, since the SDK's system list is shared with the module and given back here.
[[nodiscard]] std::optional<SdkCameraDetails> readSdkCameraDetails(const QString& serial, QString& error);

} // namespace vxcam::host
