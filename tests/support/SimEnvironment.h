// A simulated-camera set-up for one test: the configuration file, the transport variables and the trace,
// all in a temporary folder, and the SDK session released again at the end.
#pragma once

#include "tests/support/SimConfigText.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vxcam::test {

class SimEnvironment {
public:
    // Writes `json` as the configuration and points VXCAM_SIM_CONFIG and VXCAM_SIM_TRACE at the folder, and
    // GENICAM_GENTL64_PATH at the folder of vxcam-sim.cti.
    explicit SimEnvironment(const QString& json);
    ~SimEnvironment();
    SimEnvironment(const SimEnvironment&) = delete;
    SimEnvironment& operator=(const SimEnvironment&) = delete;

    [[nodiscard]] QString configPath() const;
    [[nodiscard]] QString tracePath() const;
    // The trace lines written so far, each "call<TAB>object<TAB>args[<TAB>fault]".
    [[nodiscard]] QStringList trace() const;
    // Only the trace lines of `call`.
    [[nodiscard]] QStringList trace(const QString& call) const;
    void clearTrace() const;

private:
    QTemporaryDir m_dir;
};

} // namespace vxcam::test
