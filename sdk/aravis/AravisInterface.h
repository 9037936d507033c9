// The Aravis interface of one transport and the cameras it finds. Called on the host's side only.
#pragma once

#include "sdk/Interface.h"
#include "sdk/aravis/AravisDevice.h"

#include <map>
#include <memory>
#include <string>

namespace sdk::aravis {

class AravisInterface;

class AravisDeviceList final : public DeviceList {
public:
    explicit AravisDeviceList(AravisInterface& owner);

protected:
    // Asks Aravis to look for cameras (GigE Vision: a discovery on every network interface, answered within
    // Aravis's own timeout; `timeout` cannot shorten it).
    void doRefresh(uint64_t timeout) override;

private:
    friend class AravisInterface;
    AravisInterface& m_interface;
};

class AravisInterface final : public Interface {
public:
    AravisInterface(core::CallGate& gate, Transport transport);
    ~AravisInterface() override;

protected:
    DeviceList* doGetDevices() override { return &m_devices; }

private:
    friend class AravisDeviceList;

    core::CallGate& m_gate;
    Transport m_transport;
    // Every camera seen in this session, by Aravis's device identifier. A camera stays while the session
    // lasts, so that a refresh never destroys one the driver holds open.
    std::map<std::string, std::unique_ptr<AravisDevice>> m_known;
    AravisDeviceList m_devices;
};

} // namespace sdk::aravis
