#include "sdk/aravis/AravisFeatures.h"

#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"

#include <cmath>

namespace sdk::aravis {
namespace {

// A feature that Aravis knows and the camera implements; an entry counts only while it is available, as a
// camera offers it.
bool isOffered(ArvGcFeatureNode* node, bool entry) {
    if (node == nullptr) {
        return false;
    }
    GError* error = nullptr;
    const gboolean offered =
        entry ? arv_gc_feature_node_is_available(node, &error) : arv_gc_feature_node_is_implemented(node, &error);
    g_clear_error(&error);
    return offered != FALSE;
}

} // namespace

// ---- node ------------------------------------------------------------------------------------------------

AravisNode::AravisNode(const DeviceLink& link, ArvGcFeatureNode* node, std::string name)
    : m_link(link), m_pNode(node), m_name(std::move(name)) {}

AravisNode::~AravisNode() = default;

void AravisNode::requireReachable(const char* function) const {
    m_link.requireConnected(function);
}

void AravisNode::raiseWrongType(const char* function, const char* wanted) const {
    Exceptions::raise("InvalidArgumentException", function, "feature " + m_name + " is not " + wanted);
}

void AravisNode::Execute() {
    requireReachable("Node::Execute");
    if (!ARV_IS_GC_COMMAND(m_pNode)) {
        raiseWrongType("Node::Execute", "a command");
    }
    ErrorSlot error;
    arv_gc_command_execute(ARV_GC_COMMAND(m_pNode), error.out());
    error.check("Node::Execute", m_name);
}

void AravisNode::SetString(const String& value) {
    requireReachable("Node::SetString");
    if (value.isNull()) {
        Exceptions::raise("InvalidArgumentException", "Node::SetString", "null value for feature " + m_name);
    }
    ErrorSlot error;
    arv_gc_feature_node_set_value_from_string(m_pNode, value.get(), error.out());
    error.check("Node::SetString", m_name + " = " + value.str());
}

String AravisNode::GetString() {
    requireReachable("Node::GetString");
    ErrorSlot error;
    const char* value = arv_gc_feature_node_get_value_as_string(m_pNode, error.out());
    error.check("Node::GetString", m_name);
    return String(value != nullptr ? value : "");
}

void AravisNode::SetDouble(double value) {
    requireReachable("Node::SetDouble");
    ErrorSlot error;
    if (ARV_IS_GC_FLOAT(m_pNode)) {
        arv_gc_float_set_value(ARV_GC_FLOAT(m_pNode), value, error.out());
    } else if (ARV_IS_GC_INTEGER(m_pNode)) {
        arv_gc_integer_set_value(ARV_GC_INTEGER(m_pNode), std::llround(value), error.out());
    } else {
        raiseWrongType("Node::SetDouble", "a number");
    }
    error.check("Node::SetDouble", m_name + " = " + std::to_string(value));
}

double AravisNode::GetDouble() {
    requireReachable("Node::GetDouble");
    ErrorSlot error;
    double value = 0.0;
    if (ARV_IS_GC_FLOAT(m_pNode)) {
        value = arv_gc_float_get_value(ARV_GC_FLOAT(m_pNode), error.out());
    } else if (ARV_IS_GC_INTEGER(m_pNode)) {
        value = static_cast<double>(arv_gc_integer_get_value(ARV_GC_INTEGER(m_pNode), error.out()));
    } else {
        raiseWrongType("Node::GetDouble", "a number");
    }
    error.check("Node::GetDouble", m_name);
    return value;
}

double AravisNode::GetDoubleMin() {
    requireReachable("Node::GetDoubleMin");
    ErrorSlot error;
    double value = 0.0;
    if (ARV_IS_GC_FLOAT(m_pNode)) {
        value = arv_gc_float_get_min(ARV_GC_FLOAT(m_pNode), error.out());
    } else if (ARV_IS_GC_INTEGER(m_pNode)) {
        value = static_cast<double>(arv_gc_integer_get_min(ARV_GC_INTEGER(m_pNode), error.out()));
    } else {
        raiseWrongType("Node::GetDoubleMin", "a number");
    }
    error.check("Node::GetDoubleMin", m_name);
    return value;
}

double AravisNode::GetDoubleMax() {
    requireReachable("Node::GetDoubleMax");
    ErrorSlot error;
    double value = 0.0;
    if (ARV_IS_GC_FLOAT(m_pNode)) {
        value = arv_gc_float_get_max(ARV_GC_FLOAT(m_pNode), error.out());
    } else if (ARV_IS_GC_INTEGER(m_pNode)) {
        value = static_cast<double>(arv_gc_integer_get_max(ARV_GC_INTEGER(m_pNode), error.out()));
    } else {
        raiseWrongType("Node::GetDoubleMax", "a number");
    }
    error.check("Node::GetDoubleMax", m_name);
    return value;
}

NodeMap* AravisNode::GetEnumNodeList() {
    if (!ARV_IS_GC_ENUMERATION(m_pNode)) {
        raiseWrongType("Node::GetEnumNodeList", "an enumeration");
    }
    if (m_pEntries == nullptr) {
        m_pEntries = std::make_unique<AravisNodeMap>(m_link, ARV_GC_ENUMERATION(m_pNode));
    }
    return m_pEntries.get();
}

// ---- node map --------------------------------------------------------------------------------------------

AravisNodeMap::AravisNodeMap(const DeviceLink& link, ArvGc* genicam) : m_link(link), m_pGenicam(genicam) {}

AravisNodeMap::AravisNodeMap(const DeviceLink& link, ArvGcEnumeration* enumeration)
    : m_link(link), m_pEnumeration(enumeration) {}

AravisNodeMap::~AravisNodeMap() = default;

ArvGcFeatureNode* AravisNodeMap::find(const std::string& name) const {
    if (m_pGenicam != nullptr) {
        ArvGcNode* node = arv_gc_get_node(m_pGenicam, name.c_str());
        return ARV_IS_GC_FEATURE_NODE(node) ? ARV_GC_FEATURE_NODE(node) : nullptr;
    }
    for (const GSList* entry = arv_gc_enumeration_get_entries(m_pEnumeration); entry != nullptr; entry = entry->next) {
        auto* node = static_cast<ArvGcFeatureNode*>(entry->data);
        const char* entryName = arv_gc_feature_node_get_name(node);
        if (entryName != nullptr && name == entryName) {
            return node;
        }
    }
    return nullptr;
}

bool AravisNodeMap::GetNodePresent(const String& name) {
    if (name.isNull() || m_link.lost.load()) {
        return false;
    }
    return isOffered(find(name.str()), m_pEnumeration != nullptr);
}

Node* AravisNodeMap::GetNode(const String& name) {
    m_link.requireConnected("NodeMap::GetNode");
    const std::string key = name.isNull() ? std::string() : name.str();
    if (const auto known = m_nodes.find(key); known != m_nodes.end()) {
        return known->second.get();
    }
    ArvGcFeatureNode* node = find(key);
    if (!isOffered(node, m_pEnumeration != nullptr)) {
        Exceptions::raise("NotFoundException", "NodeMap::GetNode",
                          "camera " + m_link.serial + " has no feature '" + key + "'");
    }
    auto& slot = m_nodes[key];
    slot = std::make_unique<AravisNode>(m_link, node, key);
    return slot.get();
}

uint64_t AravisNodeMap::GetNodeCount() {
    uint64_t count = 0;
    if (m_pEnumeration != nullptr) {
        for (const GSList* entry = arv_gc_enumeration_get_entries(m_pEnumeration); entry != nullptr;
             entry = entry->next) {
            count += isOffered(static_cast<ArvGcFeatureNode*>(entry->data), true) ? 1 : 0;
        }
        return count;
    }
    // Features are the children of the description's root element that are feature nodes.
    ArvDomElement* root = arv_dom_document_get_document_element(ARV_DOM_DOCUMENT(m_pGenicam));
    for (ArvDomNode* child = root != nullptr ? arv_dom_node_get_first_child(ARV_DOM_NODE(root)) : nullptr;
         child != nullptr; child = arv_dom_node_get_next_sibling(child)) {
        count += ARV_IS_GC_FEATURE_NODE(child) ? 1 : 0;
    }
    return count;
}

} // namespace sdk::aravis
