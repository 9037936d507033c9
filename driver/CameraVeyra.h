// CCameraVeyra: the driver object of the Veyra camera family, the module's ICameraObject.
//
// Threads: interface operations run on any of the host's threads, its callback's thread included (it may call
// from inside OnImageReady); the object's lifecycle gives them one turn at a time (see CameraLifecycle).
// Frame delivery (BufferHandler, BufferReady) runs on the SDK's delivery thread of each data stream, one frame
// at a time per object.
#pragma once

#include "contract/IVeyraCameraObject.h"
#include "driver/CameraLifecycle.h"
#include "driver/CameraStreamBinding.h"
#include "driver/SdkErrorReport.h"
#include "driver/ThreadSafety.h"
#include "sdk/Buffer.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

namespace sdk {
class DataStream;
class Device;
class DeviceList;
class ImageProcessor;
class Interface;
class InterfaceList;
class System;
class SystemList;
} // namespace sdk

// Derived through IVeyraCameraObject, which adds no member: the layout is ICameraObject's, and hosts that view
// the object as IVeyraCameraObject reach ISendSoftTrigger through a class the object really is.
class CCameraVeyra : public IVeyraCameraObject {
public:
    CCameraVeyra(CameraConfig* config, ICameraCallback* callback);
    CCameraVeyra(const CCameraVeyra&) = delete;
    CCameraVeyra& operator=(const CCameraVeyra&) = delete;
    ~CCameraVeyra() override;

    // Interface operations: any of the host's threads, one call at a time (see CameraLifecycle).
    QStringList IEnumAvailableCameras() override;
    int32_t IOpenCamera() override;
    void ICloseCamera() override;
    int32_t IStartCamera() override;
    void IStopCamera() override;
    void InitProperty() override;
    void ISetSoftTriggerMode() override;
    bool ISetProperty(CameraProperty* property) override;
    bool IQueryFlagC() override { return true; }

    // The family's own virtual operation, after the thirteen of the interface: fires one software trigger.
    int32_t ISendSoftTrigger() override;
    // Describes the frame in delivery; only on the delivering thread, during OnImageReady.
    int32_t IGetFrameLayout(VeyraFrameLayout* layout) override;
    // Sums the statistics of the open camera's data streams.
    int32_t IGetStreamStatistics(VeyraStreamStatistics* statistics) override;

    // Guards s_pSystemList, s_nInstanceCount and the held cameras. Hosts create, delete and enumerate from one
    // thread at a time; the lock keeps the count right when one does not.
    static vxcam::Mutex s_systemListMutex;

    // Camera_Delete's body: tears the object down and frees it once no one else is inside it. With a null
    // pointer, or for the last object, it also waits until no thread of the module runs (see deleteCamera).
    static void deleteCamera(ICameraObject* camera);

    // Process-wide state shared by every driver object; guarded by s_systemListMutex.
    // the SDK's system list, the root of discovery and opening
    static sdk::SystemList* s_pSystemList VXCAM_GUARDED_BY(s_systemListMutex);
    // driver objects that joined s_pSystemList
    static int32_t s_nInstanceCount VXCAM_GUARDED_BY(s_systemListMutex);

    // The pixel-format table: the image format class of `pixelFormat`, with its bits per pixel in `bits`.
    static int32_t classifyPixelFormat(const QString& pixelFormat, int32_t& bits) noexcept;

protected:
    // The driver's routines. Protected rather than private so that a test probe can drive each one alone. Those
    // that touch the object's members run inside a call (vxcam::Call), which holds the object's turn.

    // Discovery walk; none of them touches a member.
    static bool openSystem(sdk::System* system);
    static sdk::InterfaceList* getSystemInterfaces(sdk::System* system);
    static bool openInterface(sdk::Interface* iface);
    static sdk::DeviceList* getDevices(sdk::Interface* iface);

    // Opening and closing.
    sdk::Device* openDeviceBySerialNumber(sdk::DeviceList* devices, const QString& serial) VXCAM_REQUIRES(m_life.turn);
    static bool openDevice(sdk::Device* device);
    static bool closeDevice(sdk::Device* device);
    bool setDeviceProperty(sdk::Device* device);
    void releasePreparedDevice(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);

