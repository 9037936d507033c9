// An Aravis camera: identity from its interface's listing, the open ArvDevice, its features and its stream.
// Called on the host's side, one call at a time.
#pragma once

#include "sdk/Device.h"
#include "sdk/aravis/AravisDataStream.h"
#include "sdk/aravis/AravisFeatures.h"
#include "sdk/aravis/AravisObjects.h"

#include <memory>
#include <string>

namespace sdk::aravis {

class AravisDevice;

class AravisDataStreamList final : public DataStreamList {
public:
    explicit AravisDataStreamList(AravisDevice& device) : m_device(device) {}
    void Refresh() override;

private:
    friend class AravisDevice;
    AravisDevice& m_device;
};

class AravisDevice final : public Device {
public:
    AravisDevice(Transport transport, std::string id, std::string serial, std::string model);
    ~AravisDevice() override;

    String GetID() override { return String(m_id); }
    String GetSerialNumber() override { return String(m_link.serial); }
    String GetModel() override { return String(m_model); }
    bool IsOpen() override { return m_pDevice != nullptr; }
    void Open() override;
    void Close() override;
    NodeMap* GetRemoteNodeList() override;
    Node* GetRemoteNode(const String& name) override;
    DataStreamList* GetDataStreams() override;

    // True once the camera was lost while open (until it is closed).
    [[nodiscard]] bool controlLost() const noexcept { return m_link.lost.load(); }

private:
    friend class AravisDataStreamList;
    // Only calls that reach the camera fail once it is lost: its streams can still be stopped, emptied and
    // closed, and the device closed, without it.
    void requireOpen(const char* function) const;
    void release() noexcept;
    static void onControlLost(ArvDevice* device, gpointer link);

    Transport m_transport;
    std::string m_id; // Aravis's device identifier
    std::string m_model;
    DeviceLink m_link;
    GObjectPtr<ArvDevice> m_pDevice; // null while closed
    gulong m_nLostHandler = 0;
    std::unique_ptr<AravisNodeMap> m_pFeatures;
    std::unique_ptr<AravisDataStream> m_pStream; // made by the stream list's first refresh after opening
    AravisDataStreamList m_streamList;
};

} // namespace sdk::aravis
