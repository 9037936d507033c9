#include "sdk/aravis/AravisFeatures.h"

#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"
#include "sdk/aravis/AravisGevLink.h"

namespace sdk::aravis {

// ---- node ------------------------------------------------------------------------------------------------

AravisNode::AravisNode(const CallSite& site, const DeviceLink& link, ArvGcFeatureNode* node, std::string name,
                       NodeType type)
    : Node(site, name, type), m_deviceSite(site), m_link(link), m_pNode(node), m_name(std::move(name)) {}

AravisNode::~AravisNode() = default;

bool AravisNode::typeOf(ArvGcFeatureNode* node, NodeType& type) noexcept {
    if (ARV_IS_GC_COMMAND(node)) {
        type = NodeType::Command;
    } else if (ARV_IS_GC_ENUMERATION(node)) {
        type = NodeType::Enumeration;
    } else if (ARV_IS_GC_ENUM_ENTRY(node)) {
        type = NodeType::EnumEntry;
    } else if (ARV_IS_GC_BOOLEAN(node)) {
        type = NodeType::Boolean;
    } else if (ARV_IS_GC_FLOAT(node)) {
        type = NodeType::Float;
    } else if (ARV_IS_GC_INTEGER(node)) {
        type = NodeType::Integer;
    } else if (ARV_IS_GC_STRING(node)) {
        type = NodeType::String;
    } else {
        return false; // categories, ports, registers without a value type
    }
    return true;
}

AccessMode AravisNode::doGetAccessMode() {
    m_link.requireConnected("Node::GetAccessMode");
    ErrorSlot implementedError;
    if (arv_gc_feature_node_is_implemented(m_pNode, implementedError.out()) == FALSE) {
        return AccessMode::NotImplemented;
    }
    ErrorSlot availableError;
    if (arv_gc_feature_node_is_available(m_pNode, availableError.out()) == FALSE) {
        return AccessMode::NotAvailable;
    }
    if (GetType() == NodeType::EnumEntry) {
        return AccessMode::ReadOnly;
    }
    switch (arv_gc_feature_node_get_actual_access_mode(m_pNode)) {
    case ARV_GC_ACCESS_MODE_RO:
        return AccessMode::ReadOnly;
    case ARV_GC_ACCESS_MODE_WO:
        return AccessMode::WriteOnly;
    default:
        return GetType() == NodeType::Command ? AccessMode::WriteOnly : AccessMode::ReadWrite;
    }
}

void AravisNode::doExecute() {
    m_link.requireConnected("Node::Execute");
    ErrorSlot error;
    arv_gc_command_execute(ARV_GC_COMMAND(m_pNode), error.out());
    error.check("Node::Execute", m_name);
}

void AravisNode::doSetString(const std::string& value) {
    m_link.requireConnected("Node::SetString");
    ErrorSlot error;
    if (GetType() == NodeType::Enumeration) {
        arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(m_pNode), value.c_str(), error.out());
    } else {
        arv_gc_string_set_value(ARV_GC_STRING(m_pNode), value.c_str(), error.out());
    }
    error.check("Node::SetString", m_name + " = " + value);
}

std::string AravisNode::doGetString() {
    m_link.requireConnected("Node::GetString");
    ErrorSlot error;
    const char* value = GetType() == NodeType::Enumeration
                            ? arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(m_pNode), error.out())
                            : arv_gc_string_get_value(ARV_GC_STRING(m_pNode), error.out());
    error.check("Node::GetString", m_name);
    return value != nullptr ? std::string(value) : std::string();
}

void AravisNode::doSetDouble(double value) {
    m_link.requireConnected("Node::SetDouble");
    ErrorSlot error;
    arv_gc_float_set_value(ARV_GC_FLOAT(m_pNode), value, error.out());
    error.check("Node::SetDouble", m_name + " = " + std::to_string(value));
}

double AravisNode::doGetDouble() {
    m_link.requireConnected("Node::GetDouble");
    ErrorSlot error;
    const double value = arv_gc_float_get_value(ARV_GC_FLOAT(m_pNode), error.out());
    error.check("Node::GetDouble", m_name);
    return value;
}

double AravisNode::doGetDoubleMin() {
    m_link.requireConnected("Node::GetDoubleMin");
    ErrorSlot error;
    const double value = arv_gc_float_get_min(ARV_GC_FLOAT(m_pNode), error.out());
    error.check("Node::GetDoubleMin", m_name);
    return value;
}

double AravisNode::doGetDoubleMax() {
    m_link.requireConnected("Node::GetDoubleMax");
    ErrorSlot error;
    const double value = arv_gc_float_get_max(ARV_GC_FLOAT(m_pNode), error.out());
    error.check("Node::GetDoubleMax", m_name);
    return value;
}

void AravisNode::doSetInt(int64_t value) {
    m_link.requireConnected("Node::SetInt");
    ErrorSlot error;
    arv_gc_integer_set_value(ARV_GC_INTEGER(m_pNode), value, error.out());
    error.check("Node::SetInt", m_name + " = " + std::to_string(value));
    gev::noteHostSetting(m_pNode, m_name); // a packet size or delay the host chose is kept by the stream
}

