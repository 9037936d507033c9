// The remote node map of an Aravis camera: Node and NodeMap over Aravis's GenICam tree. Called on the host's
// side only, one call at a time (Aravis's GenICam tree is not thread-safe; the delivery thread never uses it).
// The facade checks types, access modes and limits; these objects read and write through Aravis.
#pragma once

#include "sdk/Node.h"
#include "sdk/aravis/AravisObjects.h"

#include <map>
#include <memory>
#include <string>

namespace sdk::aravis {

class AravisNodeMap;

// One feature, or one entry of an enumeration. Belongs to its map; lives while the camera is open.
class AravisNode final : public Node {
public:
    // `site` is the device's; `type` comes from typeOf().
    AravisNode(const CallSite& site, const DeviceLink& link, ArvGcFeatureNode* node, std::string name, NodeType type);
    ~AravisNode() override;

    // The facade type of an Aravis feature node; false for nodes that are no feature of a known type.
    [[nodiscard]] static bool typeOf(ArvGcFeatureNode* node, NodeType& type) noexcept;

protected:
    AccessMode doGetAccessMode() override;
    void doExecute() override;
    void doSetString(const std::string& value) override;
    std::string doGetString() override;
    void doSetDouble(double value) override;
    double doGetDouble() override;
    double doGetDoubleMin() override;
    double doGetDoubleMax() override;
    void doSetInt(int64_t value) override;
    int64_t doGetInt() override;
    int64_t doGetIntMin() override;
    int64_t doGetIntMax() override;
    int64_t doGetIntInc() override;
    void doSetBool(bool value) override;
    bool doGetBool() override;
    NodeMap* doGetEnumNodeList() override;

private:
    template <typename Call>
    auto onCamera(const char* function, std::string what, Call call) const;

    const CallSite& m_deviceSite;
    const DeviceLink& m_link;
    ArvGcFeatureNode* m_pNode; // owned by the camera's GenICam tree
    std::string m_name;
    std::unique_ptr<AravisNodeMap> m_pEntries; // an enumeration's entries, made on first use
};

// The features of a camera (or the entries of one enumeration).
class AravisNodeMap final : public NodeMap {
public:
    // The camera's features; `site` is the device's.
    AravisNodeMap(const CallSite& site, const DeviceLink& link, ArvGc* genicam);
    // The entries of `enumeration`, named "serial/feature".
    AravisNodeMap(const CallSite& site, const DeviceLink& link, ArvGcEnumeration* enumeration,
                  const std::string& feature);
    ~AravisNodeMap() override;

    // The node `name`, or null when the camera has no feature (entry) of that name.
    [[nodiscard]] AravisNode* find(std::string_view name);

protected:
    Node* doFindNode(std::string_view name) override { return find(name); }
    uint64_t doGetNodeCount() override;

private:
    // The feature (or entry) `name` of `genicam` (or of `enumeration`); null when there is none.
    [[nodiscard]] static ArvGcFeatureNode* lookUp(ArvGc* genicam, ArvGcEnumeration* enumeration,
                                                  const std::string& name);

    const CallSite& m_deviceSite;
    const DeviceLink& m_link;
    ArvGc* m_pGenicam = nullptr;                // owned by the camera; null for an entry map
    ArvGcEnumeration* m_pEnumeration = nullptr; // owned by the camera; null for a feature map
    std::map<std::string, std::unique_ptr<AravisNode>, std::less<>> m_nodes; // made on first use
};

} // namespace sdk::aravis
