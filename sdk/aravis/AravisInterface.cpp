#include "sdk/aravis/AravisInterface.h"

#include <algorithm>

namespace sdk::aravis {
namespace {
std::string textOrEmpty(const char* text) {
    return text != nullptr ? std::string(text) : std::string();
}
} // namespace

AravisDeviceList::AravisDeviceList(AravisInterface& owner) : DeviceList(owner.site()), m_interface(owner) {}

void AravisDeviceList::doRefresh(uint64_t /*timeout*/) {
    ArvInterface* arvInterface = interfaceOf(m_interface.m_transport);
    arv_interface_update_device_list(arvInterface);
    m_entries.clear();
    const unsigned int count = arv_interface_get_n_devices(arvInterface);
    for (unsigned int index = 0; index < count; ++index) {
        const std::string id = textOrEmpty(arv_interface_get_device_id(arvInterface, index));
        if (id.empty()) {
            continue;
        }
        auto& device = m_interface.m_known[id];
        if (device == nullptr) {
            device =
                std::make_unique<AravisDevice>(m_interface.m_gate, m_interface.m_transport, id,
                                               textOrEmpty(arv_interface_get_device_serial_nbr(arvInterface, index)),
                                               textOrEmpty(arv_interface_get_device_model(arvInterface, index)));
        }
        m_entries.emplace_back(id, device.get());
    }
    // A camera that is open but did not answer this time stays listed: the driver holds it.
    for (auto& known : m_interface.m_known) {
        const bool listed = std::any_of(m_entries.begin(), m_entries.end(),
                                        [&](const Entry& entry) { return entry.first == known.first; });
        if (!listed && known.second->IsOpen()) {
            m_entries.emplace_back(known.first, known.second.get());
        }
    }
}

AravisInterface::AravisInterface(core::CallGate& gate, Transport transport)
    : Interface(gate, infoOf(transport).interfaceId), m_gate(gate), m_transport(transport), m_devices(*this) {}

AravisInterface::~AravisInterface() = default;

} // namespace sdk::aravis
