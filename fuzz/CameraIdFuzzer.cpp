// Fuzzes the camera identifier: the input becomes CameraConfig::cameraId of one driver object, loaded by name as a
// host loads the module, which then opens and closes the camera on a small simulated topology. Beyond the
// sanitizers it checks what the identifier promises: only "veyra <serial>" of a configured, usable camera opens.
#include "contract/ICameraObject.h"
#include "fuzz/FuzzSupport.h"

#include <QDir>
#include <QFile>
#include <QLibrary>
#include <QStringList>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Two systems; the serial "SN1001" is reachable on two paths, "SN3003" has no data stream (its opening must fail
// after the device was opened), and one serial is not plain ASCII.
constexpr const char* kTopology = R"({ "systems": [
  { "id": "simA", "interfaces": [
    { "id": "if0", "devices": [
      { "serial": "SN1001", "pixelFormat": "Mono8", "width": 16, "height": 8, "frameRate": 0 },
      { "serial": "SN2002", "pixelFormat": "BayerRG8", "width": 16, "height": 8, "frameRate": 0 },
      { "serial": "SN3003", "streams": 0, "width": 16, "height": 8, "frameRate": 0 } ] },
    { "id": "if1", "devices": [
      { "serial": "SN1001", "repeatedSerial": true, "pixelFormat": "RGB8Packed", "width": 16, "height": 8,
        "frameRate": 0 } ] } ] },
  { "id": "simB", "interfaces": [
    { "id": "if0", "devices": [
      { "serial": "Kämera-7", "pixelFormat": "YUV422Packed", "width": 16, "height": 8, "frameRate": 0 } ] } ] } ] })";

bool openableSerial(const QString& serial) {
    return serial == QLatin1String("SN1001") || serial == QLatin1String("SN2002") ||
           serial == QString::fromUtf8("Kämera-7");
}

class IgnoreFrames final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override {}
};

struct Harness {
    QTemporaryDir dir;
    QLibrary module{QStringLiteral(VXCAM_MODULE_DIR "/vxCam_160")};
    CameraDeleteFunction destroy = nullptr;
    CameraConfig config;
    IgnoreFrames callback;
    ICameraObject* camera = nullptr;
};

Harness* harness = nullptr; // one object for the whole run, as a host keeps it; set up once

bool identifierMayOpen(const QString& identifier) {
    const QStringList parts = identifier.split(QLatin1Char(' '));
    return parts.size() >= 2 && parts[0].toLower() == QLatin1String("veyra") && openableSerial(parts[1]);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    vxcam::fuzz::silenceQtLogging();
    harness = new Harness; // NOLINT(cppcoreguidelines-owning-memory): lives until the fuzzer exits
    const QString configPath = harness->dir.filePath(QStringLiteral("cameras.json"));
    QFile file(configPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(kTopology) < 0) {
        std::abort();
    }
    file.close();
    qputenv("VXCAM_SIM_CONFIG", configPath.toLocal8Bit());
    if (!harness->module.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(harness->module.errorString()));
        std::abort();
    }
    const auto create = reinterpret_cast<CameraCreateFunction>(harness->module.resolve("Camera_Create")); // NOLINT
    harness->destroy = reinterpret_cast<CameraDeleteFunction>(harness->module.resolve("Camera_Delete"));  // NOLINT
    if (create == nullptr || harness->destroy == nullptr) {
        std::abort();
    }
    harness->camera = create(&harness->config, &harness->callback);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<int>(size)); // NOLINT
    ICameraObject& camera = *harness->camera;
    harness->config.cameraId = QString::fromUtf8(input);

    const int32_t opened = camera.IOpenCamera();
    if (opened != 0 && opened != 1) {
        vxcam::fuzz::violated("IOpenCamera answered neither 0 nor 1", input);
    }
    if ((opened == 1) != camera.m_bOpened) {
        vxcam::fuzz::violated("IOpenCamera's answer and m_bOpened disagree", input);
    }
    if ((opened == 1) != identifierMayOpen(harness->config.cameraId)) {
        vxcam::fuzz::violated(opened == 1 ? "a camera opened for an identifier that names none"
                                          : "a configured camera did not open",
                              input);
    }
    camera.ICloseCamera();
    if (camera.m_bOpened) {
        vxcam::fuzz::violated("still opened after ICloseCamera", input);
    }
    return 0;
}
