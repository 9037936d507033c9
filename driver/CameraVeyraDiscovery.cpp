// Discovery, opening and closing: the walk over systems, interfaces and devices, and what is done with the
// device that carries the configured serial number.
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

using vxcam::guardSdk;

namespace {

QString textOf(const sdk::String& text) {
    return QString::fromUtf8(text.get());
}

// "veyra", one blank, the serial number exactly as the SDK gives it.
QString cameraIdentifier(const sdk::String& serial) {
    return QStringLiteral("%1 %2").arg(QStringLiteral("veyra"), textOf(serial));
}

} // namespace

// ---- the walk --------------------------------------------------------------------------------------------

bool CCameraVeyra::openSystem(sdk::System* system) {
    return guardSdk("openSystem", false, [system] {
        if (!system->IsOpen()) {
            system->Open();
        }
        return true;
    });
}

sdk::InterfaceList* CCameraVeyra::getSystemInterfaces(sdk::System* system) {
    return guardSdk("getSystemInterfaces", static_cast<sdk::InterfaceList*>(nullptr), [system] {
        sdk::InterfaceList* interfaces = system->GetInterfaces();
        if (interfaces != nullptr) {
            interfaces->Refresh(100);
        }
        return interfaces;
    });
}

bool CCameraVeyra::openInterface(sdk::Interface* iface) {
    return guardSdk("openInterface", false, [iface] {
        if (!iface->IsOpen()) {
            iface->Open();
        }
        return true;
    });
}

sdk::DeviceList* CCameraVeyra::getDevices(sdk::Interface* iface) {
    return guardSdk("getDevices", static_cast<sdk::DeviceList*>(nullptr), [iface] {
        sdk::DeviceList* devices = iface->GetDevices();
        if (devices != nullptr) {
            devices->Refresh(100);
        }
        return devices;
    });
}

// Discovery and opening walk alike, so that both see the same devices in the same order. A system or an
// interface that fails hides only the devices behind it.
template <typename Visit>
void CCameraVeyra::forEachDeviceList(sdk::SystemList* systems, Visit&& visit) {
    for (auto system = systems->begin(); system != systems->end(); ++system) {
        if (!openSystem(system->second)) {
            continue;
        }
        sdk::InterfaceList* interfaces = getSystemInterfaces(system->second);
        if (interfaces == nullptr) {
            continue;
        }
        for (auto iface = interfaces->begin(); iface != interfaces->end(); ++iface) {
            if (!openInterface(iface->second)) {
                continue;
            }
            sdk::DeviceList* devices = getDevices(iface->second);
            if (devices != nullptr && visit(devices)) {
                return;
            }
        }
    }
}

QStringList CCameraVeyra::IEnumAvailableCameras() {
    QStringList identifiers;
    // An error of the walk itself ends it; what was gathered so far is the answer.
    guardSdk("IEnumAvailableCameras", [&identifiers] {
        sdk::SystemList* systems = systemListForDiscovery();
        if (systems == nullptr) {
            return;
        }
        forEachDeviceList(systems, [&identifiers](sdk::DeviceList* devices) {
            for (auto device = devices->begin(); device != devices->end(); ++device) {
                identifiers << cameraIdentifier(device->second->GetSerialNumber());
            }
            return false;
        });
    });
    return identifiers;
}

// ---- opening ---------------------------------------------------------------------------------------------

// A camera held from an earlier open is stopped and closed first, so that no device stays open out of reach;
// the camera found is a fresh one, not running.
int32_t CCameraVeyra::IOpenCamera() {
    qCWarning(vxcam::lcDriver()) << "start open veyra camera...";
    const vxcam::Call call(m_life, "IOpenCamera");
    if (!call.admitted()) {
        return 0;
    }
    if (m_pDevice != nullptr) {
        if (!quiesceFor("IOpenCamera")) {
            return 0;
        }
        stopCamera();
        closeCamera();
    }
    // A camera is opened only through a list this object counts itself a user of, so that no other object's
    // end releases the list (and the device) under it. An object that could not join at its creation tries again.
    if (!m_bJoinedSystemList) {
        joinSystemList("IOpenCamera");
    }
    if (!m_bJoinedSystemList || currentSystemList() == nullptr || m_pConfig == nullptr) {
        return 0;
    }
    // Cut at every blank, empty parts kept: the family word in any case, then the serial number as it stands.
    const QStringList parts = m_pConfig->cameraId.split(QLatin1Char(' '));
    if (parts.size() < 2 || parts.front().toLower() != QLatin1String("veyra")) {
        return 0;
    }
    const QString& serial = parts.at(1);
    if (!claimCamera(serial)) {
        qCWarning(vxcam::lcDriver()) << "Veyra camera(" << serial << ") is held by another camera object."
                                     << " - "
                                     << "CCameraVeyra::IOpenCamera";
        return 0;
    }
    m_heldSerial = serial;
    if (!openCamera(serial)) {
        releaseCamera();
        return 0;
    }
    m_bRunning = false;
    m_life.setState(vxcam::CameraLifecycle::State::Opened);
    return 1;
}

