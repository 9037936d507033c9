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

// Runs `call` with a GError slot on the camera's control channel and raises its error under `function`. `call`
// captures only values and the node: the caller may give up and the node map end while it still runs.
template <typename Call>
auto AravisNode::onCamera(const char* function, std::string what, Call call) const {
    m_link.requireConnected(function);
    return m_link.control->run(function, [function, what = std::move(what), call = std::move(call)] {
        ErrorSlot error;
        if constexpr (std::is_void_v<std::invoke_result_t<Call&, GError**>>) {
            call(error.out());
            error.check(function, what);
        } else {
            auto value = call(error.out());
            error.check(function, what);
            return value;
        }
    });
}

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

// Whether a feature is implemented or available may depend on the camera's registers: a control call. Their
// errors read as "no".
AccessMode AravisNode::doGetAccessMode() {
    m_link.requireConnected("Node::GetAccessMode");
    return m_link.control->run("Node::GetAccessMode", [node = m_pNode, type = GetType()] {
        ErrorSlot implementedError;
        if (arv_gc_feature_node_is_implemented(node, implementedError.out()) == FALSE) {
            return AccessMode::NotImplemented;
        }
        ErrorSlot availableError;
        if (arv_gc_feature_node_is_available(node, availableError.out()) == FALSE) {
            return AccessMode::NotAvailable;
        }
        if (type == NodeType::EnumEntry) {
            return AccessMode::ReadOnly;
        }
        switch (arv_gc_feature_node_get_actual_access_mode(node)) {
        case ARV_GC_ACCESS_MODE_RO:
            return AccessMode::ReadOnly;
        case ARV_GC_ACCESS_MODE_WO:
            return AccessMode::WriteOnly;
        default:
            return type == NodeType::Command ? AccessMode::WriteOnly : AccessMode::ReadWrite;
        }
    });
}

void AravisNode::doExecute() {
    onCamera("Node::Execute", m_name,
             [node = m_pNode](GError** error) { arv_gc_command_execute(ARV_GC_COMMAND(node), error); });
}

void AravisNode::doSetString(const std::string& value) {
    onCamera("Node::SetString", m_name + " = " + value,
             [node = m_pNode, enumeration = GetType() == NodeType::Enumeration, value](GError** error) {
                 if (enumeration) {
                     arv_gc_enumeration_set_string_value(ARV_GC_ENUMERATION(node), value.c_str(), error);
                 } else {
                     arv_gc_string_set_value(ARV_GC_STRING(node), value.c_str(), error);
                 }
             });
}

std::string AravisNode::doGetString() {
    return onCamera(
        "Node::GetString", m_name, [node = m_pNode, enumeration = GetType() == NodeType::Enumeration](GError** error) {
            const char* value = enumeration ? arv_gc_enumeration_get_string_value(ARV_GC_ENUMERATION(node), error)
                                            : arv_gc_string_get_value(ARV_GC_STRING(node), error);
            return value != nullptr ? std::string(value) : std::string();
        });
}

void AravisNode::doSetDouble(double value) {
    onCamera("Node::SetDouble", m_name + " = " + std::to_string(value),
             [node = m_pNode, value](GError** error) { arv_gc_float_set_value(ARV_GC_FLOAT(node), value, error); });
}

double AravisNode::doGetDouble() {
    return onCamera("Node::GetDouble", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_float_get_value(ARV_GC_FLOAT(node), error); });
}

double AravisNode::doGetDoubleMin() {
    return onCamera("Node::GetDoubleMin", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_float_get_min(ARV_GC_FLOAT(node), error); });
}

double AravisNode::doGetDoubleMax() {
    return onCamera("Node::GetDoubleMax", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_float_get_max(ARV_GC_FLOAT(node), error); });
}

void AravisNode::doSetInt(int64_t value) {
    onCamera("Node::SetInt", m_name + " = " + std::to_string(value),
             [node = m_pNode, name = m_name, value](GError** error) {
                 arv_gc_integer_set_value(ARV_GC_INTEGER(node), value, error);
                 if (error == nullptr || *error == nullptr) {
                     gev::noteHostSetting(node, name); // a packet size or delay the host chose is kept by the stream
                 }
             });
}

int64_t AravisNode::doGetInt() {
    return onCamera("Node::GetInt", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_integer_get_value(ARV_GC_INTEGER(node), error); });
}

int64_t AravisNode::doGetIntMin() {
    return onCamera("Node::GetIntMin", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_integer_get_min(ARV_GC_INTEGER(node), error); });
}

int64_t AravisNode::doGetIntMax() {
    return onCamera("Node::GetIntMax", m_name,
                    [node = m_pNode](GError** error) { return arv_gc_integer_get_max(ARV_GC_INTEGER(node), error); });
}

int64_t AravisNode::doGetIntInc() {
    const int64_t value = onCamera("Node::GetIntInc", m_name, [node = m_pNode](GError** error) {
        return arv_gc_integer_get_inc(ARV_GC_INTEGER(node), error);
    });
    return value > 0 ? value : 1;
}

void AravisNode::doSetBool(bool value) {
    onCamera("Node::SetBool", m_name, [node = m_pNode, value](GError** error) {
        arv_gc_boolean_set_value(ARV_GC_BOOLEAN(node), value ? TRUE : FALSE, error);
    });
}

bool AravisNode::doGetBool() {
    return onCamera("Node::GetBool", m_name, [node = m_pNode](GError** error) {
        return arv_gc_boolean_get_value(ARV_GC_BOOLEAN(node), error) != FALSE;
    });
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

ArvGcFeatureNode* AravisNodeMap::lookUp(ArvGc* genicam, ArvGcEnumeration* enumeration, const std::string& name) {
    if (genicam != nullptr) {
        ArvGcNode* node = arv_gc_get_node(genicam, name.c_str());
        return ARV_IS_GC_FEATURE_NODE(node) ? ARV_GC_FEATURE_NODE(node) : nullptr;
    }
    for (const GSList* entry = arv_gc_enumeration_get_entries(enumeration); entry != nullptr; entry = entry->next) {
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
    // Whether it is implemented may depend on the camera's registers: a control call.
    ArvGcFeatureNode* node = m_link.control->run(
        "NodeMap::GetNode", [genicam = m_pGenicam, enumeration = m_pEnumeration, key]() -> ArvGcFeatureNode* {
            ArvGcFeatureNode* found = lookUp(genicam, enumeration, key);
            NodeType kind{};
            ErrorSlot error;
            if (found == nullptr || !AravisNode::typeOf(found, kind) ||
                arv_gc_feature_node_is_implemented(found, error.out()) == FALSE) {
                return nullptr;
            }
            return found;
        });
    NodeType type{};
    if (node == nullptr || !AravisNode::typeOf(node, type)) {
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
