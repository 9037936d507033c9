// An interface of a system (a network card, a USB host controller) and its list of devices.
#pragma once

#include "sdk/CallSite.h"
#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace sdk {

class Device;

class VXSDK_API DeviceList : public ObjectList<Device> {
public:
    ~DeviceList() override;
    // Looks for devices again, waiting at most `timeout` milliseconds.
    void Refresh(uint64_t timeout);

protected:
    // `site` is the interface's.
    explicit DeviceList(const CallSite& site) noexcept
        : ObjectList(site, "DeviceList::begin", "DeviceList::operator[]") {}
    // Replaces m_entries with the devices found now.
    virtual void doRefresh(uint64_t timeout) = 0;
};

class VXSDK_API Interface {
public:
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;
    virtual ~Interface();

    [[nodiscard]] String GetID() const { return String(m_site.objectName()); }
    [[nodiscard]] bool IsOpen();
    void Open(); // an interface is never closed; opening an open one is an SDK error
    // The interface's devices, or null when it offers none.
    [[nodiscard]] DeviceList* GetDevices();

protected:
    // `id` names the interface in its list, in the trace and in fault rules.
    Interface(core::CallGate& gate, std::string id);
    [[nodiscard]] const CallSite& site() const noexcept { return m_site; }

    virtual void doOpen() {}
    [[nodiscard]] virtual DeviceList* doGetDevices() = 0;

private:
    CallSite m_site;
    std::atomic<bool> m_bOpen{false};
};

} // namespace sdk
