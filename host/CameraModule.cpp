#include "host/CameraModule.h"

#include <QCoreApplication>
#include <QDir>

namespace vxcam::host {

CameraModule::CameraModule(const QString& directory)
    : m_directory(directory.isEmpty() ? QCoreApplication::applicationDirPath() : directory) {}

bool CameraModule::load() {
    if (m_create != nullptr && m_delete != nullptr) {
        return true;
    }
    // QLibrary adds the platform's prefix and suffix (libvxCam_160.so, vxCam_160.dll).
    m_library.setFileName(QDir(m_directory).filePath(QLatin1String(kModuleName)));
    if (!m_library.load()) {
        m_error = QStringLiteral("cannot load the camera module %1 from '%2': %3")
                      .arg(QLatin1String(kModuleName), QDir::toNativeSeparators(m_directory), m_library.errorString());
        return false;
    }
    // The exports are plain C functions; their addresses come back untyped.
    m_create = reinterpret_cast<CameraCreateFunction>(m_library.resolve("Camera_Create")); // NOLINT
    m_delete = reinterpret_cast<CameraDeleteFunction>(m_library.resolve("Camera_Delete")); // NOLINT
    if (m_create == nullptr || m_delete == nullptr) {
        m_error = QStringLiteral("the module '%1' lacks %2")
                      .arg(QDir::toNativeSeparators(m_library.fileName()),
                           m_create == nullptr ? QStringLiteral("Camera_Create") : QStringLiteral("Camera_Delete"));
        m_create = nullptr;
        m_delete = nullptr;
        return false;
    }
    return true;
}

CameraModule::CameraHandle CameraModule::makeCamera(CameraConfig* config, ICameraCallback* callback) const {
    if (m_create == nullptr) {
        return CameraHandle(nullptr, Deleter{m_delete});
    }
    return CameraHandle(m_create(config, callback), Deleter{m_delete});
}

} // namespace vxcam::host