    // Data streams and buffer pools.
    uint32_t setDeviceDataStream(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    uint32_t clearDeviceDataStream(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    static bool openDataStream(sdk::DataStream* stream);
    static bool closeDataStream(sdk::DataStream* stream);
    bool createStreamBuffers(sdk::DataStream* stream, int32_t count) VXCAM_REQUIRES(m_life.turn);
    bool deleteStreamBuffers(sdk::DataStream* stream) VXCAM_REQUIRES(m_life.turn);
    // Lets frames in (they wait for the calling operation's end) before the streams start, so that none that
    // the streams hand over is lost.
    bool startDeviceDataStream(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    static bool stopDeviceDataStream(sdk::Device* device);

    // Trigger programming: each aborts and stops acquisition, writes "TriggerMode" and "TriggerSource", starts
    // the streams and starts acquisition.
    bool setDeviceOutTrigger(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    bool setDeviceAutoTrigger(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    bool setDeviceSoftTrigger(sdk::Device* device) VXCAM_REQUIRES(m_life.turn);
    // The same, saying in `halted` whether the camera's acquisition was aborted or stopped (also on failure).
    bool setDeviceOutTrigger(sdk::Device* device, bool& halted) VXCAM_REQUIRES(m_life.turn);
    bool setDeviceAutoTrigger(sdk::Device* device, bool& halted) VXCAM_REQUIRES(m_life.turn);
    bool setDeviceSoftTrigger(sdk::Device* device, bool& halted) VXCAM_REQUIRES(m_life.turn);

    // Frame delivery; called on a stream's delivery thread. The owner is the stream's binding, which keeps the
    // object (and the buffers) alive for the call.
    static void BufferHandler(void* owner, sdk::Buffer* buffer);
    void BufferReady(vxcam::StreamBinding& binding, sdk::Buffer* buffer);

    // The object's lifecycle, shared with each stream binding. m_life is the same object.
    //
    // Members below and the contract's members are used inside a call (holding the turn), except where a
    // comment says otherwise; the frame members (m_pImageData, m_nWidth, m_nHeight, m_nFrameId) are written by
    // one delivery at a time, past the gate.
    const std::shared_ptr<vxcam::CameraLifecycle> m_pLifecycle;
    vxcam::CameraLifecycle& m_life;

    // Taken by the constructor, and again by a delivery that finds none (deliveries are one at a time, and each
    // passes the lifecycle's mutex). Never released here.
    sdk::ImageProcessor* m_pImageProcessor = nullptr;
    // The opened camera; belongs to the SDK. Deliveries never read it.
    sdk::Device* m_pDevice VXCAM_GUARDED_BY(m_life.turn) = nullptr;

private:
    // Calls `visit` with each device list that the walk over systems and interfaces reaches, in walk order,
    // until it returns true. SDK errors of the walk itself reach the caller.
    template <typename Visit>
    static void forEachDeviceList(sdk::SystemList* systems, Visit&& visit);
    // s_pSystemList, taken from the SDK without counting when no object has joined (discovery only).
    static sdk::SystemList* systemListForDiscovery();
    static sdk::SystemList* currentSystemList();
    bool unbindStream(sdk::DataStream* stream) VXCAM_REQUIRES(m_life.turn);

    // The record of `stream` on `device`, made when there is none yet.
    vxcam::StreamBinding& bindingFor(sdk::Device* device, sdk::DataStream* stream) VXCAM_REQUIRES(m_life.turn);
    [[nodiscard]] vxcam::StreamBinding* findBinding(sdk::DataStream* stream) const VXCAM_REQUIRES(m_life.turn);
    // The device's streams ended with its close (or the open gave it up): every record of them goes.
    void forgetStreamsOf(const sdk::Device* device) noexcept VXCAM_REQUIRES(m_life.turn);
    [[nodiscard]] bool hasStreamsOf(const sdk::Device* device) const noexcept VXCAM_REQUIRES(m_life.turn);

    // Bodies of the operations, for callers inside a call.
    [[nodiscard]] bool openCamera(const QString& serial) VXCAM_REQUIRES(m_life.turn);
    void stopCamera() VXCAM_REQUIRES(m_life.turn);
    void closeCamera() VXCAM_REQUIRES(m_life.turn);
    void tearDown() VXCAM_REQUIRES(m_life.turn);
    [[nodiscard]] bool needsApplying(int32_t requested) const VXCAM_REQUIRES(m_life.turn);
    // Quiesces (see CameraLifecycle); false, with the refusal logged, when a call from inside OnImageReady
    // deleted the object meanwhile.
    [[nodiscard]] bool quiesceFor(const char* method);
    bool applyTriggerMode(int32_t mode, bool& halted) VXCAM_REQUIRES(m_life.turn);
    void restartFrameNumbering(bool fromZero) noexcept;
    enum class ExposureWrite : uint8_t { Written, Refused, NoFeature };
    [[nodiscard]] ExposureWrite writeExposure(int32_t value, const char* method) VXCAM_REQUIRES(m_life.turn);

    // One frame, from the buffer to the host and back; the lifecycle's gate is passed already.
    void deliverFrame(sdk::Buffer* buffer) VXCAM_REQUIRES(m_life.delivery);
    void publishFrame(const sdk::Buffer& buffer, unsigned char* pixels) noexcept;
    void notifyHost();
    // The buffer goes back to its stream, unless the stream's buffers were revoked meanwhile; one that cannot be
    // queued is kept for the next try, with the failures before it.
    static void queueAgain(vxcam::StreamBinding& binding, sdk::Buffer* buffer);
    static void queueUnqueued(vxcam::StreamBinding& binding);

    // A camera is held by one driver object of the process at a time: the serial numbers held, with their
    // holders. Guarded by s_systemListMutex.
    [[nodiscard]] bool claimCamera(const QString& serial) VXCAM_REQUIRES(m_life.turn);
    void releaseCamera() noexcept VXCAM_REQUIRES(m_life.turn);

    // Joins s_pSystemList (taken and refreshed, counted); errors are reported under `method`.
    void joinSystemList(const char* method);

    void leaveSystemList() noexcept;
    static void awaitModuleThreads() noexcept;
    // Driver objects created and not yet deleted; under s_systemListMutex.
    static int32_t s_nLiveObjects VXCAM_GUARDED_BY(s_systemListMutex);

    // This object counted itself in s_nInstanceCount: set by the constructor or, when joining failed there, by
    // IOpenCamera (inside a call); read by the destructor.
    bool m_bJoinedSystemList = false;
    QString m_heldSerial VXCAM_GUARDED_BY(m_life.turn); // the serial number this object claimed, while it holds it

    // The frame in delivery, for IGetFrameLayout: written and read on the delivering thread only, while the
    // delivery is past the gate.
    struct CurrentFrame {
        const sdk::Buffer* buffer = nullptr;
        std::string_view cameraFormat; // the buffer's pixel-format name, alive during the delivery
        bool converted = false;
    };
    CurrentFrame m_currentFrame VXCAM_GUARDED_BY(m_life.delivery);
    // How m_nFrameId numbers the frames: the camera's own IDs, or (trigger mode 3) IDs counted from the first
    // frame delivered after the start. Set by the calls that start acquisition, once they quiesced, and read and
    // updated by the delivery past the gate. A start made from inside another camera's callback does not wait for
    // this object's delivery in progress, so the two meet under m_numberingMutex (uncontended otherwise).
    struct FrameNumbering {
        bool fromZero = false;      // m_nFrameId = the camera's ID - origin
        bool originPending = false; // the next frame delivered sets the origin
        uint64_t origin = 0;        // the camera's ID of the first frame delivered after the start
    };
    vxcam::Mutex m_numberingMutex;
    FrameNumbering m_frameNumbering VXCAM_GUARDED_BY(m_numberingMutex);
    // SDK errors of the frame path, which may repeat on every frame: conversion, the images' release and the
    // buffers' return to their stream, of delivered frames and of frames turned away at the gate. Thread-safe:
    // deliveries report, calls flush (a stop, a close), and its own timer writes the counts.
    vxcam::RepeatedErrorReport m_frameErrors{"BufferReady"};

    // Records of the streams this object prepared: their bindings, which hold the buffers allocated for them.
    // A record goes when its buffers are revoked or its device closes; the binding itself goes once the SDK too
    // has let go of it. Inside a call only; deliveries reach their binding through the SDK.
    std::map<sdk::DataStream*, std::shared_ptr<vxcam::StreamBinding>> m_streams VXCAM_GUARDED_BY(m_life.turn);
};
