// The facade's gate for features: the call passes the session's gate as "serial/feature", then the type, the
// access mode and the limits are checked here, the same for every producer, before the producer sees it.
#include "sdk/Node.h"

#include "sdk/SdkExceptions.h"

#include <cstdio>

namespace sdk {
namespace {

std::string formatDouble(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

const char* typeName(NodeType type) {
    switch (type) {
    case NodeType::Integer:
        return "an integer feature";
    case NodeType::Boolean:
        return "a boolean feature";
    case NodeType::Float:
        return "a floating-point feature";
    case NodeType::String:
        return "a string feature";
    case NodeType::Enumeration:
        return "an enumeration";
    case NodeType::EnumEntry:
        return "an enumeration entry";
    case NodeType::Command:
        return "a command";
    }
    return "a feature";
}

bool readable(AccessMode mode) {
    return mode == AccessMode::ReadOnly || mode == AccessMode::ReadWrite;
}
bool writable(AccessMode mode) {
    return mode == AccessMode::WriteOnly || mode == AccessMode::ReadWrite;
}

} // namespace

Node::Node(const CallSite& site, std::string name, NodeType type)
    : m_site(site), m_name(std::move(name)), m_type(type) {}

Node::~Node() = default;

void Node::pass(std::string_view call, std::string_view args) const {
    m_site.passOn(call, m_name, args);
}

void Node::requireAccess(Use use, const char* call) {
    const AccessMode mode = doGetAccessMode();
    if (mode == AccessMode::NotAvailable || mode == AccessMode::NotImplemented) {
        Exceptions::raise("NotAvailableException", call, "feature '" + m_name + "' is not available now");
    }
    if (use == Use::Read && !readable(mode)) {
        Exceptions::raise("AccessDeniedException", call, "feature '" + m_name + "' is not readable");
    }
    if (use == Use::Write && !writable(mode)) {
        Exceptions::raise("AccessDeniedException", call, "feature '" + m_name + "' is not writable");
    }
}

void Node::require(NodeType type, Use use, const char* call) {
    if (m_type != type) {
        Exceptions::raise("AccessDeniedException", call,
                          "feature '" + m_name + "' is " + typeName(m_type) + ", not " + typeName(type));
    }
    requireAccess(use, call);
}

AccessMode Node::GetAccessMode() {
    pass("Node::GetAccessMode");
    return doGetAccessMode();
}

bool Node::IsAvailable() {
    pass("Node::IsAvailable");
    const AccessMode mode = doGetAccessMode();
    return mode != AccessMode::NotAvailable && mode != AccessMode::NotImplemented;
}

bool Node::IsReadable() {
    pass("Node::IsReadable");
    return readable(doGetAccessMode());
}

bool Node::IsWritable() {
    pass("Node::IsWritable");
    return writable(doGetAccessMode());
}

void Node::Execute() {
    pass("Node::Execute");
    require(NodeType::Command, Use::Write, "Node::Execute");
    doExecute();
}

bool Node::hasEntry(const std::string& entry) {
    NodeMap* entries = doGetEnumNodeList();
    if (entries == nullptr) {
        return false;
    }
    Node* node = entries->doFindNode(entry);
    return node != nullptr && readable(node->doGetAccessMode());
}

void Node::SetString(const String& value) {
    pass("Node::SetString", value.view());
    if (m_type == NodeType::String) {
        require(NodeType::String, Use::Write, "Node::SetString");
        doSetString(value.str());
        return;
    }
    require(NodeType::Enumeration, Use::Write, "Node::SetString");
    if (!hasEntry(value.str())) {
        Exceptions::raise("InvalidArgumentException", "Node::SetString",
                          "feature '" + m_name + "' has no entry '" + value.str() + "'");
    }
    doSetString(value.str());
}

String Node::GetString() {
    pass("Node::GetString");
    switch (m_type) {
    case NodeType::Float:
        requireAccess(Use::Read, "Node::GetString");
        return String(formatDouble(doGetDouble()));
    case NodeType::Integer:
        requireAccess(Use::Read, "Node::GetString");
        return String(std::to_string(doGetInt()));
    case NodeType::Boolean:
        requireAccess(Use::Read, "Node::GetString");
        return String(doGetBool() ? "true" : "false");
    case NodeType::String:
        requireAccess(Use::Read, "Node::GetString");
        return String(doGetString());
    default:
        require(NodeType::Enumeration, Use::Read, "Node::GetString");
        return String(doGetString());
    }
}

void Node::SetDouble(double value) {
    pass("Node::SetDouble", formatDouble(value));
    require(NodeType::Float, Use::Write, "Node::SetDouble");
    const double min = doGetDoubleMin();
    const double max = doGetDoubleMax();
    if (!(value >= min && value <= max)) {
        Exceptions::raise("OutOfRangeException", "Node::SetDouble",
                          "value " + formatDouble(value) + " of feature '" + m_name + "' is outside " +
                              formatDouble(min) + ".." + formatDouble(max));
    }
    doSetDouble(value);
}

double Node::GetDouble() {
    pass("Node::GetDouble");
    require(NodeType::Float, Use::Read, "Node::GetDouble");
    return doGetDouble();
}

double Node::GetDoubleMin() {
    pass("Node::GetDoubleMin");
    require(NodeType::Float, Use::Look, "Node::GetDoubleMin");
    return doGetDoubleMin();
}

double Node::GetDoubleMax() {
    pass("Node::GetDoubleMax");
    require(NodeType::Float, Use::Look, "Node::GetDoubleMax");
    return doGetDoubleMax();
}

void Node::SetInt(int64_t value) {
    pass("Node::SetInt", std::to_string(value));
    require(NodeType::Integer, Use::Write, "Node::SetInt");
    const int64_t min = doGetIntMin();
    const int64_t max = doGetIntMax();
    const int64_t inc = doGetIntInc();
    if (value < min || value > max) {
        Exceptions::raise("OutOfRangeException", "Node::SetInt",
                          "value " + std::to_string(value) + " of feature '" + m_name + "' is outside " +
                              std::to_string(min) + ".." + std::to_string(max));
    }
    // value >= min here, so value - min fits an unsigned 64-bit number even across the sign.
    if (inc > 1 && (static_cast<uint64_t>(value) - static_cast<uint64_t>(min)) % static_cast<uint64_t>(inc) != 0) {
        Exceptions::raise("OutOfRangeException", "Node::SetInt",
                          "value " + std::to_string(value) + " of feature '" + m_name + "' is not " +
                              std::to_string(min) + " plus a multiple of " + std::to_string(inc));
    }
    doSetInt(value);
}

int64_t Node::GetInt() {
    pass("Node::GetInt");
    require(NodeType::Integer, Use::Read, "Node::GetInt");
    return doGetInt();
}

int64_t Node::GetIntMin() {
    pass("Node::GetIntMin");
    require(NodeType::Integer, Use::Look, "Node::GetIntMin");
    return doGetIntMin();
}

int64_t Node::GetIntMax() {
    pass("Node::GetIntMax");
    require(NodeType::Integer, Use::Look, "Node::GetIntMax");
    return doGetIntMax();
}

int64_t Node::GetIntInc() {
    pass("Node::GetIntInc");
    require(NodeType::Integer, Use::Look, "Node::GetIntInc");
    return doGetIntInc();
}

void Node::SetBool(bool value) {
    pass("Node::SetBool", value ? "true" : "false");
    require(NodeType::Boolean, Use::Write, "Node::SetBool");
    doSetBool(value);
}

bool Node::GetBool() {
    pass("Node::GetBool");
    require(NodeType::Boolean, Use::Read, "Node::GetBool");
    return doGetBool();
}

NodeMap* Node::GetEnumNodeList() {
    pass("Node::GetEnumNodeList");
    require(NodeType::Enumeration, Use::Look, "Node::GetEnumNodeList");
    return doGetEnumNodeList();
}

// Producers override the operations of the types they offer; the facade never calls the others.
AccessMode Node::doGetAccessMode() {
    switch (m_type) {
    case NodeType::Command:
        return AccessMode::WriteOnly;
    case NodeType::EnumEntry:
        return AccessMode::ReadOnly;
    default:
        return AccessMode::ReadWrite;
    }
}

namespace {
[[noreturn]] void notOffered(const std::string& name, const char* call) {
    Exceptions::raise("AccessDeniedException", call, "feature '" + name + "' does not offer this call");
}
} // namespace

void Node::doExecute() {
    notOffered(m_name, "Node::Execute");
}
void Node::doSetString(const std::string& /*value*/) {
    notOffered(m_name, "Node::SetString");
}
std::string Node::doGetString() {
    notOffered(m_name, "Node::GetString");
}
void Node::doSetDouble(double /*value*/) {
    notOffered(m_name, "Node::SetDouble");
}
double Node::doGetDouble() {
    notOffered(m_name, "Node::GetDouble");
}
double Node::doGetDoubleMin() {
    notOffered(m_name, "Node::GetDoubleMin");
}
double Node::doGetDoubleMax() {
    notOffered(m_name, "Node::GetDoubleMax");
}
void Node::doSetInt(int64_t /*value*/) {
    notOffered(m_name, "Node::SetInt");
}
int64_t Node::doGetInt() {
    notOffered(m_name, "Node::GetInt");
}
int64_t Node::doGetIntMin() {
    notOffered(m_name, "Node::GetIntMin");
}
int64_t Node::doGetIntMax() {
    notOffered(m_name, "Node::GetIntMax");
}
int64_t Node::doGetIntInc() {
    return 1;
}
void Node::doSetBool(bool /*value*/) {
    notOffered(m_name, "Node::SetBool");
}
bool Node::doGetBool() {
    notOffered(m_name, "Node::GetBool");
}
NodeMap* Node::doGetEnumNodeList() {
    notOffered(m_name, "Node::GetEnumNodeList");
}

// ---- maps ----------------------------------------------------------------------------------------------

NodeMap::NodeMap(core::CallGate& gate, std::string mapName) : m_site(gate, std::move(mapName)) {}

NodeMap::~NodeMap() = default;

bool NodeMap::GetNodePresent(const String& name) {
    m_site.pass("NodeMap::GetNodePresent", name.view());
    return doFindNode(name.view()) != nullptr;
}

Node* NodeMap::GetNode(const String& name) {
    m_site.pass("NodeMap::GetNode", name.view());
    Node* node = doFindNode(name.view());
    if (node == nullptr) {
        Exceptions::raise("NotFoundException", "NodeMap::GetNode", "no feature '" + name.str() + "'");
    }
    return node;
}

uint64_t NodeMap::GetNodeCount() {
    m_site.pass("NodeMap::GetNodeCount");
    return doGetNodeCount();
}

} // namespace sdk
