#include "driver/CameraVeyra.h"

#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <map>
#include <vector>

using vxcam::guardSdk;

sdk::SystemList* CCameraVeyra::s_pSystemList = nullptr;
int32_t CCameraVeyra::s_nInstanceCount = 0;
vxcam::Mutex CCameraVeyra::s_systemListMutex;
int32_t CCameraVeyra::s_nLiveObjects = 0;

namespace {

// The serial numbers of the cameras that driver objects of the process hold; under s_systemListMutex.
std::map<QString, const CCameraVeyra*>& heldCameras() {
    static std::map<QString, const CCameraVeyra*> held;
    return held;
}

} // namespace

// ---- construction, deletion and the shared system list ---------------------------------------------------

CCameraVeyra::CCameraVeyra(CameraConfig* config, ICameraCallback* callback)
    : IVeyraCameraObject(config, callback),
      // The module allocated the object (Camera_Create) and frees it here, once the last call has left it.
      m_pLifecycle(
          std::make_shared<vxcam::CameraLifecycle>([this] { delete this; })), // NOLINT(cppcoreguidelines-owning-memory)
      m_life(*m_pLifecycle) {
    {
        const vxcam::MutexLock lock(s_systemListMutex);
        ++s_nLiveObjects;
    }
    joinSystemList("CCameraVeyra");
    m_pImageProcessor = guardSdk("CCameraVeyra", static_cast<sdk::ImageProcessor*>(nullptr),
                                 [] { return sdk::ImageProcessor::GetInstance(); });
}

// The host is expected to stop and close first; an object deleted with its camera still open is stopped and
// closed, so that no stream delivers to an object that is gone. The object's memory goes with the last one
// inside it: this call, a delivery still in a callback on another thread, or a stream binding the SDK still
// holds. When no object is left and nothing of the module runs on this thread's behalf, the SDK's threads are
// waited for, so that the host may unload the module once this returns.
void CCameraVeyra::deleteCamera(ICameraObject* camera) {
    if (camera == nullptr) {
        awaitModuleThreads();
        return;
    }
    auto* veyra = static_cast<CCameraVeyra*>(camera);
    bool lastObject = false;
    {
        const vxcam::Call call(veyra->m_life, "~CCameraVeyra");
        if (!call.admitted()) {
            return;
        }
        veyra->tearDown();
        // Leaving the shared list now, not when the memory goes: the last object's leaving ends the SDK's
        // session, and with it every stream that could still hold this object.
        veyra->leaveSystemList();
        veyra->m_life.markDeleted(true);
        const vxcam::MutexLock lock(s_systemListMutex);
        lastObject = --s_nLiveObjects == 0;
    } // the call's end frees the object, unless another one is still inside it
    if (lastObject) {
        awaitModuleThreads();
    }
}

// From inside a callback the module's own thread is running: nothing to wait for there (the host asks again
// with Camera_Delete(nullptr) from a thread of its own).
void CCameraVeyra::awaitModuleThreads() noexcept {
    if (vxcam::CameraLifecycle::insideAnyDelivery()) {
        return;
    }
    static_cast<void>(sdk::SystemList::AwaitThreadsEnded());
}

// Reached when the last one inside a deleted object leaves, or by a direct delete (a test probe).
CCameraVeyra::~CCameraVeyra() {
    if (!m_life.isDeleted()) {
        const vxcam::Call call(m_life, "~CCameraVeyra");
        tearDown();
        m_life.markDeleted(false);
        const vxcam::MutexLock lock(s_systemListMutex);
        --s_nLiveObjects;
    }
    leaveSystemList();
}

// Frames stop before the camera is stopped and closed; closing the device ends its streams, and every record
// of them goes. A delivery in progress on another thread (the host deletes from inside a callback) finishes
// with the object still alive: its binding holds it.
void CCameraVeyra::tearDown() {
    m_life.quiesce();
    if (m_pDevice != nullptr) {
        stopCamera();
        closeCamera();
    }
    for (const auto& record : m_streams) {
        unbindStream(record.first);
    }
    m_streams.clear();
}

bool CCameraVeyra::claimCamera(const QString& serial) {
    const vxcam::MutexLock lock(s_systemListMutex);
    const auto [held, claimed] = heldCameras().try_emplace(serial, this);
    return claimed || held->second == this;
}

void CCameraVeyra::releaseCamera() noexcept {
    if (m_heldSerial.isNull()) {
        return;
    }
    const vxcam::MutexLock lock(s_systemListMutex);
    const auto held = heldCameras().find(m_heldSerial);
    if (held != heldCameras().end() && held->second == this) {
        heldCameras().erase(held);
    }
    m_heldSerial = QString();
}

// Every new object makes the SDK look for systems again; it counts itself only once the refresh succeeded.
void CCameraVeyra::joinSystemList(const char* method) {
    const vxcam::MutexLock lock(s_systemListMutex);
    sdk::SystemList* obtained = nullptr;
    bool answered = false;
    bool refreshed = false;
    guardSdk(method, [&] {
        obtained = sdk::SystemList::GetInstance();
        answered = true;
        if (obtained != nullptr) {
            obtained->Refresh();
            refreshed = true;
        }
    });
    if (answered) {
        s_pSystemList = obtained; // whatever the SDK answered, also when the refresh failed
    }
    if (refreshed) {
        ++s_nInstanceCount;
        m_bJoinedSystemList = true;
    }
}

sdk::SystemList* CCameraVeyra::currentSystemList() {
    const vxcam::MutexLock lock(s_systemListMutex);
    return s_pSystemList;
}

// Discovery takes the list itself when no object has joined, without refreshing or counting it.
sdk::SystemList* CCameraVeyra::systemListForDiscovery() {
    const vxcam::MutexLock lock(s_systemListMutex);
    if (s_pSystemList == nullptr) {
        s_pSystemList = sdk::SystemList::GetInstance();
    }
    return s_pSystemList;
}

// Only objects that joined leave, so an object that never joined cannot release the list under others.
void CCameraVeyra::leaveSystemList() noexcept {
    if (!m_bJoinedSystemList) {
        return;
    }
    const vxcam::MutexLock lock(s_systemListMutex);
    m_bJoinedSystemList = false;
    if (s_pSystemList == nullptr || --s_nInstanceCount != 0) {
        return;
    }
    guardSdk("~CCameraVeyra", [] { sdk::SystemList::ReleaseInstance(); });
    s_pSystemList = nullptr;
}

int32_t CCameraVeyra::classifyPixelFormat(const QString& pixelFormat, int32_t& bits) noexcept {
    struct Row {
        const char* name;
        int32_t bits;
        int32_t imageFormat;
    };
    // Compared exactly, in this order; the bit counts are the ones hosts have always been given.
    static constexpr Row kTable[] = {
        {"YUV422Packed", 8, ImageFormatGray8}, {"Mono8", 8, ImageFormatGray8},
        {"BayerRG12", 12, ImageFormatGray8},   {"YUV444Packed", 12, ImageFormatGray8},
        {"BayerRG8", 24, ImageFormatRgb24},    {"RGB8Packed", 24, ImageFormatRgb24},
        {"BGR8Packed", 24, ImageFormatRgb24},  {"BayerRGB8Packed", 24, ImageFormatRgb24},
        {"YUV411Packed", 6, ImageFormatGray8},
    };
    for (const Row& row : kTable) {
        if (pixelFormat == QLatin1String(row.name)) {
            bits = row.bits;
            return row.imageFormat;
        }
    }
    bits = 0;
    return ImageFormatNone;
}
