#include "driver/DriverLogging.h"

namespace vxcam {
Q_LOGGING_CATEGORY(lcDriverCategory, "vxcam.driver")
// Debug lines of this category are off unless a logging rule turns them on.
Q_LOGGING_CATEGORY(lcFrameCategory, "vxcam.driver.frame", QtInfoMsg)

const QLoggingCategory& lcDriver() {
    return lcDriverCategory();
}
const QLoggingCategory& lcFrame() {
    return lcFrameCategory();
}
} // namespace vxcam
