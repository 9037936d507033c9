#include "driver/CameraVeyra.h"

#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <map>

using vxcam::guardSdk;

sdk::SystemList* CCameraVeyra::s_pSystemList = nullptr;
int32_t CCameraVeyra::s_nInstanceCount = 0;
vxcam::Mutex CCameraVeyra::s_systemListMutex;

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
    joinSystemList();
    m_pImageProcessor = guardSdk("CCameraVeyra", static_cast<sdk::ImageProcessor*>(nullptr),
                                 [] { return sdk::ImageProcessor::GetInstance(); });
}

// The host is expected to stop and close first; an object deleted with its camera still open is stopped and
// closed, so that no stream delivers to an object that is gone.
void CCameraVeyra::deleteCamera(ICameraObject* camera) {
    if (camera == nullptr) {
        return;
    }
    auto* veyra = static_cast<CCameraVeyra*>(camera);
    const vxcam::Call call(veyra->m_life, "~CCameraVeyra");
    if (call.admitted()) {
        veyra->tearDown();
        veyra->m_life.markDeleted(true);
    }
} // the call's end frees the object, unless another thread is still inside it

// Reached through deleteCamera's call (torn down already), or by a direct delete (a test probe).
CCameraVeyra::~CCameraVeyra() {
    if (!m_life.isDeleted()) {
        const vxcam::Call call(m_life, "~CCameraVeyra");
        tearDown();
        m_life.markDeleted(false);
    }
    leaveSystemList();
}

// Frames stop before the camera is stopped and closed; the bindings go last, so that no stream calls the
// object once it is freed. Inside OnImageReady the delivery in progress finishes without touching the object.
void CCameraVeyra::tearDown() {
    m_life.quiesce();
    if (m_pDevice != nullptr) {
        stopCamera();
        closeCamera();
    }
    while (!m_boundStreams.empty()) {
        unbindStream(m_boundStreams.back());
    }
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
void CCameraVeyra::joinSystemList() {
    const vxcam::MutexLock lock(s_systemListMutex);
    sdk::SystemList* obtained = nullptr;
    bool answered = false;
    bool refreshed = false;
    guardSdk("CCameraVeyra", [&] {
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
