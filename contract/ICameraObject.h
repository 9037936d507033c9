// The camera plug-in contract: what a host and a camera module share across the module boundary.
//
// A host includes this one header, loads a camera module by name and resolves the two exports declared at
// the end (`Camera_Create`, `Camera_Delete`). The host reads and writes the public data members of
// `ICameraObject` directly, so their order, types and widths, and the order of the virtual operations, are
// binary contract: the layout checks at the end of this file stop a build that would break existing hosts.
#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <cstddef>
#include <cstdint>

// The one export macro of camera modules. A module defines VXCAM_BUILDING_MODULE while it builds itself;
// hosts see the import side.
#if defined(_WIN32)
#if defined(VXCAM_BUILDING_MODULE)
#define VXCAM_MODULE_API __declspec(dllexport)
#else
#define VXCAM_MODULE_API __declspec(dllimport)
#endif
#else
#define VXCAM_MODULE_API __attribute__((visibility("default")))
#endif

// Camera family codes. Each module serves one family; its module name carries the code (vxCam_160).
enum CameraType : int32_t {
    CameraTypeUnknown = 0,
    CameraTypeVirtual = 100,
    CameraTypeBitFlow = 110,
    CameraTypeGige = 120,
    CameraTypeUsb = 130,
    CameraTypeHik = 140,
    CameraTypeVimba = 150,
    CameraTypeVeyra = 160,
    CameraTypeAdLink = 170,
    CameraTypeDaHua = 180,
    CameraTypeBasler = 190,
    CameraTypePtGray = 200,
    CameraTypeEuresys = 220,
    CameraTypeDalsa = 230,
};

// Host-side camera states. No driver operation reports one; drivers keep m_bOpened and m_bRunning.
enum CameraState : int32_t {
    CameraStateUninitialized = 0,
    CameraStateInitialized = 1,
    CameraStateOpened = 2,
    CameraStateRunning = 3,
    CameraStatePaused = 4,
    CameraStateClosed = 5,
};

// Image formats as the host classifies them. The values 6 to 10 are not used.
enum ImageFormat : int32_t {
    ImageFormatNone = 0,
    ImageFormatGray8 = 1,
    ImageFormatRgb24 = 2,
    ImageFormatRgb32 = 3,
    ImageFormatGray16 = 4,
    ImageFormatRgb48 = 5,
    ImageFormatBgr24 = 11,
    ImageFormatBgr32 = 12,
};

// Trigger modes a host requests through m_nTriggerMode. Every value outside 1..4 means Idle.
enum AcqTriggerMode : int32_t {
    Idle = 0,
    LineTrigger = 1,
    FreeRun = 2,
    FreeRunResetFrameId = 3,
    SoftTrigger = 4,
};

// The configuration record. The host owns and fills it; a driver only reads it and never frees it.
struct CameraConfig {
    int32_t cameraType = CameraTypeUnknown; // host field: the family the host expects behind this record
    QString cameraId;                       // "veyra" + one blank + serial number, as the module lists it
    QString displayName;                    // host field: the name the host shows for this camera
    int32_t imageFormat = ImageFormatNone;  // an ImageFormat value; read once, when the object is made
    int32_t exposureTime = 0;               // microseconds; written to the camera by InitProperty
    int32_t gain = 0;                       // host field
    int32_t reserved[4] = {};               // host fields
};

// One property write, passed to ISetProperty. Property 1 is the exposure time in microseconds.
struct CameraProperty {
    int32_t propertyId;
    int32_t value;
};

class ICameraObject;

// The host's callback object. The host owns it and keeps it alive as long as the camera object.
// Modules call only OnImageReady, on the module's delivery thread, and never delete the callback.
class ICameraCallback {
public:
    ICameraCallback() = default;
    ICameraCallback(const ICameraCallback&) = default;
    ICameraCallback& operator=(const ICameraCallback&) = default;

    // Slot 1 of the table. Hosts may override it for their own events; modules never call it.
    virtual void OnCameraEvent(ICameraObject* camera, int32_t event) {
        static_cast<void>(camera);
        static_cast<void>(event);
    }

    // Slot 2 of the table: one call per frame, while the camera object's image members describe the frame.
    virtual void OnImageReady(ICameraObject* camera) = 0;

protected:
    // Not virtual, so that OnImageReady keeps its slot: a module never deletes a callback.
    ~ICameraCallback() = default;
};

// The camera object the host drives. Members are public because hosts read and write them directly.
class ICameraObject {
public:
    ICameraObject(CameraConfig* config, ICameraCallback* callback)
        : m_pConfig(config), m_nBitsPerPixel(config != nullptr ? bitsPerPixelOf(config->imageFormat) : 0),
          m_pCallback(callback) {}

