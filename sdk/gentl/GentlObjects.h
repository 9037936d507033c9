// The facade over a GenTL producer: one system per producer library, its interfaces, their devices and the
// devices' data streams, each mapped onto the GenTL module of the same name. Called on the host's side, one call
// at a time, except where a member says otherwise.
//
// Features: the device's GenICam description, read through its port, is evaluated by Aravis's GenICam tree over
// a device of ours whose register accesses go to that port (GentlPortDevice.h); the Aravis producer's node map
// serves them, so every feature type and access mode behaves as it does for Aravis's own cameras.
//
// Frames: the producer fills the memory of the buffers the driver announces (no copy of ours); a delivery thread
// per stream waits on the stream's new-buffer event and hands each filled buffer to the facade.
#pragma once

#include "sdk/DataStream.h"
#include "sdk/Device.h"
#include "sdk/Interface.h"
#include "sdk/System.h"
#include "sdk/aravis/AravisFeatures.h"
#include "sdk/aravis/AravisObjects.h"
#include "sdk/core/PixelFormats.h"
#include "sdk/gentl/GentlFunctions.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdk::gentl {

using Library = std::shared_ptr<GentlLibrary>;

// An open GenTL device module, closed (DevClose) with the device's close, after its streams' modules.
struct DeviceModule {
    DeviceModule(Library lib, DEV_HANDLE device) : library(std::move(lib)), handle(device) {}
    DeviceModule(const DeviceModule&) = delete;
    DeviceModule& operator=(const DeviceModule&) = delete;
    ~DeviceModule();
    const Library library;
    DEV_HANDLE const handle; // NOLINT(misc-misplaced-const): the handle itself is fixed
};

class GentlDataStream final : public DataStream, public std::enable_shared_from_this<GentlDataStream> {
public:
    // `stream` is open, with its new-buffer event registered as `event`; `features` is the device's Aravis
    // device (the stream keeps a reference of its own).
    GentlDataStream(core::CallGate& gate, std::string objectName, Library library, DS_HANDLE stream, EVENT_HANDLE event,
                    ArvDevice* features);
    // Closes the GenTL stream (closeModule) and ends the delivery thread (joined, or handed to the reaper when
    // this runs on it).
    ~GentlDataStream() override;

    // Ends the stream's use of the producer: stops, ends the wait for an event, unregisters it and closes the
    // GenTL stream, so that its device can close at once; the object may live on while a hand-over holds it,
    // and then makes no GenTL call. Any thread, also from inside a handler call; never waits for one.
    void closeModule() noexcept;

protected:
    void doClose() override { stopGrabbing(); }
    uint64_t doGetBufferSize() override;
    bool doGetIsGrabbing() override;
    void doStartAcquisition() override;
    void doStopAcquisition() override { stopGrabbing(); }
    uint64_t doGetLostFrameCount() override;
    void doAnnounceBuffer(Buffer& buffer) override;
    void doQueueBuffer(Buffer& buffer) override;
    void doWithdrawBuffer(Buffer& buffer) noexcept override;
    uint64_t doGetQueuedCount() override;

private:
    // Where a buffer is: with no one, queued (with the producer while grabbing), or with the handler.
    enum class Place { Idle, Queued, Delivering };
    struct Slot {
        BUFFER_HANDLE handle = nullptr;
        Place place = Place::Idle;
    };
    // What the delivery thread needs without the stream: the library, the event, whether to end, and the hold
    // on the stream's handles.
    struct Wakeup {
        Library library;
        EVENT_HANDLE event = nullptr;
        std::atomic<bool> quit{false};
        // Held shared by every GenTL call on the stream's handles (the delivery thread's wait for an event
        // included), exclusively by closeModule: no call reaches a closed handle. Taken before m_mutex.
        // closeModule waits for it a bounded time: a delivery thread stuck in the producer is abandoned.
        std::shared_timed_mutex module;
        bool open = true; // guarded by module
    };

    static void run(const std::weak_ptr<GentlDataStream>& stream, const std::shared_ptr<Wakeup>& wakeup);
    void handOver(const EVENT_NEW_BUFFER_DATA& event);
    // What a buffer says of its pixel format (BUFFER_INFO_PIXELFORMAT and its namespace), as far as it says.
    struct ReportedFormat {
        bool given = false;      // the buffer gives a code
        uint64_t code = 0;       //
        bool spaceGiven = false; // the buffer gives the code's namespace
        uint64_t space = 0;      //
    };
    // The format the frame goes by: its name (null when the buffer gives a code this layer cannot read) and its
    // table entry (null for a name the table lacks). With m_mutex held.
    struct FrameFormat {
        const char* name = nullptr;
        const core::PixelFormatInfo* info = nullptr;
    };
    [[nodiscard]] FrameFormat formatOf(const ReportedFormat& reported) const noexcept;
    void stopGrabbing() noexcept;
    void awaitNoDelivery(std::unique_lock<std::mutex>& lock);
    // Every queued slot to the producer's input queue, after emptying its queues. With m_mutex held.
    void queueAllToProducer(const char* function);
    [[nodiscard]] const GentlFunctions& fn() const noexcept { return m_pLibrary->fn(); }
    [[nodiscard]] const GentlLibrary& library() const noexcept { return *m_pLibrary; }
    // Holds the stream's handles for a call that needs them; raises when the GenTL stream is closed already.
    [[nodiscard]] std::shared_lock<std::shared_timed_mutex> holdModule(const char* function) const;

