// The "sim" transport: the systems of the file named by VXCAM_SIM_CONFIG. The same file's "faults" list, and the
// trace file named by VXCAM_SIM_TRACE, configure every session's call gate, whatever its producers.
#include "sdk/core/ConfigReader.h"
#include "sdk/core/Producer.h"
#include "sdk/core/SdkLogging.h"
#include "sdk/core/SessionSetup.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimLogging.h"
#include "sdk/sim/SimSystem.h"

namespace sdk::sim {
namespace {

class SimProducer final : public core::Producer {
public:
    SimProducer(core::CallGate& gate, const SimConfig& config, bool fileProblem)
        : m_bNullSystemList(config.nullSystemList), m_bFileProblem(fileProblem) {
        for (const SimSystemConfig& system : config.systems) {
            m_systems.push_back(std::make_unique<SimSystem>(gate, system));
        }
    }

    std::vector<std::pair<std::string, System*>> systems() override {
        std::vector<std::pair<std::string, System*>> result;
        for (const auto& system : m_systems) {
            result.emplace_back(system->id(), system.get());
        }
        return result;
    }

    // The file asks that the host be given no system list.
    [[nodiscard]] bool answersNullSystemList() const noexcept { return m_bNullSystemList; }
    // The file could not be used, and the producer said so already.
    [[nodiscard]] bool reportedFileProblem() const noexcept { return m_bFileProblem; }

private:
    bool m_bNullSystemList;
    bool m_bFileProblem;
    std::vector<std::unique_ptr<SimSystem>> m_systems;
};

// A configuration that cannot be used gives one warning and no simulated systems. (The session reads the same
// file's faults for every producer, and the trace; this warning stands for both.)
std::unique_ptr<core::Producer> makeSimProducer(core::CallGate& gate) {
    const QString path = qEnvironmentVariable("VXCAM_SIM_CONFIG");
    if (path.isEmpty()) {
        qCWarning(lcSim()) << "VXCAM_SIM_CONFIG names no simulated-camera file; no simulated cameras are offered";
        return std::make_unique<SimProducer>(gate, SimConfig{}, false);
    }
    QString error;
    std::optional<SimConfig> config = loadSimConfig(path, error);
    if (!config) {
        qCWarning(lcSim()).noquote() << "simulated-camera file" << path << error.prepend(QStringLiteral("- "))
                                     << "- no simulated cameras are offered";
        return std::make_unique<SimProducer>(gate, SimConfig{}, true);
    }
    return std::make_unique<SimProducer>(gate, *config, false);
}

// Without VXCAM_TRANSPORTS, simulated cameras are offered (after the default producers ranked before them) as
// soon as a file is named.
bool simFileNamed() {
    return !qEnvironmentVariableIsEmpty("VXCAM_SIM_CONFIG");
}

// Every session's gate, whatever its producers: the faults of the file VXCAM_SIM_CONFIG names (read even when
// no simulated camera is built), the trace into the file VXCAM_SIM_TRACE names. A file that cannot be used is
// warned about once: by the simulated producer that read it already, or here. A simulated producer whose file
// asks for it withholds the system list.
void configureSession(core::SessionSetup& setup) {
    bool fileProblemReported = false;
    for (const std::unique_ptr<core::Producer>& producer : setup.producers()) {
        if (const auto* sim = dynamic_cast<const SimProducer*>(producer.get())) {
            fileProblemReported = fileProblemReported || sim->reportedFileProblem();
            if (sim->answersNullSystemList()) {
                setup.withholdSystemList();
            }
        }
    }
    const std::string tracePath = qEnvironmentVariable("VXCAM_SIM_TRACE").toStdString();
    const QString path = qEnvironmentVariable("VXCAM_SIM_CONFIG");
    std::vector<core::FaultRule> rules;
    if (!path.isEmpty()) {
        QString error;
        if (std::optional<std::vector<core::FaultRule>> loaded = core::loadFaultRules(path, error)) {
            rules = std::move(*loaded);
        } else if (!fileProblemReported) {
            qCWarning(core::lcSdk()).noquote() << "fault file" << path << "-" << error << "- no faults are injected";
        }
    }
    if (!setup.gate().configure(std::move(rules), tracePath)) {
        qCWarning(lcSim()).noquote() << "cannot open the trace file" << QString::fromStdString(tracePath)
                                     << "for appending; calls are not traced";
    }
}

// Runs while the library loads, where an exception could not be caught: a failed registration (no memory)
// leaves the transport unknown instead.
bool registerSimulation() noexcept {
    try {
        return core::registerProducer("sim", &makeSimProducer, core::DefaultOffer{1, &simFileNamed}) &&
               core::registerSessionConfigurator(&configureSession);
    } catch (...) {
        return false;
    }
}

const bool g_registered = registerSimulation();

} // namespace
} // namespace sdk::sim