bool CCameraVeyra::openCamera(const QString& serial) {
    sdk::SystemList* systems = currentSystemList();
    return guardSdk("IOpenCamera", false, [&] {
        m_life.insideTheCall();
        forEachDeviceList(systems, [&](sdk::DeviceList* devices) {
            m_life.insideTheCall();
            m_pDevice = openDeviceBySerialNumber(devices, serial);
            if (m_pDevice == nullptr) {
                return false;
            }
            m_bOpened = true;
            qCDebug(vxcam::lcDriver()) << "Veyra camera(" << serial << ") open successed."
                                       << " - "
                                       << "CCameraVeyra::IOpenCamera";
            return true;
        });
        return m_pDevice != nullptr;
    });
}

// Tries every device of the list with the serial number, in list order, until one opens with its pixel format
// read and at least one data stream prepared.
sdk::Device* CCameraVeyra::openDeviceBySerialNumber(sdk::DeviceList* devices, const QString& serial) {
    return guardSdk("openDeviceBySerialNumber", static_cast<sdk::Device*>(nullptr), [&]() -> sdk::Device* {
        m_life.insideTheCall();
        for (auto entry = devices->begin(); entry != devices->end(); ++entry) {
            sdk::Device* device = entry->second;
            if (textOf(device->GetSerialNumber()) != serial || !openDevice(device)) {
                continue;
            }
            if (!setDeviceProperty(device) || setDeviceDataStream(device) == 0) {
                releasePreparedDevice(device);
                continue;
            }
            sdk::Device* const key = device;
            try {
                return (*devices)[entry->first];
            } catch (const sdk::Exceptions::IException&) {
                // The open answers 0: nothing it prepared may stay out of the reach of ICloseCamera.
                releasePreparedDevice(key);
                throw;
            }
        }
        return nullptr;
    });
}

// Streams this object prepared on `device` (possibly some of them, when the preparation failed part way) are
// closed and their pools freed before the device is closed; records of other devices are not this open's.
void CCameraVeyra::releasePreparedDevice(sdk::Device* device) {
    if (hasStreamsOf(device)) {
        clearDeviceDataStream(device);
    }
    closeDevice(device);
    forgetStreamsOf(device);
}

bool CCameraVeyra::openDevice(sdk::Device* device) {
    return guardSdk("openDevice", false, [device] {
        if (!device->IsOpen()) {
            device->Open();
        }
        return true;
    });
}

bool CCameraVeyra::closeDevice(sdk::Device* device) {
    return guardSdk("closeDevice", false, [device] {
        if (device->IsOpen()) {
            device->Close();
        }
        return true;
    });
}

// A pixel format outside the table is no failure: it leaves 0 in both members.
bool CCameraVeyra::setDeviceProperty(sdk::Device* device) {
    return guardSdk("setDeviceProperty", false, [this, device] {
        const QString pixelFormat = textOf(device->GetRemoteNode("PixelFormat")->GetString());
        int32_t bits = 0;
        m_nImageFormat = classifyPixelFormat(pixelFormat, bits);
        m_nBitsPerPixel = bits;
        return true;
    });
}

// ---- closing ---------------------------------------------------------------------------------------------

void CCameraVeyra::ICloseCamera() {
    const vxcam::Call call(m_life, "ICloseCamera");
    if (call.admitted() && quiesceFor("ICloseCamera")) {
        closeCamera();
    }
}

// Frames stop reaching the host before the streams and their buffers go. m_bRunning keeps its value, as hosts
// know it; the camera is no longer acquiring all the same.
void CCameraVeyra::closeCamera() {
    m_life.quiesce();
    m_frameErrors.flush(); // the counts of this session's frame errors are not carried into the next
    if (m_pDevice != nullptr) {
        clearDeviceDataStream(m_pDevice);
        closeDevice(m_pDevice);
        forgetStreamsOf(m_pDevice); // ended by the device's close, whatever their own closes answered
        m_pDevice = nullptr;
    }
    releaseCamera();
    m_bOpened = false;
    m_life.setState(vxcam::CameraLifecycle::State::Closed);
}