    const Library m_pLibrary;
    DS_HANDLE const m_hStream;                       // NOLINT(misc-misplaced-const): the handle itself is fixed
    const aravis::GObjectPtr<ArvDevice> m_pFeatures; // for PixelFormat and AcquisitionStop; host's side only
    const std::shared_ptr<Wakeup> m_pWakeup = std::make_shared<Wakeup>();
    std::thread m_delivery; // started by the first start, on the host's side; ended by the destructor

    // Guards the members below: the host's side announces, queues, starts and stops while the delivery thread
    // hands buffers over.
    mutable std::mutex m_mutex;
    std::condition_variable m_delivered; // signalled whenever a buffer leaves Place::Delivering
    std::map<Buffer*, Slot> m_slots;
    bool m_bGrabbing = false;
    const char* m_formatName = ""; // the camera's format since the last start; interned, lives for the process
    const core::PixelFormatInfo* m_formatInfo = nullptr; // its table entry; null for a name the table lacks
    // The buffer formats this stream cannot read, each warned about once: (namespace, code).
    std::vector<std::pair<uint64_t, uint64_t>> m_unreadableFormats;
};

class GentlDevice;

class GentlDataStreamList final : public DataStreamList {
public:
    explicit GentlDataStreamList(GentlDevice& device);
    void forget() noexcept { m_entries.clear(); }

protected:
    void doRefresh() override;

private:
    GentlDevice& m_device;
};

class GentlDevice final : public Device {
public:
    GentlDevice(core::CallGate& gate, Library library, IF_HANDLE iface, std::string id, std::string serial,
                std::string model);
    ~GentlDevice() override;

protected:
    void doOpen() override;
    void doClose() override { release(); }
    void doEndStreams() noexcept override;
    NodeMap* doGetRemoteNodeList() override { return m_pFeatures.get(); }
    Node* doGetRemoteNode(std::string_view name) override { return m_pFeatures->find(name); }
    DataStreamList* doGetDataStreams() override { return &m_streamList; }

private:
    friend class GentlDataStreamList;
    void release() noexcept;
    void makeStreams();
    [[nodiscard]] std::string readDescription(PORT_HANDLE port) const;

    core::CallGate& m_gate;
    const Library m_pLibrary;
    IF_HANDLE const m_hInterface; // NOLINT(misc-misplaced-const): the handle itself is fixed
    const std::string m_id;       // the producer's device ID
    std::shared_ptr<aravis::DeviceLink> m_pLink = std::make_shared<aravis::DeviceLink>();
    std::shared_ptr<DeviceModule> m_pModule;     // while open
    aravis::GObjectPtr<ArvDevice> m_pPortDevice; // Aravis's device over the port, while open
    std::unique_ptr<aravis::AravisNodeMap> m_pFeatures;
    std::vector<std::shared_ptr<GentlDataStream>> m_streams; // from the first stream-list refresh to the close
    GentlDataStreamList m_streamList;
};

class GentlInterface;

class GentlDeviceList final : public DeviceList {
public:
    explicit GentlDeviceList(GentlInterface& owner);

protected:
    void doRefresh(uint64_t timeout) override;

private:
    GentlInterface& m_interface;
};

class GentlInterface final : public Interface {
public:
    GentlInterface(core::CallGate& gate, Library library, TL_HANDLE system, std::string id);
    // Devices (and their streams) go first, then the interface module.
    ~GentlInterface() override;

protected:
    void doOpen() override { openModule(); }
    DeviceList* doGetDevices() override { return &m_devices; }

private:
    friend class GentlDeviceList;
    void openModule();

    core::CallGate& m_gate;
    const Library m_pLibrary;
    TL_HANDLE const m_hSystem;        // NOLINT(misc-misplaced-const): the handle itself is fixed
    IF_HANDLE m_hInterface = nullptr; // opened by the first open or device listing
    // Every device seen in this session, by the producer's ID: a refresh never destroys one the driver holds.
    std::map<std::string, std::unique_ptr<GentlDevice>> m_known;
    GentlDeviceList m_devices;
};

class GentlSystem;

class GentlInterfaceList final : public InterfaceList {
public:
    explicit GentlInterfaceList(GentlSystem& system);

protected:
    void doRefresh(uint64_t timeout) override;

private:
    GentlSystem& m_system;
};

class GentlSystem final : public System {
public:
    // `system` is the producer's open system module; the GenTL system closes with this object.
    GentlSystem(core::CallGate& gate, Library library, TL_HANDLE system, std::string id, std::string tlType);
    ~GentlSystem() override;

protected:
    InterfaceList* doGetInterfaces() override { return &m_interfaceList; }

private:
    friend class GentlInterfaceList;

    core::CallGate& m_gate;
    const Library m_pLibrary;
    TL_HANDLE const m_hSystem; // NOLINT(misc-misplaced-const): the handle itself is fixed
    std::map<std::string, std::unique_ptr<GentlInterface>> m_known;
    GentlInterfaceList m_interfaceList;
};

} // namespace sdk::gentl
