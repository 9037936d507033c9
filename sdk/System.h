// A transport system (one per producer) and its list of interfaces. Both belong to the SDK.
#pragma once

#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>

namespace sdk {

class Interface;

class VXSDK_API InterfaceList : public ObjectList<Interface> {
public:
    ~InterfaceList() override;
    // Looks for interfaces again, waiting at most `timeout` milliseconds.
    virtual void Refresh(uint64_t timeout) = 0;

protected:
    InterfaceList() noexcept : ObjectList("InterfaceList::operator[]") {}
};

class VXSDK_API System {
public:
    System() = default;
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    virtual ~System();

    [[nodiscard]] virtual String GetID() = 0;
    [[nodiscard]] virtual String GetTLType() = 0; // the transport kind, such as "Sim", "U3V", "GEV"
    [[nodiscard]] virtual bool IsOpen() = 0;
    virtual void Open() = 0; // a system is never closed
    // The system's interfaces, or null when it offers none.
    [[nodiscard]] virtual InterfaceList* GetInterfaces() = 0;
};

} // namespace sdk
