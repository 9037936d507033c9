// The node map of a GenTL module of the producer (system, interface, device or data stream), behind the module's
// own port: a GenICam description with the module's standard features, read live from the module, and a
// selector over its children's IDs where it has children (the interfaces of the system, the devices of an
// interface, the data streams of a device).
//
// The port's address space: the selector (4 bytes, writable) at 0, each feature in a slot of 64 bytes from
// 0x100 (a text of up to 63 characters, or a little-endian 64-bit integer), the selected child's ID at 0x1000
// plus 64 bytes per index, the description at 0x100000.
#pragma once

#include "sdk/gentl/GenTL.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sdk::simcti {

struct ModuleFeature {
    std::string name;
    std::function<std::string()> text; // for a text feature
    std::function<int64_t()> number;   // for an integer one (when text is empty)
};

struct ModuleSelector {
    std::string selector; // "InterfaceSelector"
    std::string selected; // "InterfaceID"
    std::function<std::vector<std::string>()> entries;
};

class ModulePort {
public:
    // `name` names the description's file ("vxcam-sim-system.xml") and its model.
    ModulePort(std::string name, std::vector<ModuleFeature> features, std::optional<ModuleSelector> selector);

    [[nodiscard]] const std::string& description() const noexcept { return m_description; }
    [[nodiscard]] const std::string& fileName() const noexcept { return m_name; }
    [[nodiscard]] std::string url() const;

    // Thread-safe: the values are read from the module at each read.
    GC_ERROR read(uint64_t address, void* buffer, size_t size) const;
    GC_ERROR write(uint64_t address, const void* data, size_t size);

private:
    [[nodiscard]] std::vector<unsigned char> registers() const;

    const std::string m_name;
    const std::vector<ModuleFeature> m_features;
    const std::optional<ModuleSelector> m_selector;
    const std::string m_description;
    std::atomic<uint32_t> m_selected{0}; // the selector's value
};

} // namespace sdk::simcti
