// The GenICam features of a simulated camera: commands, enumerations and floating-point values.
#pragma once

#include "sdk/Node.h"
#include "sdk/sim/SimCallSite.h"

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
    enum class Kind { Command, Enumeration, Float, EnumEntry };
    using Observer = std::function<void(const SimNode&)>; // after a successful Execute or write

    SimNode(const SimCallSite& site, std::string name, Kind kind);
    ~SimNode() override;

    static std::unique_ptr<SimNode> command(const SimCallSite& site, std::string name, Observer onExecute);
    static std::unique_ptr<SimNode> enumeration(const SimCallSite& site, std::string name,
                                                const std::vector<std::string>& entries, std::string value,
                                                Observer onWrite = {});
    static std::unique_ptr<SimNode> floating(const SimCallSite& site, std::string name, double min, double max,
                                             double value, Observer onWrite = {});

    String GetName() override { return String(m_name); }
    void Execute() override;
    void SetString(const String& value) override;
    String GetString() override;
    void SetDouble(double value) override;
    double GetDouble() override;
    double GetDoubleMin() override;
    double GetDoubleMax() override;
    NodeMap* GetEnumNodeList() override;

    [[nodiscard]] const std::string& name() const noexcept { return m_name; }
    [[nodiscard]] const std::string& stringValue() const noexcept { return m_text; }
    [[nodiscard]] double doubleValue() const noexcept { return m_value; }

private:
    void pass(std::string_view call, std::string_view args = {}) const;
    void requireKind(Kind kind, const char* call) const;

    const SimCallSite& m_site; // the device's
    std::string m_name;
    Kind m_kind;
    std::string m_text;   // enumeration value
    double m_value = 0.0; // float value
    double m_min = 0.0;
    double m_max = 0.0;
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

    bool GetNodePresent(const String& name) override;
    Node* GetNode(const String& name) override;
    uint64_t GetNodeCount() override;

private:
    SimCallSite m_site;
    std::vector<std::unique_ptr<SimNode>> m_nodes;
};

} // namespace sdk::sim
