// Logging categories of the camera module. Lines carry no file, line or function.
#pragma once

#include <QLoggingCategory>

namespace vxcam {
const QLoggingCategory& lcDriver(); // "vxcam.driver": opening, triggers, exposure, SDK errors
const QLoggingCategory& lcFrame();  // "vxcam.driver.frame": one debug line per delivered frame
} // namespace vxcam
