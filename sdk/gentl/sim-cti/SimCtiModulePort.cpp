#include "sdk/gentl/sim-cti/SimCtiModulePort.h"

#include "sdk/gentl/sim-cti/SimCtiReply.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace sdk::simcti {
namespace {

constexpr uint64_t kSelector = 0x0;
constexpr uint64_t kFeatures = 0x100;
constexpr uint64_t kEntries = 0x1000;
constexpr uint64_t kSlot = 64;
constexpr uint64_t kDescription = 0x100000;

std::string hex(uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

void putText(std::vector<unsigned char>& block, uint64_t address, const std::string& text) {
    std::memcpy(&block[address], text.data(), std::min<size_t>(text.size(), kSlot - 1)); // always terminated
}

std::string describe(const std::string& name, const std::vector<ModuleFeature>& features,
                     const std::optional<ModuleSelector>& selector) {
    std::ostringstream nodes;
    std::ostringstream root;
    for (size_t i = 0; i < features.size(); ++i) {
        const ModuleFeature& feature = features[i];
        const uint64_t address = kFeatures + i * kSlot;
        root << "    <pFeature>" << feature.name << "</pFeature>\n";
        if (feature.text) {
            nodes << "  <StringReg Name=\"" << feature.name << "\" NameSpace=\"Standard\">\n"
                  << "    <Address>" << hex(address) << "</Address>\n    <Length>" << kSlot << "</Length>\n"
                  << "    <AccessMode>RO</AccessMode>\n    <pPort>Device</pPort>\n"
                  << "    <Cachable>NoCache</Cachable>\n  </StringReg>\n";
        } else {
            nodes << "  <IntReg Name=\"" << feature.name << "\" NameSpace=\"Standard\">\n"
                  << "    <Address>" << hex(address) << "</Address>\n    <Length>8</Length>\n"
                  << "    <AccessMode>RO</AccessMode>\n    <pPort>Device</pPort>\n"
                  << "    <Cachable>NoCache</Cachable>\n    <Sign>Signed</Sign>\n"
                  << "    <Endianess>LittleEndian</Endianess>\n  </IntReg>\n";
        }
    }
    if (selector) {
        root << "    <pFeature>" << selector->selector << "</pFeature>\n"
             << "    <pFeature>" << selector->selected << "</pFeature>\n";
        nodes << "  <Integer Name=\"" << selector->selector << "\" NameSpace=\"Standard\">\n"
              << "    <pSelected>" << selector->selected << "</pSelected>\n"
              << "    <pValue>" << selector->selector << "Reg</pValue>\n    <Min>0</Min>\n"
              << "    <pMax>" << selector->selector << "Max</pMax>\n  </Integer>\n"
              << "  <IntReg Name=\"" << selector->selector << "Reg\">\n"
              << "    <Address>" << hex(kSelector) << "</Address>\n    <Length>4</Length>\n"
              << "    <AccessMode>RW</AccessMode>\n    <pPort>Device</pPort>\n    <Cachable>NoCache</Cachable>\n"
              << "    <Sign>Unsigned</Sign>\n    <Endianess>LittleEndian</Endianess>\n  </IntReg>\n"
              << "  <IntReg Name=\"" << selector->selector << "Max\">\n"
              << "    <Address>" << hex(kSelector + 4) << "</Address>\n    <Length>4</Length>\n"
              << "    <AccessMode>RO</AccessMode>\n    <pPort>Device</pPort>\n    <Cachable>NoCache</Cachable>\n"
              << "    <Sign>Unsigned</Sign>\n    <Endianess>LittleEndian</Endianess>\n  </IntReg>\n"
              << "  <StringReg Name=\"" << selector->selected << "\" NameSpace=\"Standard\">\n"
              << "    <Address>" << hex(kEntries) << "</Address>\n"
              << "    <pIndex Offset=\"" << kSlot << "\">" << selector->selector << "Reg</pIndex>\n"
              << "    <Length>" << kSlot << "</Length>\n    <AccessMode>RO</AccessMode>\n"
              << "    <pPort>Device</pPort>\n    <Cachable>NoCache</Cachable>\n  </StringReg>\n";
    }
    std::ostringstream out;
    out << descriptionOpening(name, "Node map of a module of the simulated cameras' GenTL producer",
                              "6f1a0c52-5d37-4c1e-9a8e-3b0d2f7c1e11", "6f1a0c52-5d37-4c1e-9a8e-3b0d2f7c1e12")
        << root.str() << "  </Category>\n"
        << nodes.str() << "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n</RegisterDescription>\n";
    return out.str();
}

} // namespace

ModulePort::ModulePort(std::string name, std::vector<ModuleFeature> features, std::optional<ModuleSelector> selector)
    : m_name(std::move(name)), m_features(std::move(features)), m_selector(std::move(selector)),
      m_description(describe(m_name, m_features, m_selector)) {}

std::string ModulePort::url() const {
    std::ostringstream out;
    out << "Local:" << m_name << ";" << std::hex << kDescription << ";" << m_description.size();
    return out.str();
}

std::vector<unsigned char> ModulePort::registers() const {
    const std::vector<std::string> entries = m_selector ? m_selector->entries() : std::vector<std::string>();
    std::vector<unsigned char> block(kEntries + entries.size() * kSlot, 0);
    const uint32_t selected = m_selected.load();
    const auto count = static_cast<uint32_t>(entries.size());
    const uint32_t max = count > 0 ? count - 1 : 0;
    std::memcpy(&block[kSelector], &selected, sizeof selected); // little-endian machines only, as the port says
    std::memcpy(&block[kSelector + 4], &max, sizeof max);
    for (size_t i = 0; i < m_features.size(); ++i) {
        const ModuleFeature& feature = m_features[i];
        const uint64_t address = kFeatures + i * kSlot;
        if (feature.text) {
            putText(block, address, feature.text());
        } else {
            const int64_t value = feature.number();
            std::memcpy(&block[address], &value, sizeof value);
        }
    }
    for (size_t i = 0; i < entries.size(); ++i) {
        putText(block, kEntries + i * kSlot, entries[i]);
    }
    return block;
}

GC_ERROR ModulePort::read(uint64_t address, void* buffer, size_t size) const {
    if (size == 0) {
        return GC_ERR_SUCCESS;
    }
    if (buffer == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no buffer to read into");
    }
    const auto inside = [&](uint64_t begin, uint64_t end) {
        return address >= begin && address <= end && size <= end - address;
    };
    if (inside(kDescription, kDescription + m_description.size())) {
        std::memcpy(buffer, m_description.data() + (address - kDescription), size);
        return GC_ERR_SUCCESS;
    }
    const std::vector<unsigned char> block = registers();
    if (inside(0, block.size())) {
        std::memcpy(buffer, block.data() + address, size);
        return GC_ERR_SUCCESS;
    }
    return fail(GC_ERR_INVALID_ADDRESS, "no register of " + m_name + " at " + hex(address));
}

GC_ERROR ModulePort::write(uint64_t address, const void* data, size_t size) {
    if (data == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no data to write");
    }
    if (!m_selector || address != kSelector) {
        return fail(GC_ERR_ACCESS_DENIED, "the register of " + m_name + " at " + hex(address) + " is read-only");
    }
    if (size != 4) {
        return fail(GC_ERR_INVALID_PARAMETER, m_selector->selector + " takes 4 bytes");
    }
    uint32_t value = 0;
    std::memcpy(&value, data, sizeof value);
    if (value >= m_selector->entries().size()) {
        return fail(GC_ERR_INVALID_VALUE, m_selector->selector + " has no entry " + std::to_string(value));
    }
    m_selected.store(value);
    return GC_ERR_SUCCESS;
}

} // namespace sdk::simcti
