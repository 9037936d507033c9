#include "sdk/core/SdkLogging.h"

namespace sdk::core {
Q_LOGGING_CATEGORY(lcSdkCategory, "vxcam.sdk")

const QLoggingCategory& lcSdk() {
    return lcSdkCategory();
}
} // namespace sdk::core
