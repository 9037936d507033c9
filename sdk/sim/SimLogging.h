// The simulated producer's logging category, so that QT_LOGGING_RULES can silence or enable it.
#pragma once

#include <QLoggingCategory>

namespace sdk::sim {
const QLoggingCategory& lcSim(); // "vxcam.sim": the simulated producer and the session configuration it reads
} // namespace sdk::sim
