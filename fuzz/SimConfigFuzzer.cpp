// Fuzzes the simulated producer's configuration: the input is parsed as the camera file, and a file that parses
// is handed to the SDK, which builds the systems, interfaces and devices from it; the fuzzer then walks them and
// opens and closes every device. Injected faults the file asks for are SDK errors and are expected.
#include "fuzz/FuzzSupport.h"
#include "sdk/Sdk.h"
#include "sdk/core/PixelFormats.h"
#include "sdk/sim/SimConfig.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

QTemporaryDir* folder = nullptr; // the camera file's folder for the whole run

// The SDK renders each camera's frame when it builds it. A file may ask for up to 1 GiB a camera, which is
// honoured; the fuzzer only hands the SDK files whose frames fit its memory limit, and parses the rest.
constexpr uint64_t kMaxFrameBytes = uint64_t{4} << 20U;

uint64_t frameBytes(const sdk::sim::SimConfig& config) {
    uint64_t total = 0;
    for (const auto& system : config.systems) {
        for (const auto& iface : system.interfaces) {
            for (const auto& device : iface.devices) {
                const sdk::core::PixelFormatInfo* format = sdk::core::findPixelFormat(device.pixelFormat);
                total += device.payloadSize != 0 ? device.payloadSize
                         : format != nullptr     ? sdk::core::framePayloadSize(*format, device.width, device.height)
                                                 : uint64_t{device.width} * device.height;
            }
        }
    }
    return total;
}

void openAndClose(sdk::Device& device) {
    static_cast<void>(device.GetSerialNumber());
    static_cast<void>(device.GetModel());
    if (!device.IsOpen()) {
        device.Open();
    }
    if (sdk::Node* format = device.GetRemoteNode("PixelFormat")) {
        static_cast<void>(format->GetString());
    }
    device.Close();
}

void walk(sdk::SystemList& systems) {
    for (auto& [systemId, system] : systems) {
        system->Open();
        sdk::InterfaceList* interfaces = system->GetInterfaces();
        if (interfaces == nullptr) {
            continue;
        }
        for (auto& [interfaceId, iface] : *interfaces) {
            iface->Open();
            sdk::DeviceList* devices = iface->GetDevices();
            if (devices == nullptr) {
                continue;
            }
            for (auto& [deviceId, device] : *devices) {
                openAndClose(*device);
            }
        }
    }
}

// Each SDK call of the walk may raise an injected fault; the walk goes on with the next stage.
void walkThroughFaults(const QString& path) {
    qputenv("VXCAM_SIM_CONFIG", path.toLocal8Bit());
    try {
        if (sdk::SystemList* systems = sdk::SystemList::GetInstance()) {
            walk(*systems);
        }
    } catch (const sdk::Exceptions::IException&) {
    }
    sdk::SystemList::ReleaseInstance();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    vxcam::fuzz::silenceQtLogging();
    folder = new QTemporaryDir; // NOLINT(cppcoreguidelines-owning-memory): lives until the fuzzer exits
    qunsetenv("VXCAM_TRANSPORTS");
    qunsetenv("VXCAM_SIM_TRACE");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray json(reinterpret_cast<const char*>(data), static_cast<int>(size)); // NOLINT
    QString error;
    const std::optional<sdk::sim::SimConfig> config = sdk::sim::parseSimConfig(json, error);
    if (!config && error.isEmpty()) {
        vxcam::fuzz::violated("a refused configuration without a reason", json);
    }
    if (!config || frameBytes(*config) > kMaxFrameBytes) {
        return 0;
    }
    const QString path = folder->filePath(QStringLiteral("cameras.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(json) != json.size()) {
        std::abort();
    }
    file.close();
    walkThroughFaults(path);
    return 0;
}
