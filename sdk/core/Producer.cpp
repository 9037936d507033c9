#include "sdk/core/Producer.h"

#include <algorithm>
#include <map>

namespace sdk::core {
namespace {

struct Registration {
    ProducerFactory factory = nullptr;
    DefaultOffer offer;
};

// Written by static initialisers while libraries load, read when a session opens (host thread).
std::map<std::string, Registration, std::less<>>& registry() {
    static std::map<std::string, Registration, std::less<>> producers;
    return producers;
}

} // namespace

Producer::~Producer() = default;

bool registerProducer(std::string name, ProducerFactory factory, DefaultOffer offer) {
    registry()[std::move(name)] = Registration{factory, offer};
    return true;
}

ProducerFactory findProducer(std::string_view name) {
    const auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second.factory;
}

std::vector<std::string> defaultProducers() {
    std::vector<std::pair<int, std::string>> offered; // (rank, name): sorted, ranks first, then names
    for (const auto& [name, registration] : registry()) {
        const DefaultOffer& offer = registration.offer;
        if (offer.rank >= 0 && (offer.wanted == nullptr || offer.wanted())) {
            offered.emplace_back(offer.rank, name);
        }
    }
    std::sort(offered.begin(), offered.end());
    std::vector<std::string> names;
    names.reserve(offered.size());
    for (auto& entry : offered) {
        names.push_back(std::move(entry.second));
    }
    return names;
}

} // namespace sdk::core
