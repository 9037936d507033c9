// Logging categories of the SDK layer, so that QT_LOGGING_RULES can silence or enable each one. Each producer
// logs in a category of its own, declared in its folder.
#pragma once

#include <QLoggingCategory>

namespace sdk::core {
const QLoggingCategory& lcSdk(); // "vxcam.sdk": the facade and the producer set-up
} // namespace sdk::core
