#include "sdk/sim/SimFeatures.h"

#include "sdk/SdkExceptions.h"

#include <algorithm>
#include <cstdio>

namespace sdk::sim {
namespace {

std::string formatDouble(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

const char* kindName(SimNode::Kind kind) {
    switch (kind) {
    case SimNode::Kind::Command:
        return "a command";
    case SimNode::Kind::Enumeration:
        return "an enumeration";
    case SimNode::Kind::Float:
        return "a floating-point feature";
    case SimNode::Kind::EnumEntry:
        return "an enumeration entry";
    }
    return "a feature";
}

} // namespace

SimNode::SimNode(const SimCallSite& site, std::string name, Kind kind)
    : m_site(site), m_name(std::move(name)), m_kind(kind) {}

SimNode::~SimNode() = default;

std::unique_ptr<SimNode> SimNode::command(const SimCallSite& site, std::string name, Observer onExecute) {
    auto node = std::make_unique<SimNode>(site, std::move(name), Kind::Command);
    node->m_observer = std::move(onExecute);
    return node;
}

std::unique_ptr<SimNode> SimNode::enumeration(const SimCallSite& site, std::string name,
                                              const std::vector<std::string>& entries, std::string value,
                                              Observer onWrite) {
    auto node = std::make_unique<SimNode>(site, std::move(name), Kind::Enumeration);
    node->m_text = std::move(value);
    node->m_observer = std::move(onWrite);
    node->m_pEntries = std::make_unique<SimNodeMap>(site.gate(), site.objectName() + "/" + node->m_name);
    for (const std::string& entry : entries) {
        node->m_pEntries->add(std::make_unique<SimNode>(site, entry, Kind::EnumEntry));
    }
    return node;
}

std::unique_ptr<SimNode> SimNode::floating(const SimCallSite& site, std::string name, double min, double max,
                                           double value, Observer onWrite) {
    auto node = std::make_unique<SimNode>(site, std::move(name), Kind::Float);
    node->m_min = min;
    node->m_max = max;
    node->m_value = std::clamp(value, min, max);
    node->m_observer = std::move(onWrite);
    return node;
}

void SimNode::pass(std::string_view call, std::string_view args) const {
    m_site.passOn(call, m_name, args);
}

void SimNode::requireKind(Kind kind, const char* call) const {
    if (m_kind != kind) {
        Exceptions::raise("AccessDeniedException", call,
                          "feature '" + m_name + "' is " + kindName(m_kind) + ", not " + kindName(kind));
    }
}

void SimNode::Execute() {
    pass("Node::Execute");
    requireKind(Kind::Command, "Node::Execute");
    if (m_observer) {
        m_observer(*this);
    }
}

void SimNode::SetString(const String& value) {
    pass("Node::SetString", value.view());
    requireKind(Kind::Enumeration, "Node::SetString");
    if (m_pEntries->find(value.view()) == nullptr) {
        Exceptions::raise("InvalidArgumentException", "Node::SetString",
                          "feature '" + m_name + "' has no entry '" + value.str() + "'");
    }
    m_text = value.str();
    if (m_observer) {
        m_observer(*this);
    }
}

String SimNode::GetString() {
    pass("Node::GetString");
    if (m_kind == Kind::Float) {
        return String(formatDouble(m_value));
    }
    requireKind(Kind::Enumeration, "Node::GetString");
    return String(m_text);
}

void SimNode::SetDouble(double value) {
    pass("Node::SetDouble", formatDouble(value));
    requireKind(Kind::Float, "Node::SetDouble");
    if (!(value >= m_min && value <= m_max)) {
        Exceptions::raise("OutOfRangeException", "Node::SetDouble",
                          "value " + formatDouble(value) + " of feature '" + m_name + "' is outside " +
                              formatDouble(m_min) + ".." + formatDouble(m_max));
    }
    m_value = value;
    if (m_observer) {
        m_observer(*this);
    }
}

double SimNode::GetDouble() {
    pass("Node::GetDouble");
    requireKind(Kind::Float, "Node::GetDouble");
    return m_value;
}

double SimNode::GetDoubleMin() {
    pass("Node::GetDoubleMin");
    requireKind(Kind::Float, "Node::GetDoubleMin");
    return m_min;
}

double SimNode::GetDoubleMax() {
    pass("Node::GetDoubleMax");
    requireKind(Kind::Float, "Node::GetDoubleMax");
    return m_max;
}

NodeMap* SimNode::GetEnumNodeList() {
    pass("Node::GetEnumNodeList");
    requireKind(Kind::Enumeration, "Node::GetEnumNodeList");
    return m_pEntries.get();
}

SimNodeMap::SimNodeMap(core::CallGate& gate, std::string mapName) : m_site(gate, std::move(mapName)) {}

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

bool SimNodeMap::GetNodePresent(const String& name) {
    m_site.pass("NodeMap::GetNodePresent", name.view());
    return find(name.view()) != nullptr;
}

Node* SimNodeMap::GetNode(const String& name) {
    m_site.pass("NodeMap::GetNode", name.view());
    SimNode* node = find(name.view());
    if (node == nullptr) {
        Exceptions::raise("NotFoundException", "NodeMap::GetNode", "no feature '" + name.str() + "'");
    }
    return node;
}

uint64_t SimNodeMap::GetNodeCount() {
    m_site.pass("NodeMap::GetNodeCount");
    return m_nodes.size();
}

} // namespace sdk::sim
