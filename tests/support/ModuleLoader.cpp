#include "tests/support/ModuleLoader.h"

namespace vxcam::test {

ModuleLoader::ModuleLoader() : m_library(QStringLiteral(VXCAM_MODULE_DIR) + QStringLiteral("/vxCam_160")) {
    if (m_library.load()) {
        m_create = reinterpret_cast<CameraCreateFunction>(m_library.resolve("Camera_Create")); // NOLINT
        m_delete = reinterpret_cast<CameraDeleteFunction>(m_library.resolve("Camera_Delete")); // NOLINT
    }
}

// The module stays loaded for the process: unloading it under running sanitizers hides their reports.
ModuleLoader::~ModuleLoader() = default;

ModuleLoader::Camera ModuleLoader::makeCamera(CameraConfig* config, ICameraCallback* callback) const {
    return Camera(m_create(config, callback), Deleter{m_delete});
}

} // namespace vxcam::test
