// A camera and its list of data streams. The device object belongs to the SDK.
#pragma once

#include "sdk/ObjectList.h"
#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

namespace sdk {

class DataStream;
class Node;
class NodeMap;

class VXSDK_API DataStreamList : public ObjectList<DataStream> {
public:
    ~DataStreamList() override;
    virtual void Refresh() = 0;

protected:
    DataStreamList() noexcept : ObjectList("DataStreamList::operator[]") {}
};

class VXSDK_API Device {
public:
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    virtual ~Device();

    [[nodiscard]] virtual String GetID() = 0;
    [[nodiscard]] virtual String GetSerialNumber() = 0;
    [[nodiscard]] virtual String GetModel() = 0;
    [[nodiscard]] virtual bool IsOpen() = 0;
    virtual void Open() = 0;
    virtual void Close() = 0;
    // The camera's own features ("PixelFormat", "TriggerMode", ...); needs an open device.
    [[nodiscard]] virtual NodeMap* GetRemoteNodeList() = 0;
    // One feature of the camera; an absent feature is an SDK error.
    [[nodiscard]] virtual Node* GetRemoteNode(const String& name) = 0;
    // The device's data streams, or null when it offers none; needs an open device.
    [[nodiscard]] virtual DataStreamList* GetDataStreams() = 0;
};

} // namespace sdk
