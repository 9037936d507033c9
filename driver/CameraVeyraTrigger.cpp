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
// once the streams run. Nothing is rolled back after a failure; `halted` says whether the camera's acquisition
// was aborted or stopped before it, so that the caller knows whether the camera still acquires.
template <typename StartStreams>
bool programTrigger(sdk::Device* device, const TriggerProgram& program, bool& halted, StartStreams startStreams) {
    halted = false;
    return guardSdk(program.method, false, [&] {
        if (device->GetRemoteNodeList()->GetNodePresent("AcquisitionAbort")) {
            execute(device, "AcquisitionAbort");
            halted = true;
        }
        execute(device, "AcquisitionStop");
        halted = true;
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
    bool halted = false;
    return setDeviceOutTrigger(device, halted);
}

bool CCameraVeyra::setDeviceAutoTrigger(sdk::Device* device) {
    bool halted = false;
    return setDeviceAutoTrigger(device, halted);
}

bool CCameraVeyra::setDeviceSoftTrigger(sdk::Device* device) {
    bool halted = false;
    return setDeviceSoftTrigger(device, halted);
}

bool CCameraVeyra::setDeviceOutTrigger(sdk::Device* device, bool& halted) {
    return programTrigger(device, kOutTrigger, halted, [this](sdk::Device* d) {
        m_life.insideTheCall();
        return startDeviceDataStream(d);
    });
}

bool CCameraVeyra::setDeviceAutoTrigger(sdk::Device* device, bool& halted) {
    return programTrigger(device, kAutoTrigger, halted, [this](sdk::Device* d) {
        m_life.insideTheCall();
        return startDeviceDataStream(d);
    });
}

bool CCameraVeyra::setDeviceSoftTrigger(sdk::Device* device, bool& halted) {
    return programTrigger(device, kSoftTrigger, halted, [this](sdk::Device* d) {
        m_life.insideTheCall();
        return startDeviceDataStream(d);
    });
}

// Idle's routine stops the streams: the camera delivers nothing afterwards, whatever the stop answered.
bool CCameraVeyra::applyTriggerMode(int32_t mode, bool& halted) {
    switch (mode) {
    case LineTrigger:
        return setDeviceOutTrigger(m_pDevice, halted);
    case FreeRun:
    case FreeRunResetFrameId:
        return setDeviceAutoTrigger(m_pDevice, halted);
    case SoftTrigger:
        return setDeviceSoftTrigger(m_pDevice, halted);
    default:
        halted = true;
        return stopDeviceDataStream(m_pDevice);
    }
}

// An equal mode is applied again only when the camera does not acquire and the mode is one that delivers frames
// (after a stop, a close, or a start that failed), so that a start leaves the camera running or says it did
// not; an equal Idle sends nothing. Whether the camera acquires is the lifecycle's state, not m_bRunning: after
// a stop, ISetSoftTriggerMode makes the camera acquire again (in software trigger, until a start in another
// mode) while m_bRunning still says the last start's stop.
bool CCameraVeyra::needsApplying(int32_t requested) const {
    return requested != m_nAppliedTriggerMode || (m_life.state() != State::Acquiring && deliversFrames(requested));
}

// The frames of a mode-3 start are numbered from 0, counted from the first one delivered after it; any other
// mode gives the camera's own numbers. Called once the call has quiesced: no frame passes the gate until it ends.
void CCameraVeyra::restartFrameNumbering(bool fromZero) noexcept {
    const vxcam::MutexLock lock(m_numberingMutex);
    m_frameNumbering = {fromZero, true, 0};
}

// A failed start records no mode, so the next one tries again; it answers 0. The object's state follows the
// camera: a routine that failed before it stopped the camera's acquisition leaves the camera as it was.
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
    bool halted = false;
    const bool applied = applyTriggerMode(requested, halted);
    if (applied || halted) {
        restartFrameNumbering(requested == FreeRunResetFrameId);
    }
    if (requested == FreeRunResetFrameId) {
        m_nFrameId.store(0, std::memory_order_relaxed);
    }
    m_bRunning = applied;
    if (applied) {
        m_life.setState(deliversFrames(requested) ? State::Acquiring : State::Opened);
        m_nAppliedTriggerMode = requested;
        return 1;
    }
    if (halted) {
        m_life.setState(State::Opened);
    }
    return 0;
}

void CCameraVeyra::IStopCamera() {
    const vxcam::Call call(m_life, "IStopCamera");
    if (call.admitted() && quiesceFor("IStopCamera")) {
        stopCamera();
    }
}

void CCameraVeyra::stopCamera() {
    m_life.quiesce();
    m_frameErrors.flush(); // a later start reports its frames' errors in full again
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

// The camera's acquisition runs again afterwards, so its frames reach the host again too; in trigger mode 3 they
// are numbered from 0 again, as after a start. A reprogramming that failed after it stopped the camera leaves it
// stopped, and says so in m_bRunning; one that failed before leaves the camera acquiring as it was, and the
// object with it.
void CCameraVeyra::ISetSoftTriggerMode() {
    const vxcam::Call call(m_life, "ISetSoftTriggerMode");
    if (!call.admitted() || m_pDevice == nullptr || !quiesceFor("ISetSoftTriggerMode") || m_pDevice == nullptr) {
        return;
    }
    bool halted = false;
    if (!setDeviceSoftTrigger(m_pDevice, halted)) {
        if (halted) {
            m_bRunning = false;
            m_life.setState(State::Opened);
        }
        return;
    }
    m_life.setState(State::Acquiring);
    if (m_nAppliedTriggerMode == FreeRunResetFrameId) {
        restartFrameNumbering(true);
    }
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
        m_life.insideTheCall();
        execute(m_pDevice, "TriggerSoftware");
        return 1;
    });
}
