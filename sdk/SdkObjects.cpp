// The facade's gate for systems, interfaces, devices and their lists: every call passes the session's call
// gate under the producer-independent name, then reaches the producer's protected implementation.
#include "sdk/DataStream.h"
#include "sdk/Device.h"
#include "sdk/ImageProcessor.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/System.h"

#include <string>

namespace sdk {

// ---- systems -------------------------------------------------------------------------------------------

InterfaceList::~InterfaceList() = default;

void InterfaceList::Refresh(uint64_t timeout) {
    site().pass("InterfaceList::Refresh", std::to_string(timeout));
    doRefresh(timeout);
}

System::System(core::CallGate& gate, std::string id, std::string tlType)
    : m_site(gate, std::move(id)), m_tlType(std::move(tlType)) {}

System::~System() = default;

bool System::IsOpen() {
    m_site.pass("System::IsOpen");
    return m_bOpen.load();
}

void System::Open() {
    m_site.pass("System::Open");
    if (m_bOpen.load()) {
        Exceptions::raise("ResourceException", "System::Open", "system " + m_site.objectName() + " is already open");
    }
    doOpen();
    m_bOpen.store(true);
}

InterfaceList* System::GetInterfaces() {
    m_site.pass("System::GetInterfaces");
    return doGetInterfaces();
}

// ---- interfaces ----------------------------------------------------------------------------------------

DeviceList::~DeviceList() = default;

void DeviceList::Refresh(uint64_t timeout) {
    site().pass("DeviceList::Refresh", std::to_string(timeout));
    doRefresh(timeout);
}

Interface::Interface(core::CallGate& gate, std::string id) : m_site(gate, std::move(id)) {}

Interface::~Interface() = default;

bool Interface::IsOpen() {
    m_site.pass("Interface::IsOpen");
    return m_bOpen.load();
}

void Interface::Open() {
    m_site.pass("Interface::Open");
    if (m_bOpen.load()) {
        Exceptions::raise("ResourceException", "Interface::Open",
                          "interface " + m_site.objectName() + " is already open");
    }
    doOpen();
    m_bOpen.store(true);
}

DeviceList* Interface::GetDevices() {
    m_site.pass("Interface::GetDevices");
    return doGetDevices();
}

// ---- devices -------------------------------------------------------------------------------------------

DataStreamList::~DataStreamList() = default;

void DataStreamList::Refresh() {
    site().pass("DataStreamList::Refresh");
    doRefresh();
}

Device::Device(core::CallGate& gate, std::string id, std::string serialNumber, std::string model)
    : m_site(gate, std::move(serialNumber)), m_id(std::move(id)), m_model(std::move(model)) {}

Device::~Device() = default;

void Device::requireOpen(const char* call) const {
    if (!m_bOpen.load()) {
        Exceptions::raise("NotAvailableException", call, "device " + m_site.objectName() + " is not open");
    }
}

String Device::GetSerialNumber() {
    m_site.pass("Device::GetSerialNumber");
    return String(m_site.objectName());
}

String Device::GetModel() {
    m_site.pass("Device::GetModel");
    return String(m_model);
}

bool Device::IsOpen() {
    m_site.pass("Device::IsOpen");
    return m_bOpen.load();
}

void Device::Open() {
    m_site.pass("Device::Open");
    if (m_bOpen.load()) {
        Exceptions::raise("ResourceException", "Device::Open", "device " + m_site.objectName() + " is already open");
    }
    doOpen();
    m_bOpen.store(true);
}

// The device's streams end with its close, whatever the camera or the streams' own closes answered: a consumer
// drops its pointers to them now, and none may be left delivering to it.
void Device::Close() {
    struct EndStreams {
        Device& device;
        ~EndStreams() { device.doEndStreams(); }
    } const endStreams{*this};
    m_site.pass("Device::Close");
    requireOpen("Device::Close");
    doClose();
    m_bOpen.store(false);
}

NodeMap* Device::GetRemoteNodeList() {
    m_site.pass("Device::GetRemoteNodeList");
    requireOpen("Device::GetRemoteNodeList");
    return doGetRemoteNodeList();
}

Node* Device::GetRemoteNode(const String& name) {
    m_site.passOn("Device::GetRemoteNode", name.view());
    requireOpen("Device::GetRemoteNode");
    Node* node = doGetRemoteNode(name.view());
    if (node == nullptr) {
        Exceptions::raise("NotFoundException", "Device::GetRemoteNode",
                          "device " + m_site.objectName() + " has no feature '" + name.str() + "'");
    }
    return node;
}

DataStreamList* Device::GetDataStreams() {
    m_site.pass("Device::GetDataStreams");
    requireOpen("Device::GetDataStreams");
    return doGetDataStreams();
}

// Out-of-line destructors: they anchor each facade class's virtual table in the SDK library.
Events::DataStreamEventControl::~DataStreamEventControl() = default;
Image::~Image() = default;

} // namespace sdk
