// An interface of a system (a network card, a USB host controller) and its list of devices.
#pragma once

#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>

namespace sdk {

class Device;

class VXSDK_API DeviceList : public ObjectList<Device> {
public:
    ~DeviceList() override;
    // Looks for devices again, waiting at most `timeout` milliseconds.
    virtual void Refresh(uint64_t timeout) = 0;

protected:
    DeviceList() noexcept : ObjectList("DeviceList::operator[]") {}
};

class VXSDK_API Interface {
public:
    Interface() = default;
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;
    virtual ~Interface();

    [[nodiscard]] virtual String GetID() = 0;
    [[nodiscard]] virtual bool IsOpen() = 0;
    virtual void Open() = 0; // an interface is never closed
    // The interface's devices, or null when it offers none.
    [[nodiscard]] virtual DeviceList* GetDevices() = 0;
};

} // namespace sdk
