// The GenICam features of a simulated camera: commands, enumerations, floating-point, integer and string
// values, each with its access mode.
#pragma once

#include "sdk/Node.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sdk::sim {

class SimNodeMap;

// One feature. Values are read and written from the host's thread; a feature that the delivery side needs
// reports each change through its observer instead of being read from another thread.
class SimNode final : public Node {
public:
    using Observer = std::function<void(const SimNode&)>; // after a successful Execute or write

    // `site` is the device's; it outlives the node.
    SimNode(const CallSite& site, std::string name, NodeType type);
    ~SimNode() override;

    static std::unique_ptr<SimNode> command(const CallSite& site, std::string name, Observer onExecute);
    static std::unique_ptr<SimNode> enumeration(const CallSite& site, std::string name,
                                                const std::vector<std::string>& entries, std::string value,
                                                Observer onWrite = {});
    static std::unique_ptr<SimNode> floating(const CallSite& site, std::string name, double min, double max,
                                             double value, Observer onWrite = {});
    static std::unique_ptr<SimNode> integer(const CallSite& site, std::string name, int64_t min, int64_t max,
                                            int64_t inc, int64_t value);
    static std::unique_ptr<SimNode> text(const CallSite& site, std::string name, std::string value);

    // Read-only and not-available features, as a camera's configuration fixes them.
    void setAccessMode(AccessMode mode) noexcept { m_access = mode; }

    [[nodiscard]] const std::string& name() const noexcept { return m_name; }
    [[nodiscard]] const std::string& stringValue() const noexcept { return m_text; }
    [[nodiscard]] double doubleValue() const noexcept { return m_value; }

protected:
    AccessMode doGetAccessMode() override { return m_access; }
    void doExecute() override;
    void doSetString(const std::string& value) override;
    std::string doGetString() override { return m_text; }
    void doSetDouble(double value) override;
    double doGetDouble() override { return m_value; }
    double doGetDoubleMin() override { return m_min; }
    double doGetDoubleMax() override { return m_max; }
    void doSetInt(int64_t value) override { m_nValue = value; }
    int64_t doGetInt() override { return m_nValue; }
    int64_t doGetIntMin() override { return m_nMin; }
    int64_t doGetIntMax() override { return m_nMax; }
    int64_t doGetIntInc() override { return m_nInc; }
    NodeMap* doGetEnumNodeList() override;

private:
    void notify() const;

    std::string m_name;
    AccessMode m_access;
    std::string m_text;   // enumeration or string value
    double m_value = 0.0; // float value and limits
    double m_min = 0.0;
    double m_max = 0.0;
    int64_t m_nValue = 0; // integer value, limits and increment
    int64_t m_nMin = 0;
    int64_t m_nMax = 0;
    int64_t m_nInc = 1;
    std::unique_ptr<SimNodeMap> m_pEntries; // enumeration entries
    Observer m_observer;
};

// A map of features, or of an enumeration's entries.
class SimNodeMap final : public NodeMap {
public:
    // `mapName` is the trace object of calls on the map: the device serial, or "serial/feature" for entries.
    SimNodeMap(core::CallGate& gate, std::string mapName);
    ~SimNodeMap() override;

    void add(std::unique_ptr<SimNode> node);
    [[nodiscard]] SimNode* find(std::string_view name) const noexcept;

protected:
    Node* doFindNode(std::string_view name) override { return find(name); }
    uint64_t doGetNodeCount() override { return m_nodes.size(); }

private:
    std::vector<std::unique_ptr<SimNode>> m_nodes;
};

} // namespace sdk::sim
