#include "host/SdkCameraDetails.h"

#include "sdk/Sdk.h"

#include <array>
#include <utility>

namespace vxcam::host {
namespace {

// The SDK layer lists no names of an enumeration's entries, only whether one is present, so the tool asks for
// the names cameras use. Entries it cannot name are counted.
constexpr std::array kPixelFormatNames{"Mono8",           "Mono10",
                                       "Mono10p",         "Mono10Packed",
                                       "Mono12",          "Mono12p",
                                       "Mono12Packed",    "Mono14",
                                       "Mono16",          "RGB8",
                                       "RGB8Packed",      "BGR8",
                                       "BGR8Packed",      "RGBa8",
                                       "BGRa8",           "RGB10",
                                       "RGB12",           "RGB16",
                                       "BayerRG8",        "BayerGB8",
                                       "BayerGR8",        "BayerBG8",
                                       "BayerRG10",       "BayerGB10",
                                       "BayerGR10",       "BayerBG10",
                                       "BayerRG10p",      "BayerGB10p",
                                       "BayerGR10p",      "BayerBG10p",
                                       "BayerRG12",       "BayerGB12",
                                       "BayerGR12",       "BayerBG12",
                                       "BayerRG12p",      "BayerGB12p",
                                       "BayerGR12p",      "BayerBG12p",
                                       "BayerRG12Packed", "BayerGB12Packed",
                                       "BayerGR12Packed", "BayerBG12Packed",
                                       "BayerRG16",       "BayerGB16",
                                       "BayerGR16",       "BayerBG16",
                                       "YUV411Packed",    "YUV422Packed",
                                       "YUV444Packed",    "YUV422_8",
                                       "YUV422_8_UYVY",   "YUV411_8_UYYVYY",
                                       "YUV8_UYV",        "BayerRGB8Packed"};
constexpr std::array kTriggerSourceNames{"Line0",   "Line1",   "Line2",       "Line3",     "Line4",
                                         "Line5",   "Line6",   "Line7",       "Software",  "SoftwareTrigger",
                                         "Action0", "Action1", "Counter0End", "Timer0End", "FrequencyConverter"};

QString textOf(const sdk::String& text) {
    return QString::fromUtf8(text.get());
}

QString reasonOf(const sdk::Exceptions::IException& error) {
    return QStringLiteral("%1 (%2 in %3)")
        .arg(textOf(error.GetErrorDescription()), textOf(error.GetType()), textOf(error.GetFunctionName()));
}

// Runs `read`; an SDK error becomes one line of `problems` naming `what`.
template <typename Read>
void tryRead(QStringList& problems, const QString& what, Read&& read) {
    try {
        std::forward<Read>(read)();
    } catch (const sdk::Exceptions::IException& error) {
        problems << QStringLiteral("%1: %2").arg(what, reasonOf(error));
    }
}

template <std::size_t N>
QStringList presentEntries(sdk::Node& node, const std::array<const char*, N>& names, uint64_t& entries) {
    QStringList present;
    sdk::NodeMap* map = node.GetEnumNodeList();
    if (map == nullptr) {
        return present;
    }
    entries = map->GetNodeCount();
    for (const char* name : names) {
        if (map->GetNodePresent(name)) {
            present << QLatin1String(name);
        }
    }
    return present;
}

// The device with `serial`, walking systems, interfaces and devices in the module's order; `transport` is
// given its system's transport-layer type ("GEV", "U3V", ...).
sdk::Device* findDevice(sdk::SystemList& systems, const std::string& serial, QString* transport = nullptr) {
    for (auto& system : systems) {
        if (!system.second->IsOpen()) {
            system.second->Open();
        }
        sdk::InterfaceList* interfaces = system.second->GetInterfaces();
        if (interfaces == nullptr) {
            continue;
        }
        interfaces->Refresh(100);
        for (auto& iface : *interfaces) {
            if (!iface.second->IsOpen()) {
                iface.second->Open();
            }
            sdk::DeviceList* devices = iface.second->GetDevices();
            if (devices == nullptr) {
                continue;
            }
            devices->Refresh(100);
            for (auto& device : *devices) {
                if (textOf(device.second->GetSerialNumber()).toStdString() == serial) {
                    if (transport != nullptr) {
                        *transport = textOf(system.second->GetTLType());
                    }
                    return device.second;
                }
            }
        }
    }
    return nullptr;
}

void readFeatures(sdk::Device& device, SdkCameraDetails& details) {
    QStringList& problems = details.problems;
    tryRead(problems, QStringLiteral("PixelFormat"), [&] {
        sdk::Node* node = device.GetRemoteNode("PixelFormat");
        details.pixelFormat = textOf(node->GetString());
        details.pixelFormats = presentEntries(*node, kPixelFormatNames, details.pixelFormatEntries);
    });
    tryRead(problems, QStringLiteral("TriggerSource"), [&] {
        sdk::NodeMap* features = device.GetRemoteNodeList();
        if (features != nullptr && !features->GetNodePresent("TriggerSource")) {
            return;
        }
        sdk::Node* node = device.GetRemoteNode("TriggerSource");
        details.triggerSources = presentEntries(*node, kTriggerSourceNames, details.triggerSourceEntries);
    });
    tryRead(problems, QStringLiteral("exposure"), [&] {
        sdk::NodeMap* features = device.GetRemoteNodeList();
        for (const char* name : {"ExposureTime", "ExposureTimeAbs"}) {
            if (features == nullptr || !features->GetNodePresent(name)) {
                continue;
            }
            sdk::Node* node = device.GetRemoteNode(name);
            details.exposureFeature = QLatin1String(name);
            details.exposureMin = node->GetDoubleMin();
            details.exposureMax = node->GetDoubleMax();
            details.exposureValue = node->GetDouble();
            return;
        }
    });
}

// Takes the SDK's system list for the read and gives it back on every way out.
class SystemListTurn {
public:
    SystemListTurn() : m_pSystems(sdk::SystemList::GetInstance()) {}
    ~SystemListTurn() {
        try {
            sdk::SystemList::ReleaseInstance();
        } catch (const sdk::Exceptions::IException&) {
            // Nothing is left to give back; the tool ends soon after.
        }
    }
    SystemListTurn(const SystemListTurn&) = delete;
    SystemListTurn& operator=(const SystemListTurn&) = delete;
    [[nodiscard]] sdk::SystemList* get() const noexcept { return m_pSystems; }

private:
    sdk::SystemList* m_pSystems;
};

} // namespace

std::optional<SdkCameraDetails> readSdkCameraDetails(const QString& serial, QString& error) {
    try {
        const SystemListTurn systems;
        if (systems.get() == nullptr) {
            error = QStringLiteral("the SDK layer offers no system");
            return std::nullopt;
        }
        sdk::Device* device = findDevice(*systems.get(), serial.toStdString());
        if (device == nullptr) {
            error = QStringLiteral("the SDK layer reaches no camera with the serial number '%1'").arg(serial);
            return std::nullopt;
        }
        SdkCameraDetails details;
        details.model = textOf(device->GetModel());
        details.serial = textOf(device->GetSerialNumber());
        device->Open();
        readFeatures(*device, details);
        device->Close();
        return details;
    } catch (const sdk::Exceptions::IException& sdkError) {
        error = QStringLiteral("the SDK layer failed: %1").arg(reasonOf(sdkError));
        return std::nullopt;
    }
}

namespace {

// Writes the pixel format the user chose; false, with `refusal` set, when the camera does not offer it.
bool writePixelFormat(sdk::Device& device, const QString& pixelFormat, SdkSettingsHold::Refusal& refusal) {
    sdk::Node* node = device.GetRemoteNode("PixelFormat");
    const QByteArray name = pixelFormat.toUtf8();
    sdk::NodeMap* entries = node->GetEnumNodeList();
    if (entries != nullptr && !entries->GetNodePresent(name.constData())) {
        uint64_t count = 0;
        const QStringList offered = presentEntries(*node, kPixelFormatNames, count);
        refusal = {false, QStringLiteral("it offers no pixel format '%1'; it offers %2")
                              .arg(pixelFormat, offered.isEmpty() ? QStringLiteral("none the tool can name")
                                                                  : offered.join(QStringLiteral(", ")))};
        return false;
    }
    node->SetString(sdk::String(name.constData()));
    return true;
}

// Writes the stream packet size the user chose; false, with `refusal` set, when the camera has none. A size
// outside the camera's limits raises the SDK's error.
bool writePacketSize(sdk::Device& device, const QString& transport, int64_t packetSize,
                     SdkSettingsHold::Refusal& refusal) {
    sdk::NodeMap* features = device.GetRemoteNodeList();
    // Only a GigE Vision camera's packets cross a network (Aravis's virtual camera shows the feature too).
    if (transport != QLatin1String("GEV") || features == nullptr || !features->GetNodePresent("GevSCPSPacketSize")) {
        refusal = {false, QStringLiteral("it has no stream packet size (GevSCPSPacketSize): it is reached through "
                                         "%1, and only GigE Vision cameras have one")
                              .arg(transport.isEmpty() ? QStringLiteral("an unnamed transport") : transport)};
        return false;
    }
    device.GetRemoteNode("GevSCPSPacketSize")->SetInt(packetSize);
    return true;
}

} // namespace

std::unique_ptr<SdkSettingsHold> SdkSettingsHold::choose(const QString& serial, const SdkSettings& settings,
                                                         Refusal& refusal) {
    // The hold's own share of the system list; given back by the destructor, or here on every failure.
    std::unique_ptr<SdkSettingsHold> hold(new SdkSettingsHold());
    try {
        sdk::SystemList* systems = sdk::SystemList::GetInstance();
        if (systems == nullptr) {
            refusal = {true, QStringLiteral("the SDK layer offers no system")};
            return nullptr;
        }
        QString transport;
        sdk::Device* device = findDevice(*systems, serial.toStdString(), &transport);
        if (device == nullptr) {
            refusal = {true, QStringLiteral("the SDK layer reaches no camera with the serial number '%1'").arg(serial)};
            return nullptr;
        }
        try {
            device->Open();
        } catch (const sdk::Exceptions::IException& error) {
            refusal = {true, QStringLiteral("it did not open: %1").arg(reasonOf(error))};
            return nullptr;
        }
        if (!settings.pixelFormat.isEmpty() && !writePixelFormat(*device, settings.pixelFormat, refusal)) {
            return nullptr;
        }
        if (settings.packetSize && !writePacketSize(*device, transport, *settings.packetSize, refusal)) {
            return nullptr;
        }
        return hold;
    } catch (const sdk::Exceptions::IException& error) {
        refusal = {false, QStringLiteral("the SDK layer failed: %1").arg(reasonOf(error))};
        return nullptr;
    }
}

// The module's close closed the device and the deletion of its last camera object ended the SDK's session;
// what is left is the hold's share, which a release after that end finds already given back.
SdkSettingsHold::~SdkSettingsHold() {
    try {
        sdk::SystemList::ReleaseInstance();
    } catch (const sdk::Exceptions::IException&) {
        // Nothing is left to give back; the tool ends soon after.
    }
}

} // namespace vxcam::host
