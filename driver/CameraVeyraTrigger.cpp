// Trigger modes and acquisition control: programming the camera's trigger, starting and stopping
// acquisition, software triggers.
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

using vxcam::guardSdk;

namespace {

void execute(sdk::Device* device, const char* command) {
    device->GetRemoteNode(command)->Execute();
}

void write(sdk::Device* device, const char* feature, const char* value) {
    device->GetRemoteNode(feature)->SetString(value);
}

// The camera's own name for its software trigger source: "SoftwareTrigger" where it offers that entry,
// "Software" otherwise.
const char* softwareTriggerSource(sdk::Device* device) {
    return device->GetRemoteNode("TriggerSource")->GetEnumNodeList()->GetNodePresent("SoftwareTrigger")
               ? "SoftwareTrigger"
               : "Software";
}

struct TriggerProgram {
    const char* method;    // for the three lines of an SDK error
    const char* qualified; // for the success line
    const char* triggerMode;
    bool softwareSource; // else "Line0"
    const char* message;
};

constexpr TriggerProgram kOutTrigger{"setDeviceOutTrigger", "CCameraVeyra::setDeviceOutTrigger", "On", false,
                                     "Set out trigger successful."};
constexpr TriggerProgram kAutoTrigger{"setDeviceAutoTrigger", "CCameraVeyra::setDeviceAutoTrigger", "Off", false,
                                      "Set auto trigger successful."};
constexpr TriggerProgram kSoftTrigger{"setDeviceSoftTrigger", "CCameraVeyra::setDeviceSoftTrigger", "On", true,
                                      "Set soft trigger successful."};

// Acquisition is aborted (where the camera can) and stopped before the trigger changes, then started again
// once the streams run. Nothing is rolled back after a failure.
template <typename StartStreams>
bool programTrigger(sdk::Device* device, const TriggerProgram& program, StartStreams startStreams) {
    return guardSdk(program.method, false, [&] {
        if (device->GetRemoteNodeList()->GetNodePresent("AcquisitionAbort")) {
            execute(device, "AcquisitionAbort");
        }
        execute(device, "AcquisitionStop");
        write(device, "TriggerMode", program.triggerMode);
        write(device, "TriggerSource", program.softwareSource ? softwareTriggerSource(device) : "Line0");
        if (!startStreams(device)) {
            return false;
        }
        execute(device, "AcquisitionStart");
        qCDebug(vxcam::lcDriver()) << program.message << " - " << program.qualified;
        return true;
    });
}

// Modes whose routine makes frames flow.
bool deliversFrames(int32_t mode) noexcept {
    return mode >= LineTrigger && mode <= SoftTrigger;
}

} // namespace

bool CCameraVeyra::setDeviceOutTrigger(sdk::Device* device) {
    return programTrigger(device, kOutTrigger, &CCameraVeyra::startDeviceDataStream);
}

bool CCameraVeyra::setDeviceAutoTrigger(sdk::Device* device) {
    return programTrigger(device, kAutoTrigger, &CCameraVeyra::startDeviceDataStream);
}

bool CCameraVeyra::setDeviceSoftTrigger(sdk::Device* device) {
    return programTrigger(device, kSoftTrigger, &CCameraVeyra::startDeviceDataStream);
}

bool CCameraVeyra::applyTriggerMode(int32_t mode) {
    switch (mode) {
    case LineTrigger:
        return setDeviceOutTrigger(m_pDevice);
    case FreeRun:
    case FreeRunResetFrameId:
        return setDeviceAutoTrigger(m_pDevice);
    case SoftTrigger:
        return setDeviceSoftTrigger(m_pDevice);
    default:
        return stopDeviceDataStream(m_pDevice);
    }
}

// The requested mode is applied when it differs from the applied one, and whenever the camera is not running
// (after a stop, or after a start that failed), so that a start always leaves the camera running or says it
// did not. A failed start records nothing, so the next one tries again.
int32_t CCameraVeyra::IStartCamera() {
    qCDebug(vxcam::lcDriver()) << "CCameraVeyra::IStartCamera";
    const vxcam::OperationTurn turn(*m_pDeliveryGate);
    if (!turn.held() || !m_bOpened || m_pDevice == nullptr) {
        return 0;
    }
    ++m_nStartCount;
    const int32_t requested = m_nTriggerMode;
    if (requested == m_nAppliedTriggerMode && m_bRunning) {
        return 1;
    }
    // Frames of the old programming do not reach the host while the camera is reprogrammed.
    stopFramesAndWait();
    const bool applied = applyTriggerMode(requested);
    if (requested == FreeRunResetFrameId) {
        m_nFrameId.store(0, std::memory_order_relaxed);
    }
    m_bRunning = applied;
    if (!applied) {
        return 0;
    }
    m_nAppliedTriggerMode = requested;
    if (deliversFrames(requested)) {
        m_pDeliveryGate->acceptFrames();
    }
    return 1;
}

void CCameraVeyra::IStopCamera() {
    const vxcam::OperationTurn turn(*m_pDeliveryGate);
    // Without the turn, another thread's stop or close is under way and has closed the gate already.
    if (turn.held()) {
        stopCamera();
    }
}

void CCameraVeyra::stopCamera() {
    stopFramesAndWait();
    if (m_pDevice != nullptr) {
        stopDeviceDataStream(m_pDevice);
    }
    m_bRunning = false;
}

// Once this returns, no OnImageReady of this object runs (but the one this call is made from) or can start.
void CCameraVeyra::stopFramesAndWait() {
    m_pDeliveryGate->stopFrames();
    m_pDeliveryGate->awaitDeliveriesEnded();
}

// The camera's acquisition runs again afterwards, so its frames reach the host again too.
void CCameraVeyra::ISetSoftTriggerMode() {
    const vxcam::OperationTurn turn(*m_pDeliveryGate);
    if (!turn.held() || m_pDevice == nullptr || !setDeviceSoftTrigger(m_pDevice)) {
        return;
    }
    m_pDeliveryGate->acceptFrames();
    if (m_nAppliedTriggerMode == LineTrigger) {
        ISendSoftTrigger();
    }
}

int32_t CCameraVeyra::ISendSoftTrigger() {
    const vxcam::OperationTurn turn(*m_pDeliveryGate);
    if (!turn.held() || m_pDevice == nullptr) {
        return 0;
    }
    return guardSdk("ISendSoftTrigger", 0, [this] {
        execute(m_pDevice, "TriggerSoftware");
        return 1;
    });
}
