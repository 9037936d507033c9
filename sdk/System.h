// A transport system (one per producer) and its list of interfaces. Both belong to the SDK.
#pragma once

#include "sdk/CallSite.h"
#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace sdk {

class Interface;

class VXSDK_API InterfaceList : public ObjectList<Interface> {
public:
    ~InterfaceList() override;
    // Looks for interfaces again, waiting at most `timeout` milliseconds.
    void Refresh(uint64_t timeout);

protected:
    // `site` is the system's.
    explicit InterfaceList(const CallSite& site) noexcept
        : ObjectList(site, "InterfaceList::begin", "InterfaceList::operator[]") {}
    // Replaces m_entries with the interfaces found now.
    virtual void doRefresh(uint64_t timeout) = 0;
};

class VXSDK_API System {
public:
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    virtual ~System();

    [[nodiscard]] String GetID() const { return String(m_site.objectName()); }
    [[nodiscard]] String GetTLType() const { return String(m_tlType); } // the transport kind: "Sim", "U3V", "GEV"
    [[nodiscard]] bool IsOpen();
    void Open(); // a system is never closed; opening an open one is an SDK error
    // The system's interfaces, or null when it offers none.
    [[nodiscard]] InterfaceList* GetInterfaces();

protected:
    // `id` names the system in its list, in the trace and in fault rules.
    System(core::CallGate& gate, std::string id, std::string tlType);
    [[nodiscard]] const CallSite& site() const noexcept { return m_site; }

    virtual void doOpen() {}
    [[nodiscard]] virtual InterfaceList* doGetInterfaces() = 0;

private:
    CallSite m_site;
    std::string m_tlType;
    std::atomic<bool> m_bOpen{false};
};

} // namespace sdk
