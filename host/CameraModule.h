// The camera module as a host loads it: by name (vxCam_160) from a folder, through QLibrary, with its two
// exports resolved by name. Every camera object comes from Camera_Create and goes back through Camera_Delete.
#pragma once

#include "contract/ICameraObject.h"

#include <QLibrary>
#include <QString>

#include <memory>

namespace vxcam::host {

class CameraModule {
public:
    // Owns one camera object and hands it back to the module that made it.
    struct Deleter {
        CameraDeleteFunction destroy = nullptr;
        void operator()(ICameraObject* camera) const noexcept {
            if (camera != nullptr && destroy != nullptr) {
                destroy(camera);
            }
        }
    };
    using CameraHandle = std::unique_ptr<ICameraObject, Deleter>;

    // `directory` empty: the folder of the tool's own binary.
    explicit CameraModule(const QString& directory);
    // The module stays loaded for the life of the process: objects it made may still be running down.
    ~CameraModule() = default;
    CameraModule(const CameraModule&) = delete;
    CameraModule& operator=(const CameraModule&) = delete;

    // True when the module is loaded and both exports were found; otherwise errorString() says why.
    [[nodiscard]] bool load();
    [[nodiscard]] QString errorString() const { return m_error; }
    // The file that was loaded (or was to be).
    [[nodiscard]] QString fileName() const { return m_library.fileName(); }

    // A new camera object over the host's `config` and `callback`, which must outlive it. Null when the module
    // made none. Host thread.
    [[nodiscard]] CameraHandle makeCamera(CameraConfig* config, ICameraCallback* callback) const;

private:
    QString m_directory;
    QLibrary m_library;
    CameraCreateFunction m_create = nullptr;
    CameraDeleteFunction m_delete = nullptr;
    QString m_error;
};

// The family's module name, without the platform's prefix and suffix.
inline constexpr const char* kModuleName = "vxCam_160";

} // namespace vxcam::host
