// Exposure time: from the configuration (InitProperty) or from a property record (ISetProperty).
#include "driver/CameraVeyra.h"
#include "driver/DriverLogging.h"
#include "driver/SdkErrorReport.h"
#include "sdk/Sdk.h"

#include <cmath>
#include <cstdint>
#include <limits>

using vxcam::guardSdk;

namespace {

constexpr int32_t kExposurePropertyId = 1;
constexpr const char* kNoExposureFeature =
    R"(The camera has no exposure feature ("ExposureTime" or "ExposureTimeAbs"); nothing written.)";

// A limit truncated toward zero into 32 bits. Limits beyond the 32-bit range saturate; a limit that is not a
// number limits nothing.
int32_t truncatedLimit(double limit, int32_t unbounded) noexcept {
    if (std::isnan(limit)) {
        return unbounded;
    }
    constexpr double kLowest = std::numeric_limits<int32_t>::min();
    constexpr double kHighest = std::numeric_limits<int32_t>::max();
    if (limit <= kLowest) {
        return std::numeric_limits<int32_t>::min();
    }
    if (limit >= kHighest) {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(limit);
}

} // namespace

// "ExposureTime" takes any value as it stands; the older "ExposureTimeAbs" only one inside its truncated
// limits, with a line either way. SDK errors reach the caller.
CCameraVeyra::ExposureWrite CCameraVeyra::writeExposure(int32_t value, const char* method) {
    sdk::NodeMap* features = m_pDevice->GetRemoteNodeList();
    if (features->GetNodePresent("ExposureTime")) {
        m_pDevice->GetRemoteNode("ExposureTime")->SetDouble(static_cast<double>(value));
        return ExposureWrite::Written;
    }
    if (!features->GetNodePresent("ExposureTimeAbs")) {
        return ExposureWrite::NoFeature;
    }
    const int32_t min = truncatedLimit(m_pDevice->GetRemoteNode("ExposureTimeAbs")->GetDoubleMin(),
                                       std::numeric_limits<int32_t>::min());
    const int32_t max = truncatedLimit(m_pDevice->GetRemoteNode("ExposureTimeAbs")->GetDoubleMax(),
                                       std::numeric_limits<int32_t>::max());
    if (value < min || value > max) {
        qCWarning(vxcam::lcDriver()) << QStringLiteral("Invalid exposure time value:%1.").arg(value) << " - " << method;
        return ExposureWrite::Refused;
    }
    m_pDevice->GetRemoteNode("ExposureTimeAbs")->SetDouble(static_cast<double>(value));
    qCDebug(vxcam::lcDriver()) << QStringLiteral("Set exposure time value:%1 successfully.").arg(value) << " - "
                               << method;
    return ExposureWrite::Written;
}

// Only the exposure time is a property here; any other is accepted and ignored. The answer says whether the
// camera now holds the value: false without an open camera, for a value refused by the driver's limits test or
// by the camera (an SDK error), and for a camera without an exposure feature, which is also logged, since no
// other line would say why.
bool CCameraVeyra::ISetProperty(CameraProperty* property) {
    if (property == nullptr) {
        return false;
    }
    if (property->propertyId != kExposurePropertyId) {
        return true;
    }
    const vxcam::Call call(m_life, "ISetProperty");
    if (!call.admitted() || m_pDevice == nullptr) {
        return false;
    }
    const int32_t value = property->value;
    const ExposureWrite outcome = guardSdk("ISetProperty", ExposureWrite::Refused, [this, value] {
        m_life.insideTheCall();
        return writeExposure(value, "CCameraVeyra::ISetProperty");
    });
    if (outcome == ExposureWrite::NoFeature) {
        qCWarning(vxcam::lcDriver()) << kNoExposureFeature << " - "
                                     << "CCameraVeyra::ISetProperty";
    }
    return outcome == ExposureWrite::Written;
}

// Writes the configured exposure; the contract gives it no answer, so a camera without an exposure feature
// passes in silence here.
void CCameraVeyra::InitProperty() {
    const vxcam::Call call(m_life, "InitProperty");
    if (!call.admitted() || m_pDevice == nullptr || m_pConfig == nullptr) {
        return;
    }
    const int32_t value = m_pConfig->exposureTime;
    guardSdk("InitProperty", [this, value] {
        m_life.insideTheCall();
        static_cast<void>(writeExposure(value, "CCameraVeyra::InitProperty"));
    });
}
