// Loads the camera module the way a host does: by name, through QLibrary, resolving its two exports.
#pragma once

#include "contract/ICameraObject.h"

#include <QLibrary>
#include <QString>

#include <memory>

namespace vxcam::test {

class ModuleLoader {
public:
    ModuleLoader();
    ~ModuleLoader();
    ModuleLoader(const ModuleLoader&) = delete;
    ModuleLoader& operator=(const ModuleLoader&) = delete;

    [[nodiscard]] bool loaded() const { return m_create != nullptr && m_delete != nullptr; }
    [[nodiscard]] QString errorString() const { return m_library.errorString(); }

    [[nodiscard]] CameraCreateFunction create() const { return m_create; }
    [[nodiscard]] CameraDeleteFunction destroy() const { return m_delete; }

    // A camera object that goes back to the module's Camera_Delete when the handle ends.
    struct Deleter {
        CameraDeleteFunction destroy;
        void operator()(ICameraObject* camera) const { destroy(camera); }
    };
    using Camera = std::unique_ptr<ICameraObject, Deleter>;
    [[nodiscard]] Camera makeCamera(CameraConfig* config, ICameraCallback* callback) const;

private:
    QLibrary m_library;
    CameraCreateFunction m_create = nullptr;
    CameraDeleteFunction m_delete = nullptr;
};

} // namespace vxcam::test
