// Producers are the transports behind the SDK facade. Each registers a factory under its name, and says whether
// it is built when VXCAM_TRANSPORTS is unset; the session builds the ones that VXCAM_TRANSPORTS names. The core
// never names a producer.
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
};

// Builds a producer for one session. The gate outlives the producer; the producer gives it to every facade
// object it builds, whose calls pass it. The gate is configured (faults, trace) after the factories ran. A
// factory reports its own configuration problems and may return null.
using ProducerFactory = std::unique_ptr<Producer> (*)(CallGate& gate);

// Whether a producer is built when VXCAM_TRANSPORTS is unset, and where it goes among those that are.
struct DefaultOffer {
    // Place among the producers built by default, lower first (equal ranks: name order). Negative: the producer
    // is built only when VXCAM_TRANSPORTS names it.
    int rank = -1;
    // Asked each time a session opens; null: offered whenever the rank says so.
    bool (*wanted)() = nullptr;
};

// Called from static initialisers of the producers' units (exported: a producer may live in a library of its
// own). A second registration under a name replaces the first.
VXSDK_API bool registerProducer(std::string name, ProducerFactory factory, DefaultOffer offer = {});
[[nodiscard]] ProducerFactory findProducer(std::string_view name);
// The names of the producers to build when VXCAM_TRANSPORTS is unset, in their order.
[[nodiscard]] std::vector<std::string> defaultProducers();

} // namespace sdk::core
