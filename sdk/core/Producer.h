// Producers are the transports behind the SDK facade ("sim", later "virtual", "u3v", "gev"). Each registers
// a factory under its name; the session builds the ones that VXCAM_TRANSPORTS names. The core never names a
// producer.
#pragma once

#include "sdk/SdkExport.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sdk {
class System;
}

namespace sdk::core {

class CallGate;

class VXSDK_API Producer {
public:
    Producer() = default;
    Producer(const Producer&) = delete;
    Producer& operator=(const Producer&) = delete;
    virtual ~Producer();

    // The producer's systems in offer order, each under its identifier. They live as long as the producer.
    [[nodiscard]] virtual std::vector<std::pair<std::string, System*>> systems() = 0;
    // True when the producer's configuration asks the SDK to answer null for the system list.
    [[nodiscard]] virtual bool answersNullSystemList() const { return false; }
    // True when the producer has warned that the configuration file VXCAM_SIM_CONFIG names cannot be used, so
    // that the session does not warn about the same file again.
    [[nodiscard]] virtual bool reportedConfigurationProblem() const { return false; }
};

// Builds a producer for one session. The gate outlives the producer; the producer gives it to every facade
// object it builds, whose calls pass it. The session configures the gate (faults, trace) after the factories
// ran. A factory reports its own configuration problems and may return null.
using ProducerFactory = std::unique_ptr<Producer> (*)(CallGate& gate);

// Called from static initialisers of the producers' units (exported: a producer may live in a library of its
// own). A second registration under a name replaces the first.
VXSDK_API bool registerProducer(std::string name, ProducerFactory factory);
[[nodiscard]] ProducerFactory findProducer(std::string_view name);

} // namespace sdk::core