    ICameraObject(const ICameraObject&) = delete;
    ICameraObject& operator=(const ICameraObject&) = delete;

    // Virtual operations, in the order of the table hosts are built against.
    virtual ~ICameraObject() = default;
    virtual QStringList IEnumAvailableCameras() { return {}; }
    virtual int32_t IOpenCamera() = 0;
    virtual void ICloseCamera() = 0;
    virtual int32_t IStartCamera() = 0;
    virtual void IStopCamera() = 0;
    virtual void InitProperty() {}
    virtual bool IQueryFlagA() { return false; }
    virtual bool IQueryFlagB() { return false; }
    virtual void ISetSoftTriggerMode() {}
    virtual int32_t IQueryValue() { return 0; }
    virtual bool ISetProperty(CameraProperty* property) {
        static_cast<void>(property);
        return false;
    }
    virtual bool IQueryFlagC() { return false; }

    // The bits per pixel a host expects from its configured image format, before a camera says otherwise.
    static constexpr int32_t bitsPerPixelOf(int32_t imageFormat) noexcept {
        switch (imageFormat) {
        case ImageFormatGray8:
            return 8;
        case ImageFormatRgb24:
            return 24;
        case ImageFormatRgb32:
            return 32;
        case ImageFormatGray16:
            return 16;
        default:
            return 0;
        }
    }

    CameraConfig* m_pConfig;               // host's record; not owned
    bool m_bOpened = false;                // a camera is open and ready
    bool m_bRunning = false;               // the last start applied its trigger mode successfully
    int32_t m_nWidth = 0;                  // current frame, valid during OnImageReady
    int32_t m_nHeight = 0;                 // current frame, valid during OnImageReady
    int32_t m_nReserved1 = 0;              // host's
    int32_t m_nBitsPerPixel;               // from the configuration, then from the camera's pixel format
    int32_t m_nImageFormat = 0;            // an ImageFormat value matched to the camera's pixel format
    int32_t m_nReserved2 = 0;              // host's
    std::atomic<int32_t> m_nFrameId{0};    // current frame number; written by the delivery thread and by a start
    int32_t m_nStartCount = 0;             // starts that found the camera opened
    int32_t m_nAppliedTriggerMode = Idle;  // the AcqTriggerMode the last start applied
    int32_t m_nTriggerMode = LineTrigger;  // the AcqTriggerMode the host requests; written by the host only
    unsigned char* m_pImageData = nullptr; // first pixel byte of the current frame, during OnImageReady only
    ICameraCallback* m_pCallback;          // host's callback; not owned
};

// The module's exports, resolved by name. The module allocates and frees every object it makes.
using CameraCreateFunction = ICameraObject* (*)(CameraConfig* config, ICameraCallback* callback);
using CameraDeleteFunction = void (*)(ICameraObject* camera);

extern "C" {
VXCAM_MODULE_API ICameraObject* Camera_Create(CameraConfig* config, ICameraCallback* callback);
VXCAM_MODULE_API void Camera_Delete(ICameraObject* camera);
}

// Binary layout that hosts are built against, held on x86-64 (LP64 and LLP64 alike).
static_assert(sizeof(std::atomic<int32_t>) == sizeof(int32_t) && std::atomic<int32_t>::is_always_lock_free,
              "m_nFrameId must keep the size of a plain 32-bit integer");
#if defined(__x86_64__) || defined(_M_X64)
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
#endif
static_assert(offsetof(ICameraObject, m_pConfig) == 8, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_bOpened) == 16, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_bRunning) == 17, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nWidth) == 20, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nHeight) == 24, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nReserved1) == 28, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nBitsPerPixel) == 32, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nImageFormat) == 36, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nReserved2) == 40, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nFrameId) == 44, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nStartCount) == 48, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nAppliedTriggerMode) == 52, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_nTriggerMode) == 56, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_pImageData) == 64, "ICameraObject layout changed");
static_assert(offsetof(ICameraObject, m_pCallback) == 72, "ICameraObject layout changed");
static_assert(sizeof(ICameraObject) == 80, "ICameraObject layout changed");
static_assert(offsetof(CameraConfig, cameraId) == 8, "CameraConfig layout changed");
static_assert(offsetof(CameraConfig, imageFormat) == 24, "CameraConfig layout changed");
static_assert(offsetof(CameraConfig, exposureTime) == 28, "CameraConfig layout changed");
static_assert(sizeof(CameraConfig) == 56, "CameraConfig layout changed");
static_assert(sizeof(CameraProperty) == 8 && offsetof(CameraProperty, value) == 4, "CameraProperty layout changed");
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
#endif

#include "contract/CameraNameTables.h"
