// The remote node map of an Aravis camera: Node and NodeMap over Aravis's GenICam tree. Called on the host's
// side only, one call at a time (Aravis's GenICam tree is not thread-safe; the delivery thread never uses it).
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
    AravisNode(const DeviceLink& link, ArvGcFeatureNode* node, std::string name);
    ~AravisNode() override;

    String GetName() override { return String(m_name); }
    void Execute() override;
    void SetString(const String& value) override;
    String GetString() override;
    void SetDouble(double value) override;
    double GetDouble() override;
    double GetDoubleMin() override;
    double GetDoubleMax() override;
    NodeMap* GetEnumNodeList() override;

private:
    void requireReachable(const char* function) const;
    [[noreturn]] void raiseWrongType(const char* function, const char* wanted) const;

    const DeviceLink& m_link;
    ArvGcFeatureNode* m_pNode; // owned by the camera's GenICam tree
    std::string m_name;
    std::unique_ptr<AravisNodeMap> m_pEntries; // an enumeration's entries, made on first use
};

// The features of a camera (or the entries of one enumeration).
class AravisNodeMap final : public NodeMap {
public:
    // The camera's features.
    AravisNodeMap(const DeviceLink& link, ArvGc* genicam);
    // The entries of `enumeration`.
    AravisNodeMap(const DeviceLink& link, ArvGcEnumeration* enumeration);
    ~AravisNodeMap() override;

    bool GetNodePresent(const String& name) override;
    Node* GetNode(const String& name) override;
    uint64_t GetNodeCount() override;

private:
    [[nodiscard]] ArvGcFeatureNode* find(const std::string& name) const;

    const DeviceLink& m_link;
    ArvGc* m_pGenicam = nullptr;                // owned by the camera; null for an entry map
    ArvGcEnumeration* m_pEnumeration = nullptr; // owned by the camera; null for a feature map
    std::map<std::string, std::unique_ptr<AravisNode>, std::less<>> m_nodes; // made on first use
};

} // namespace sdk::aravis
