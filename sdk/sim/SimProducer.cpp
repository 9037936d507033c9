// The "sim" transport: the systems of the file named by VXCAM_SIM_CONFIG, with the faults it injects and the
// trace written to the file named by VXCAM_SIM_TRACE.
#include "sdk/core/Producer.h"
#include "sdk/core/SdkLogging.h"
#include "sdk/sim/SimConfig.h"
#include "sdk/sim/SimSystem.h"

namespace sdk::sim {
namespace {

class SimProducer final : public core::Producer {
public:
    SimProducer(core::CallGate& gate, SimConfig config, bool fileProblem)
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

    bool answersNullSystemList() const override { return m_bNullSystemList; }
    bool reportedConfigurationProblem() const override { return m_bFileProblem; }

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
        qCWarning(core::lcSim()) << "VXCAM_SIM_CONFIG names no simulated-camera file; no simulated cameras are offered";
        return std::make_unique<SimProducer>(gate, SimConfig{}, false);
    }
    QString error;
    std::optional<SimConfig> config = loadSimConfig(path, error);
    if (!config) {
        qCWarning(core::lcSim()).noquote() << "simulated-camera file" << path << error.prepend(QStringLiteral("- "))
                                           << "- no simulated cameras are offered";
        return std::make_unique<SimProducer>(gate, SimConfig{}, true);
    }
    return std::make_unique<SimProducer>(gate, std::move(*config), false);
}

const bool g_registered = core::registerProducer("sim", &makeSimProducer);

} // namespace
} // namespace sdk::sim
