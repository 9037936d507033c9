// A camera and its list of data streams. The device object belongs to the SDK.
#pragma once

#include "sdk/CallSite.h"
#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <atomic>
#include <string>
#include <string_view>

namespace sdk {

class DataStream;
class Node;
class NodeMap;

class VXSDK_API DataStreamList : public ObjectList<DataStream> {
public:
    ~DataStreamList() override;
    void Refresh();

protected:
    // `site` is the device's.
    explicit DataStreamList(const CallSite& site) noexcept
        : ObjectList(site, "DataStreamList::begin", "DataStreamList::operator[]") {}
    // Replaces m_entries with the device's streams.
    virtual void doRefresh() = 0;
};

class VXSDK_API Device {
public:
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    virtual ~Device();

    // The device's key in its interface's list.
    [[nodiscard]] String GetID() const { return String(m_id); }
    [[nodiscard]] String GetSerialNumber();
    [[nodiscard]] String GetModel();
    [[nodiscard]] bool IsOpen();
    // Opening an open device is an SDK error.
    void Open();
    // Closing a closed device is an SDK error. The device's data streams end here in every case, also when the
    // close raises (the device then stays open, and its stream list offers new streams).
    void Close();
    // The camera's own features ("PixelFormat", "TriggerMode", ...); needs an open device.
    [[nodiscard]] NodeMap* GetRemoteNodeList();
    // One feature of the camera; an absent feature is an SDK error. Needs an open device.
    [[nodiscard]] Node* GetRemoteNode(const String& name);
    // The device's data streams, or null when it offers none; needs an open device.
    [[nodiscard]] DataStreamList* GetDataStreams();

protected:
    // `id` is the key in the interface's list; the serial number names the device in the trace and in fault
    // rules.
    Device(core::CallGate& gate, std::string id, std::string serialNumber, std::string model);
    [[nodiscard]] const CallSite& site() const noexcept { return m_site; }

    // Opens the camera for control; raises an SDK error when the transport refuses.
    virtual void doOpen() {}
    // Ends acquisition and control of the camera; the device stays open when it raises.
    virtual void doClose() {}
    // Ends every data stream of the device and forgets it; each stream's object goes once no hand-over of it
    // is in progress. Runs after doClose(), also when that raised.
    virtual void doEndStreams() noexcept {}
    [[nodiscard]] virtual NodeMap* doGetRemoteNodeList() = 0;
    // The feature `name`, or null when the camera lacks it.
    [[nodiscard]] virtual Node* doGetRemoteNode(std::string_view name) = 0;
    [[nodiscard]] virtual DataStreamList* doGetDataStreams() = 0;

private:
    void requireOpen(const char* call) const;

    CallSite m_site; // object name: the serial number
    std::string m_id;
    std::string m_model;
    std::atomic<bool> m_bOpen{false};
};

} // namespace sdk
