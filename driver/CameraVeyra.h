// CCameraVeyra: the driver object of the Veyra camera family, the module's ICameraObject.
//
// Threads: every interface operation runs on the host's calling thread, one call at a time per object.
// Frame delivery (BufferHandler, BufferReady) runs on the SDK's delivery thread of each data stream.
#pragma once

#include "contract/ICameraObject.h"

#include <QString>

#include <cstdint>
#include <mutex>

namespace sdk {
class Buffer;
class DataStream;
class Device;
class DeviceList;
class ImageProcessor;
class Interface;
class InterfaceList;
class System;
class SystemList;
} // namespace sdk

class CCameraVeyra : public ICameraObject {
public:
    CCameraVeyra(CameraConfig* config, ICameraCallback* callback);
    CCameraVeyra(const CCameraVeyra&) = delete;
    CCameraVeyra& operator=(const CCameraVeyra&) = delete;
    ~CCameraVeyra() override;

    // Interface operations; host thread.
    QStringList IEnumAvailableCameras() override;
    int32_t IOpenCamera() override;
    void ICloseCamera() override;
    int32_t IStartCamera() override;
    void IStopCamera() override;
    void InitProperty() override;
    void ISetSoftTriggerMode() override;
    bool ISetProperty(CameraProperty* property) override;
    bool IQueryFlagC() override { return true; }

    // The class's own virtual operation, after the thirteen of the interface: fires one software trigger.
    virtual int32_t ISendSoftTrigger();

    // Process-wide state shared by every driver object; guarded by s_systemListMutex.
    static sdk::SystemList* s_pSystemList; // the SDK's system list, the root of discovery and opening
    static int32_t s_nInstanceCount;       // driver objects that joined s_pSystemList

    // The pixel-format table: the image format class of `pixelFormat`, with its bits per pixel in `bits`.
    static int32_t classifyPixelFormat(const QString& pixelFormat, int32_t& bits) noexcept;

protected:
    sdk::ImageProcessor* m_pImageProcessor = nullptr; // the SDK's, process-wide; never released here
    sdk::Device* m_pDevice = nullptr;                 // the opened camera; belongs to the SDK

private:
    // Guards s_pSystemList and s_nInstanceCount. Hosts create, delete and enumerate from one thread at a time;
    // the lock keeps the count right when one does not.
    static std::mutex s_systemListMutex;

    void joinSystemList();
    void leaveSystemList() noexcept;

    bool m_bJoinedSystemList = false; // this object counted itself in s_nInstanceCount; host thread only
};