int64_t AravisNode::doGetInt() {
    m_link.requireConnected("Node::GetInt");
    ErrorSlot error;
    const int64_t value = arv_gc_integer_get_value(ARV_GC_INTEGER(m_pNode), error.out());
    error.check("Node::GetInt", m_name);
    return value;
}

int64_t AravisNode::doGetIntMin() {
    m_link.requireConnected("Node::GetIntMin");
    ErrorSlot error;
    const int64_t value = arv_gc_integer_get_min(ARV_GC_INTEGER(m_pNode), error.out());
    error.check("Node::GetIntMin", m_name);
    return value;
}

int64_t AravisNode::doGetIntMax() {
    m_link.requireConnected("Node::GetIntMax");
    ErrorSlot error;
    const int64_t value = arv_gc_integer_get_max(ARV_GC_INTEGER(m_pNode), error.out());
    error.check("Node::GetIntMax", m_name);
    return value;
}

int64_t AravisNode::doGetIntInc() {
    m_link.requireConnected("Node::GetIntInc");
    ErrorSlot error;
    const int64_t value = arv_gc_integer_get_inc(ARV_GC_INTEGER(m_pNode), error.out());
    error.check("Node::GetIntInc", m_name);
    return value > 0 ? value : 1;
}

void AravisNode::doSetBool(bool value) {
    m_link.requireConnected("Node::SetBool");
    ErrorSlot error;
    arv_gc_boolean_set_value(ARV_GC_BOOLEAN(m_pNode), value ? TRUE : FALSE, error.out());
    error.check("Node::SetBool", m_name);
}

bool AravisNode::doGetBool() {
    m_link.requireConnected("Node::GetBool");
    ErrorSlot error;
    const gboolean value = arv_gc_boolean_get_value(ARV_GC_BOOLEAN(m_pNode), error.out());
    error.check("Node::GetBool", m_name);
    return value != FALSE;
}

NodeMap* AravisNode::doGetEnumNodeList() {
    if (m_pEntries == nullptr) {
        m_pEntries = std::make_unique<AravisNodeMap>(m_deviceSite, m_link, ARV_GC_ENUMERATION(m_pNode), m_name);
    }
    return m_pEntries.get();
}

// ---- node map --------------------------------------------------------------------------------------------

AravisNodeMap::AravisNodeMap(const CallSite& site, const DeviceLink& link, ArvGc* genicam)
    : NodeMap(site.gate(), site.objectName()), m_deviceSite(site), m_link(link), m_pGenicam(genicam) {}

AravisNodeMap::AravisNodeMap(const CallSite& site, const DeviceLink& link, ArvGcEnumeration* enumeration,
                             const std::string& feature)
    : NodeMap(site.gate(), site.objectName() + "/" + feature), m_deviceSite(site), m_link(link),
      m_pEnumeration(enumeration) {}

AravisNodeMap::~AravisNodeMap() = default;

ArvGcFeatureNode* AravisNodeMap::lookUp(const std::string& name) const {
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

// A camera that is gone has no features to offer: each call on it is an SDK error.
AravisNode* AravisNodeMap::find(std::string_view name) {
    m_link.requireConnected("NodeMap::GetNode");
    if (const auto known = m_nodes.find(name); known != m_nodes.end()) {
        return known->second.get();
    }
    const std::string key(name);
    ArvGcFeatureNode* node = lookUp(key);
    NodeType type{};
    if (node == nullptr || !AravisNode::typeOf(node, type)) {
        return nullptr;
    }
    ErrorSlot error;
    if (arv_gc_feature_node_is_implemented(node, error.out()) == FALSE) {
        return nullptr;
    }
    auto& slot = m_nodes[key];
    slot = std::make_unique<AravisNode>(m_deviceSite, m_link, node, key, type);
    return slot.get();
}

uint64_t AravisNodeMap::doGetNodeCount() {
    uint64_t count = 0;
    NodeType type{};
    if (m_pEnumeration != nullptr) {
        for (const GSList* entry = arv_gc_enumeration_get_entries(m_pEnumeration); entry != nullptr;
             entry = entry->next) {
            ++count;
        }
        return count;
    }
    // Features are the children of the description's root element that are feature nodes of a value type.
    ArvDomElement* root = arv_dom_document_get_document_element(ARV_DOM_DOCUMENT(m_pGenicam));
    for (ArvDomNode* child = root != nullptr ? arv_dom_node_get_first_child(ARV_DOM_NODE(root)) : nullptr;
         child != nullptr; child = arv_dom_node_get_next_sibling(child)) {
        count += ARV_IS_GC_FEATURE_NODE(child) && AravisNode::typeOf(ARV_GC_FEATURE_NODE(child), type) ? 1 : 0;
    }
    return count;
}

} // namespace sdk::aravis
