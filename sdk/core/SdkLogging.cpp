#include "sdk/core/SdkLogging.h"

namespace sdk::core {
Q_LOGGING_CATEGORY(lcSdkCategory, "vxcam.sdk")
Q_LOGGING_CATEGORY(lcSimCategory, "vxcam.sim")

const QLoggingCategory& lcSdk() {
    return lcSdkCategory();
}
const QLoggingCategory& lcSim() {
    return lcSimCategory();
}
} // namespace sdk::core
