#include "driver/CameraVeyra.h"

#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

using vxcam::guardSdk;

sdk::SystemList* CCameraVeyra::s_pSystemList = nullptr;
int32_t CCameraVeyra::s_nInstanceCount = 0;
std::mutex CCameraVeyra::s_systemListMutex;

// ---- construction and the shared system list -------------------------------------------------------------

CCameraVeyra::CCameraVeyra(CameraConfig* config, ICameraCallback* callback) : IVeyraCameraObject(config, callback) {
    joinSystemList();
    m_pImageProcessor = guardSdk("CCameraVeyra", static_cast<sdk::ImageProcessor*>(nullptr),
                                 [] { return sdk::ImageProcessor::GetInstance(); });
}

// The host is expected to stop and close first; an object deleted with its camera still open stops and closes
// it, so that no stream delivers to an object that is gone. Deleted from inside OnImageReady, the delivery
// in progress finishes without touching the object.
CCameraVeyra::~CCameraVeyra() {
    {
        const vxcam::OperationTurn turn(*m_pDeliveryGate);
        stopFramesAndWait();
        if (m_pDevice != nullptr) {
            stopCamera();
            closeCamera();
        }
        while (!m_boundStreams.empty()) {
            unbindStream(m_boundStreams.back());
        }
        m_pDeliveryGate->markObjectDeleted();
    }
    leaveSystemList();
}

// Every new object makes the SDK look for systems again; it counts itself only once the refresh succeeded.
void CCameraVeyra::joinSystemList() {
    const std::lock_guard lock(s_systemListMutex);
    guardSdk("CCameraVeyra", [this] {
        s_pSystemList = sdk::SystemList::GetInstance();
        if (s_pSystemList != nullptr) {
            s_pSystemList->Refresh();
            ++s_nInstanceCount;
            m_bJoinedSystemList = true;
        }
    });
}

sdk::SystemList* CCameraVeyra::currentSystemList() {
    const std::lock_guard lock(s_systemListMutex);
    return s_pSystemList;
}

// Discovery takes the list itself when no object has joined, without refreshing or counting it.
sdk::SystemList* CCameraVeyra::systemListForDiscovery() {
    const std::lock_guard lock(s_systemListMutex);
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
    const std::lock_guard lock(s_systemListMutex);
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
