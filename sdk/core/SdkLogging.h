// Logging categories of the SDK layer, so that QT_LOGGING_RULES can silence or enable each one.
#pragma once

#include <QLoggingCategory>

namespace sdk::core {
const QLoggingCategory& lcSdk(); // "vxcam.sdk": the facade and the producer set-up
const QLoggingCategory& lcSim(); // "vxcam.sim": the simulated producer
} // namespace sdk::core
