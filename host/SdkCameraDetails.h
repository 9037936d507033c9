// What the SDK layer reports of one camera, and the settings the tool writes through it, read and written
// directly in the SDK layer (libvxsdk) rather than through the module: the host contract has no way to ask for a
// camera's model, the pixel formats it offers, its trigger sources or its exposure limits, nor to choose its
// pixel format or a GigE Vision camera's packet size. This file is the tool's only use of the SDK layer; everything
// else goes through the module, as in any host.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
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

// Settings the tool writes to a camera through the SDK layer before the module opens it.
struct SdkSettings {
    QString pixelFormat; // empty: the camera's own
    // A GigE Vision camera's stream packet size in bytes ("GevSCPSPacketSize"); the producer keeps a size
    // written through the SDK layer instead of negotiating one. Nothing: negotiated.
    std::optional<int64_t> packetSize;
};

// A camera opened through the SDK layer with the settings the user chose, held open for the module's camera
// object: the module takes a device that is already open as it is, so its open keeps them. Held rather than
// closed again because settings do not outlive a close on every transport (Aravis's virtual camera starts
// afresh with each open, and a GigE Vision camera's packet size is negotiated anew with each open). Host
// thread. Make it before the module's camera object and destroy it after that object is deleted; it touches the
// device no more once made, since the module's close closes it.
class SdkSettingsHold {
public:
    // Why the hold could not be made: the camera is not reached or does not open, or it refused a setting.
    struct Refusal {
        bool cameraUnavailable = false; // else the camera refused a setting
        QString reason;
    };

    // Opens the camera with `serial` and writes `settings` to it; nothing, with `refusal` set, when the camera
    // cannot be reached or opened, does not offer the pixel format or a packet size, or refuses a write.
    [[nodiscard]] static std::unique_ptr<SdkSettingsHold> choose(const QString& serial, const SdkSettings& settings,
                                                                 Refusal& refusal);
    ~SdkSettingsHold();
    SdkSettingsHold(const SdkSettingsHold&) = delete;
    SdkSettingsHold& operator=(const SdkSettingsHold&) = delete;

private:
    SdkSettingsHold() = default;
};

} // namespace vxcam::host
