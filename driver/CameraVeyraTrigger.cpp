// Trigger modes and acquisition control: programming the camera's trigger, starting and stopping
// acquisition, software triggers.
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <string>

using vxcam::guardSdk;
using State = vxcam::CameraLifecycle::State;

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
    return programTrigger(device, kOutTrigger, [this](sdk::Device* d) { return startDeviceDataStream(d); });
}

bool CCameraVeyra::setDeviceAutoTrigger(sdk::Device* device) {
    return programTrigger(device, kAutoTrigger, [this](sdk::Device* d) { return startDeviceDataStream(d); });
}

bool CCameraVeyra::setDeviceSoftTrigger(sdk::Device* device) {
    return programTrigger(device, kSoftTrigger, [this](sdk::Device* d) { return startDeviceDataStream(d); });
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

// An equal mode is applied again only when the camera does not run and the mode is one that delivers frames
// (after a stop, a close, or a start that failed), so that a start leaves the camera running or says it did
// not; an equal Idle sends nothing.
bool CCameraVeyra::needsApplying(int32_t requested) const {
    return requested != m_nAppliedTriggerMode || (!m_bRunning && deliversFrames(requested));
}

// A failed start records nothing, so the next one tries again; it answers 0.
int32_t CCameraVeyra::IStartCamera() {
    qCDebug(vxcam::lcDriver()) << "CCameraVeyra::IStartCamera";
    const vxcam::Call call(m_life, "IStartCamera");
    if (!call.admitted()) {
        return 0;
    }
    // Frames of the old programming do not reach the host while the camera is reprogrammed. A call from inside
    // OnImageReady may run while this one waits for that frame, so the decision is taken again afterwards.
    if (m_bOpened && m_pDevice != nullptr && needsApplying(m_nTriggerMode) && !quiesceFor("IStartCamera")) {
        return 0;
    }
    if (!m_bOpened || m_pDevice == nullptr) {
        return 0;
    }
    ++m_nStartCount;
    const int32_t requested = m_nTriggerMode;
    if (!needsApplying(requested)) {
        return 1;
    }
    const bool applied = applyTriggerMode(requested);
    if (requested == FreeRunResetFrameId) {
        m_nFrameId.store(0, std::memory_order_relaxed);
    }
    m_bRunning = applied;
    m_life.setState(applied && deliversFrames(requested) ? State::Acquiring : State::Opened);
    if (!applied) {
        return 0;
    }
    m_nAppliedTriggerMode = requested;
    return 1;
}

void CCameraVeyra::IStopCamera() {
    const vxcam::Call call(m_life, "IStopCamera");
    if (call.admitted() && quiesceFor("IStopCamera")) {
        stopCamera();
    }
}

void CCameraVeyra::stopCamera() {
    m_life.quiesce();
    // The frame path's report belongs to the delivery; a stop from inside another camera's callback may find
    // one still running on its own thread, which keeps the count for the next stop.
    if (!m_life.deliveryInProgress() || m_life.isDeliveringThread()) {
        m_frameErrors.flush("BufferReady");
    }
    if (m_pDevice != nullptr) {
        stopDeviceDataStream(m_pDevice);
        m_life.setState(State::Opened);
    }
    m_bRunning = false;
}

bool CCameraVeyra::quiesceFor(const char* method) {
    m_life.quiesce();
    if (!m_life.isDeleted()) {
        return true;
    }
    const std::string qualified = std::string("CCameraVeyra::") + method;
    qCWarning(vxcam::lcDriver()) << "the camera object was deleted from inside OnImageReady; the call is refused"
                                 << " - " << qualified.c_str();
    return false;
}

// The camera's acquisition runs again afterwards, so its frames reach the host again too. A reprogramming that
// failed leaves the camera stopped, and says so in m_bRunning.
void CCameraVeyra::ISetSoftTriggerMode() {
    const vxcam::Call call(m_life, "ISetSoftTriggerMode");
    if (!call.admitted() || m_pDevice == nullptr || !quiesceFor("ISetSoftTriggerMode") || m_pDevice == nullptr) {
        return;
    }
    if (!setDeviceSoftTrigger(m_pDevice)) {
        m_bRunning = false;
        m_life.setState(State::Opened);
        return;
    }
    m_life.setState(State::Acquiring);
    if (m_nAppliedTriggerMode == LineTrigger) {
        ISendSoftTrigger();
    }
}

int32_t CCameraVeyra::ISendSoftTrigger() {
    const vxcam::Call call(m_life, "ISendSoftTrigger");
    if (!call.admitted() || m_pDevice == nullptr) {
        return 0;
    }
    return guardSdk("ISendSoftTrigger", 0, [this] {
        execute(m_pDevice, "TriggerSoftware");
        return 1;
    });
}
