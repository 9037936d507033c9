#include "sdk/core/Producer.h"

#include <map>

namespace sdk::core {
namespace {
std::map<std::string, ProducerFactory, std::less<>>& registry() {
    static std::map<std::string, ProducerFactory, std::less<>> producers;
    return producers;
}
} // namespace

Producer::~Producer() = default;

bool registerProducer(std::string name, ProducerFactory factory) {
    registry()[std::move(name)] = factory;
    return true;
}

ProducerFactory findProducer(std::string_view name) {
    const auto found = registry().find(name);
    return found == registry().end() ? nullptr : found->second;
}

} // namespace sdk::core
