#include "sdk/aravis/AravisDevice.h"

#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"

namespace sdk::aravis {

AravisDataStreamList::AravisDataStreamList(AravisDevice& device) : DataStreamList(device.site()), m_device(device) {}

// An Aravis camera offers one stream (channel 0).
void AravisDataStreamList::doRefresh() {
    m_entries.clear();
    if (m_device.m_pDevice == nullptr) {
        return;
    }
    if (m_device.m_pStream == nullptr) {
        m_device.m_pStream =
            std::make_unique<AravisDataStream>(m_device.m_gate, m_device.m_link.serial + "/0", m_device.m_transport,
                                               m_device.m_pDevice.get(), m_device.m_link);
    }
    m_entries.emplace_back("Stream0", m_device.m_pStream.get());
}

AravisDevice::AravisDevice(core::CallGate& gate, Transport transport, std::string id, std::string serial,
                           std::string model)
    : Device(gate, id, serial, std::move(model)), m_gate(gate), m_transport(transport), m_id(std::move(id)),
      m_streamList(*this) {
    m_link.serial = std::move(serial);
}

AravisDevice::~AravisDevice() {
    release();
}

void AravisDevice::doOpen() {
    ErrorSlot error;
    GObjectPtr<ArvDevice> device(arv_interface_open_device(interfaceOf(m_transport), m_id.c_str(), error.out()));
    error.check("Device::Open", "camera " + m_link.serial);
    if (device == nullptr) {
        Exceptions::raise("NotFoundException", "Device::Open", "camera " + m_link.serial + " cannot be opened");
    }
    // Writes outside a feature's limits or to a read-only feature fail as they would on the camera itself.
    arv_device_set_range_check_policy(device.get(), ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_device_set_access_check_policy(device.get(), ARV_ACCESS_CHECK_POLICY_ENABLE);
    m_link.lost.store(false);
    m_nLostHandler = g_signal_connect(device.get(), "control-lost", G_CALLBACK(&AravisDevice::onControlLost), &m_link);
    m_pDevice = std::move(device);
    m_pFeatures = std::make_unique<AravisNodeMap>(site(), m_link, arv_device_get_genicam(m_pDevice.get()));
}

// Called on Aravis's heartbeat thread (GigE Vision) or its USB event thread.
void AravisDevice::onControlLost(ArvDevice* /*device*/, gpointer link) {
    auto* state = static_cast<DeviceLink*>(link);
    state->lost.store(true);
    qCWarning(lcAravis()) << "camera" << state->serial.c_str() << "is no longer reachable (control lost)";
}

// Streams go first (each ends its delivery thread), then the features, then Aravis's device. A lost camera's
// last release runs in the background: Aravis would wait out a timeout for each goodbye it sends.
void AravisDevice::release() noexcept {
    m_streamList.forget();
    m_pStream.reset();
    m_pFeatures.reset();
    if (m_pDevice != nullptr) {
        g_signal_handler_disconnect(m_pDevice.get(), m_nLostHandler);
        if (m_link.lost.load()) {
            releaseInBackground(m_pDevice.release());
        }
        m_pDevice.reset();
    }
}

NodeMap* AravisDevice::doGetRemoteNodeList() {
    m_link.requireConnected("Device::GetRemoteNodeList");
    return m_pFeatures.get();
}

Node* AravisDevice::doGetRemoteNode(std::string_view name) {
    m_link.requireConnected("Device::GetRemoteNode");
    return m_pFeatures->find(name);
}

} // namespace sdk::aravis
