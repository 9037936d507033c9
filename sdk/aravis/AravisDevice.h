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
    explicit AravisDataStreamList(AravisDevice& device);
    // The device closed: its stream is gone.
    void forget() noexcept { m_entries.clear(); }

protected:
    void doRefresh() override;

private:
    AravisDevice& m_device;
};

class AravisDevice final : public Device {
public:
    AravisDevice(core::CallGate& gate, Transport transport, std::string id, std::string serial, std::string model);
    ~AravisDevice() override;

protected:
    void doOpen() override;
    void doClose() override { release(); }
    void doEndStreams() noexcept override;
    NodeMap* doGetRemoteNodeList() override;
    Node* doGetRemoteNode(std::string_view name) override;
    // Only calls that reach the camera fail once it is lost: its streams can still be stopped, emptied and
    // closed, and the device closed, without it.
    DataStreamList* doGetDataStreams() override { return &m_streamList; }

private:
    friend class AravisDataStreamList;
    void release() noexcept;
    static void onControlLost(ArvDevice* device, gpointer link);
    // Has the link's control channel look at a GigE Vision camera between calls and declare it lost.
    static void watchGevCamera(ArvDevice* device, const std::shared_ptr<DeviceLink>& link);

    core::CallGate& m_gate;
    Transport m_transport;
    std::string m_id; // Aravis's device identifier
    // Shared with the device's stream, which may outlive the device by a hand-over in progress, and with the
    // control-lost connection, which holds it while a signal may be in emission.
    std::shared_ptr<DeviceLink> m_pLink = std::make_shared<DeviceLink>();
    GObjectPtr<ArvDevice> m_pDevice; // null while closed
    gulong m_nLostHandler = 0;
    // The control channel of the last session, while its goodbye to the camera may still be on its way.
    std::shared_ptr<ControlChannel> m_pLastControl;
    std::unique_ptr<AravisNodeMap> m_pFeatures;
    // Made by the stream list's first refresh after opening, ended by the close. Shared with the stream's
    // hand-over in progress.
    std::shared_ptr<AravisDataStream> m_pStream;
    AravisDataStreamList m_streamList;
};

} // namespace sdk::aravis
