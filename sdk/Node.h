// GenICam features of a device (Node) and the maps that hold them (NodeMap). Both belong to the SDK.
#pragma once

#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>

namespace sdk {

class NodeMap;

class VXSDK_API Node {
public:
    Node() = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node();

    [[nodiscard]] virtual String GetName() = 0;
    virtual void Execute() = 0;                      // command features
    virtual void SetString(const String& value) = 0; // enumeration features, by entry name
    [[nodiscard]] virtual String GetString() = 0;
    virtual void SetDouble(double value) = 0; // floating-point features, inside their limits
    [[nodiscard]] virtual double GetDouble() = 0;
    [[nodiscard]] virtual double GetDoubleMin() = 0;
    [[nodiscard]] virtual double GetDoubleMax() = 0;
    [[nodiscard]] virtual NodeMap* GetEnumNodeList() = 0; // the entries of an enumeration feature
};

class VXSDK_API NodeMap {
public:
    NodeMap() = default;
    NodeMap(const NodeMap&) = delete;
    NodeMap& operator=(const NodeMap&) = delete;
    virtual ~NodeMap();

    // True when the map holds `name`; never raises for an absent name.
    [[nodiscard]] virtual bool GetNodePresent(const String& name) = 0;
    // The node `name`; an absent name is an SDK error.
    [[nodiscard]] virtual Node* GetNode(const String& name) = 0;
    [[nodiscard]] virtual uint64_t GetNodeCount() = 0;
};

} // namespace sdk
