#include "sdk/aravis/AravisDevice.h"

#include "sdk/SdkExceptions.h"
#include "sdk/aravis/AravisError.h"

namespace sdk::aravis {

AravisDataStreamList::AravisDataStreamList(AravisDevice& device) : DataStreamList(device.site()), m_device(device) {}

// An Aravis camera offers one stream (channel 0).
void AravisDataStreamList::doRefresh() {
    m_entries.clear();
    if (m_device.m_pDevice == nullptr) {
        return;
    }
    if (m_device.m_pStream == nullptr) {
        m_device.m_pStream =
            std::make_shared<AravisDataStream>(m_device.m_gate, m_device.m_pLink->serial + "/0", m_device.m_transport,
                                               m_device.m_pDevice.get(), m_device.m_pLink);
    }
    m_entries.emplace_back("Stream0", m_device.m_pStream.get());
}

AravisDevice::AravisDevice(core::CallGate& gate, Transport transport, std::string id, std::string serial,
                           std::string model)
    : Device(gate, id, serial, std::move(model)), m_gate(gate), m_transport(transport), m_id(std::move(id)),
      m_streamList(*this) {
    m_pLink->serial = std::move(serial);
}

AravisDevice::~AravisDevice() {
    release();
}

void AravisDevice::doOpen() {
    // A camera opened again starts with a link of its own: a stream of the earlier opening may still hold the
    // earlier one. The link, and what the control-lost connection holds of it, are made before Aravis's heartbeat
    // thread exists, so that the thread that signals finds them written.
    auto link = std::make_shared<DeviceLink>();
    link->serial = m_pLink->serial;
    // Only a network link goes silent for seconds.
    link->control = std::make_shared<ControlChannel>(link->serial, m_transport == Transport::GigEVision
                                                                       ? ControlChannel::Runs::OnItsOwnThread
                                                                       : ControlChannel::Runs::OnTheCallersThread);
    auto held = std::make_unique<std::shared_ptr<DeviceLink>>(link);
    // The camera refuses a second session while the goodbye of the earlier one is still on its way.
    if (m_pLastControl != nullptr && !m_pLastControl->silent()) {
        static_cast<void>(m_pLastControl->awaitEnd(ControlChannel::kDefaultDeadline / 4));
    }
    m_pLastControl.reset();
    // Opening reads the camera's registers and description: it waits for the camera like any other call. A
    // device that opens after its caller gave up is released on the channel's thread with the channel.
    GObjectPtr<ArvDevice> device =
        link->control->run("Device::Open", [transport = m_transport, id = m_id, serial = link->serial] {
            ErrorSlot error;
            GObjectPtr<ArvDevice> opened(arv_interface_open_device(interfaceOf(transport), id.c_str(), error.out()));
            error.check("Device::Open", "camera " + serial);
            if (opened == nullptr) {
                Exceptions::raise("NotFoundException", "Device::Open", "camera " + serial + " cannot be opened");
            }
            return opened;
        });
    // Writes outside a feature's limits or to a read-only feature fail as they would on the camera itself.
    arv_device_set_range_check_policy(device.get(), ARV_RANGE_CHECK_POLICY_ENABLE);
    arv_device_set_access_check_policy(device.get(), ARV_ACCESS_CHECK_POLICY_ENABLE);
    m_pLink = std::move(link);
    // The connection holds the link, so that a signal in emission while it is disconnected never reaches freed
    // memory.
    m_nLostHandler =
        connectHolding(device.get(), "control-lost", G_CALLBACK(&AravisDevice::onControlLost), std::move(held));
    m_pDevice = std::move(device);
    m_pFeatures = std::make_unique<AravisNodeMap>(site(), *m_pLink, arv_device_get_genicam(m_pDevice.get()));
    if (ARV_IS_GV_DEVICE(m_pDevice.get())) {
        watchGevCamera(m_pDevice.get(), m_pLink);
    }
}

namespace {

// GigE Vision bootstrap registers: the control channel privilege (the session's control and exclusive bits) and
// the heartbeat timeout, in milliseconds, after which the camera ends a session it has not heard from.
constexpr guint64 kControlPrivilegeRegister = 0x0A00;
constexpr guint32 kControlBits = 0x3;
constexpr guint64 kHeartbeatTimeoutRegister = 0x0938;
constexpr std::chrono::milliseconds kHeartbeatTimeoutByDefault{3000};
constexpr std::chrono::milliseconds kLookPeriod{1000};

} // namespace

// The channel looks at the camera's control privilege every second: one register read, as Aravis's heartbeat
// makes. A camera silent for longer than its heartbeat timeout has ended the session, whenever the link comes back.
void AravisDevice::watchGevCamera(ArvDevice* device, const std::shared_ptr<DeviceLink>& link) {
    std::chrono::milliseconds lostAfter = kHeartbeatTimeoutByDefault;
    try {
        lostAfter = link->control->run("Device::Open", [device] {
            guint32 timeout = 0;
            const bool read = arv_device_read_register(device, kHeartbeatTimeoutRegister, &timeout, nullptr) != FALSE;
            return read && timeout > 0 ? std::chrono::milliseconds(timeout) : kHeartbeatTimeoutByDefault;
        });
    } catch (const Exceptions::IException&) {
        // The camera went silent right after opening: the watch finds out soon enough.
    }
    ControlChannel::Watch watch;
    watch.look = [device, weak = std::weak_ptr<DeviceLink>(link)] {
        // Aravis's heartbeat may have found it lost first: no more looks then.
        if (const std::shared_ptr<DeviceLink> known = weak.lock(); known == nullptr || known->lost.load()) {
            return ControlChannel::Presence::GaveUpTheSession;
        }
        guint32 privilege = 0;
        if (arv_device_read_register(device, kControlPrivilegeRegister, &privilege, nullptr) == FALSE) {
            return ControlChannel::Presence::Silent;
        }
        return (privilege & kControlBits) != 0 ? ControlChannel::Presence::Answers
                                               : ControlChannel::Presence::GaveUpTheSession;
    };
    watch.period = kLookPeriod;
    watch.lostAfter = lostAfter;
    // The channel belongs to the link: its thread holds the link only while it says so.
    watch.lost = [weak = std::weak_ptr<DeviceLink>(link)] {
        if (const std::shared_ptr<DeviceLink> gone = weak.lock()) {
            gone->declareLost();
        }
    };
    link->control->watch(std::move(watch));
}

// Called on Aravis's heartbeat thread (GigE Vision) or its USB event thread.
void AravisDevice::onControlLost(ArvDevice* /*device*/, gpointer link) {
    const std::shared_ptr<DeviceLink>& state = *static_cast<std::shared_ptr<DeviceLink>*>(link);
    state->declareLost();
}

// The stream ends once no hand-over of it is in progress; it keeps Aravis's device as long as it needs it.
void AravisDevice::doEndStreams() noexcept {
    m_streamList.forget();
    m_pStream.reset();
}

// Streams go first, then the features, then Aravis's device. Its last release runs on the control channel's
// thread after any call still in progress there (which may still use it); the close waits for it only while the
// camera answers. A silent or lost camera's release waits out a timeout for each goodbye it sends: it runs in the
// background.
void AravisDevice::release() noexcept {
    doEndStreams();
    m_pFeatures.reset();
    if (m_pDevice != nullptr) {
        g_signal_handler_disconnect(m_pDevice.get(), m_nLostHandler);
        const bool answers = !m_pLink->silent();
        // A silent camera's release goes on to the background thread, which nothing waits for: on the channel's
        // thread it would hold up the last delete, which waits for that thread.
        const bool inBackground = !answers;
        m_pLink->control->retire(
            [device = m_pDevice.release(), inBackground] {
                if (inBackground) {
                    releaseInBackground(device);
                } else {
                    g_object_unref(device);
                }
            },
            answers);
        m_pLastControl = m_pLink->control;
    }
}

NodeMap* AravisDevice::doGetRemoteNodeList() {
    m_pLink->requireConnected("Device::GetRemoteNodeList");
    return m_pFeatures.get();
}

Node* AravisDevice::doGetRemoteNode(std::string_view name) {
    m_pLink->requireConnected("Device::GetRemoteNode");
    return m_pFeatures->find(name);
}

} // namespace sdk::aravis
