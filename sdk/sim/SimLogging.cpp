#include "sdk/sim/SimLogging.h"

namespace sdk::sim {
Q_LOGGING_CATEGORY(lcSimCategory, "vxcam.sim")

const QLoggingCategory& lcSim() {
    return lcSimCategory();
}
} // namespace sdk::sim
