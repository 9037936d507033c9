// GenICam features of a device (Node) and the maps that hold them (NodeMap). Both belong to the SDK.
//
// A feature has a type, fixed for its life, and an access mode, which may change (a feature may be writable
// only while the camera does not acquire). The facade checks both before the producer sees a call: a call that
// does not fit the type is "AccessDeniedException"; reading a feature that is not readable or writing one that
// is not writable is "AccessDeniedException"; any call on a feature that is not available now is
// "NotAvailableException"; a number outside the feature's limits is "OutOfRangeException"; an enumeration
// entry the feature lacks (or that is not available now) is "InvalidArgumentException".
#pragma once

#include "sdk/CallSite.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace sdk {

class NodeMap;

enum class NodeType : uint8_t { Integer, Boolean, Float, String, Enumeration, EnumEntry, Command };

// As GenICam has them: not implemented, not available, write-only, read-only, read-write.
enum class AccessMode : uint8_t { NotImplemented, NotAvailable, WriteOnly, ReadOnly, ReadWrite };

class VXSDK_API Node {
public:
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    virtual ~Node();

    [[nodiscard]] String GetName() const { return String(m_name); }
    [[nodiscard]] NodeType GetType() const noexcept { return m_type; }
    [[nodiscard]] AccessMode GetAccessMode();
    [[nodiscard]] bool IsAvailable();
    [[nodiscard]] bool IsReadable();
    [[nodiscard]] bool IsWritable();

    void Execute(); // command features
    // Enumerations by entry name, string features as they are. Reading also gives the value of an integer,
    // floating-point or boolean feature as text.
    void SetString(const String& value);
    [[nodiscard]] String GetString();
    // Floating-point features, inside their limits.
    void SetDouble(double value);
    [[nodiscard]] double GetDouble();
    [[nodiscard]] double GetDoubleMin();
    [[nodiscard]] double GetDoubleMax();
    // Integer features, inside their limits and on their increment from the minimum.
    void SetInt(int64_t value);
    [[nodiscard]] int64_t GetInt();
    [[nodiscard]] int64_t GetIntMin();
    [[nodiscard]] int64_t GetIntMax();
    [[nodiscard]] int64_t GetIntInc();
    // Boolean features.
    void SetBool(bool value);
    [[nodiscard]] bool GetBool();
    // The entries of an enumeration feature.
    [[nodiscard]] NodeMap* GetEnumNodeList();

protected:
    // `site` names the feature's device ("serial"); calls pass the gate as "serial/name".
    Node(const CallSite& site, std::string name, NodeType type);

    // The feature's access mode now. The default: read-write, write-only for commands, read-only for entries.
    [[nodiscard]] virtual AccessMode doGetAccessMode();
    // Each producer overrides the operations of the types it offers; the facade calls them only on a node of
    // that type, with access and limits already checked.
    virtual void doExecute();
    virtual void doSetString(const std::string& value);
    [[nodiscard]] virtual std::string doGetString();
    virtual void doSetDouble(double value);
    [[nodiscard]] virtual double doGetDouble();
    [[nodiscard]] virtual double doGetDoubleMin();
    [[nodiscard]] virtual double doGetDoubleMax();
    virtual void doSetInt(int64_t value);
    [[nodiscard]] virtual int64_t doGetInt();
    [[nodiscard]] virtual int64_t doGetIntMin();
    [[nodiscard]] virtual int64_t doGetIntMax();
    [[nodiscard]] virtual int64_t doGetIntInc();
    virtual void doSetBool(bool value);
    [[nodiscard]] virtual bool doGetBool();
    [[nodiscard]] virtual NodeMap* doGetEnumNodeList();

private:
    enum class Use : uint8_t { Read, Write, Look };
    void pass(std::string_view call, std::string_view args = {}) const;
    void require(NodeType type, Use use, const char* call);
    void requireAccess(Use use, const char* call);
    [[nodiscard]] bool hasEntry(const std::string& entry);

    const CallSite& m_site; // the device's; outlives the node
    std::string m_name;
    NodeType m_type;
};

class VXSDK_API NodeMap {
public:
    NodeMap(const NodeMap&) = delete;
    NodeMap& operator=(const NodeMap&) = delete;
    virtual ~NodeMap();

    // True when the map holds `name`; never raises for an absent name.
    [[nodiscard]] bool GetNodePresent(const String& name);
    // The node `name`; an absent name is an SDK error.
    [[nodiscard]] Node* GetNode(const String& name);
    [[nodiscard]] uint64_t GetNodeCount();

protected:
    // `mapName` names the map in the trace and in fault rules: the device serial, or "serial/feature" for the
    // entries of an enumeration.
    NodeMap(core::CallGate& gate, std::string mapName);

    // The node `name`, or null when the map lacks it.
    [[nodiscard]] virtual Node* doFindNode(std::string_view name) = 0;
    [[nodiscard]] virtual uint64_t doGetNodeCount() = 0;

private:
    friend class Node; // an enumeration looks its entries up without a call of its own
    CallSite m_site;
};

} // namespace sdk
