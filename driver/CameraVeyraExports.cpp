// The module's two exports, with C linkage under their plain names.
#include "contract/ICameraObject.h"
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"

extern "C" {

VXCAM_MODULE_API ICameraObject* Camera_Create(CameraConfig* config, ICameraCallback* callback) {
    qCWarning(vxcam::lcDriver()) << "create veyra camera...";
    return new CCameraVeyra(config, callback); // NOLINT(cppcoreguidelines-owning-memory): freed by Camera_Delete
}

// The module frees what it allocated, once no other thread is inside the object (see CameraLifecycle).
VXCAM_MODULE_API void Camera_Delete(ICameraObject* camera) {
    CCameraVeyra::deleteCamera(camera);
}
}
