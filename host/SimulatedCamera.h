// What the simulated-camera file says about one camera. The contract gives a host no exact pixel format, so on
// simulated cameras the tool reads it where the simulation itself reads it: the file VXCAM_SIM_CONFIG names.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace vxcam::host {

struct SimulatedCamera {
    QString pixelFormat;      // the camera's own, as it sends it
    int32_t width = 0;        //
    int32_t height = 0;       //
    uint64_t payloadSize = 0; // bytes of each buffer when the file sets them; 0: what the frame needs
    QString configPath;       // the file it came from
};

// The first camera with `serial` in the simulated-camera file, in the order the module walks systems,
// interfaces and devices; nothing when the simulation is not among the transports in use, the file is
// missing or unreadable, or no camera there has the serial. Keys absent from an entry take the simulation's
// defaults (Mono8, 640 x 480).
[[nodiscard]] std::optional<SimulatedCamera> findSimulatedCamera(const QString& serial);

// The serial number in a camera identifier ("veyra SN1001" gives "SN1001"), as the module splits it.
[[nodiscard]] QString serialOf(const QString& cameraId);

} // namespace vxcam::host
