#include "driver/DriverLogging.h"

namespace vxcam {
Q_LOGGING_CATEGORY(lcDriverCategory, "vxcam.driver")
Q_LOGGING_CATEGORY(lcFrameCategory, "vxcam.driver.frame")

const QLoggingCategory& lcDriver() {
    return lcDriverCategory();
}
const QLoggingCategory& lcFrame() {
    return lcFrameCategory();
}
} // namespace vxcam
