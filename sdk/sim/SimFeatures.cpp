#include "sdk/sim/SimFeatures.h"

#include <algorithm>

namespace sdk::sim {
namespace {

AccessMode defaultAccess(NodeType type) {
    switch (type) {
    case NodeType::Command:
        return AccessMode::WriteOnly;
    case NodeType::EnumEntry:
        return AccessMode::ReadOnly;
    default:
        return AccessMode::ReadWrite;
    }
}

} // namespace

SimNode::SimNode(const CallSite& site, std::string name, NodeType type)
    : Node(site, name, type), m_name(std::move(name)), m_access(defaultAccess(type)) {}

SimNode::~SimNode() = default;

std::unique_ptr<SimNode> SimNode::command(const CallSite& site, std::string name, Observer onExecute) {
    auto node = std::make_unique<SimNode>(site, std::move(name), NodeType::Command);
    node->m_observer = std::move(onExecute);
    return node;
}

std::unique_ptr<SimNode> SimNode::enumeration(const CallSite& site, std::string name,
                                              const std::vector<std::string>& entries, std::string value,
                                              Observer onWrite) {
    auto node = std::make_unique<SimNode>(site, std::move(name), NodeType::Enumeration);
    node->m_text = std::move(value);
    node->m_observer = std::move(onWrite);
    node->m_pEntries = std::make_unique<SimNodeMap>(site.gate(), site.objectName() + "/" + node->m_name);
    for (const std::string& entry : entries) {
        node->m_pEntries->add(std::make_unique<SimNode>(site, entry, NodeType::EnumEntry));
    }
    return node;
}

std::unique_ptr<SimNode> SimNode::floating(const CallSite& site, std::string name, double min, double max, double value,
                                           Observer onWrite) {
    auto node = std::make_unique<SimNode>(site, std::move(name), NodeType::Float);
    node->m_min = min;
    node->m_max = max;
    node->m_value = std::clamp(value, min, max);
    node->m_observer = std::move(onWrite);
    return node;
}

std::unique_ptr<SimNode> SimNode::integer(const CallSite& site, std::string name, int64_t min, int64_t max, int64_t inc,
                                          int64_t value) {
    auto node = std::make_unique<SimNode>(site, std::move(name), NodeType::Integer);
    node->m_nMin = min;
    node->m_nMax = max;
    node->m_nInc = inc;
    node->m_nValue = std::clamp(value, min, max);
    return node;
}

std::unique_ptr<SimNode> SimNode::text(const CallSite& site, std::string name, std::string value) {
    auto node = std::make_unique<SimNode>(site, std::move(name), NodeType::String);
    node->m_text = std::move(value);
    return node;
}

void SimNode::notify() const {
    if (m_observer) {
        m_observer(*this);
    }
}

void SimNode::doExecute() {
    notify();
}

void SimNode::doSetString(const std::string& value) {
    m_text = value;
    notify();
}

void SimNode::doSetDouble(double value) {
    m_value = value;
    notify();
}

NodeMap* SimNode::doGetEnumNodeList() {
    return m_pEntries.get();
}

SimNodeMap::SimNodeMap(core::CallGate& gate, std::string mapName) : NodeMap(gate, std::move(mapName)) {}

SimNodeMap::~SimNodeMap() = default;

void SimNodeMap::add(std::unique_ptr<SimNode> node) {
    m_nodes.push_back(std::move(node));
}

SimNode* SimNodeMap::find(std::string_view name) const noexcept {
    for (const auto& node : m_nodes) {
        if (node->name() == name) {
            return node.get();
        }
    }
    return nullptr;
}

} // namespace sdk::sim
