// The module's suites once per producer that stands in for a camera without hardware: the simulated producer,
// Aravis's in-process virtual camera, and the simulated cameras through the GenTL transport. The transport is the
// test's parameter, alone or paired with the test's own case. The session's trace and injected faults work on every
// producer, so a test reads the same trace lines on both; only the camera differs: the simulated one is the test's own
// (its serial, its shape), the virtual one is Aravis's fake camera, always the same.
#pragma once

#include "tests/support/ModuleFixture.h"
#include "tests/support/SdkInspection.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace vxcam::test {

struct Transport {
    const char* name; // as VXCAM_TRANSPORTS names it
    bool simulated;   // the simulated producer, which builds the camera the test describes
    // The file's topology comes through whole: several systems, and lists that answer null. A GenTL producer
    // has one system, and GenTL has no list that answers null.
    bool wholeFile = simulated;
    friend std::ostream& operator<<(std::ostream& out, const Transport& t) { return out << t.name; }
};

inline constexpr Transport kSimulatedTransport{"sim", true};
inline constexpr Transport kVirtualTransport{"virtual", false};
// Any GenTL producer; here our simulated cameras as one (vxcam-sim.cti, found through GENICAM_GENTL64_PATH), so
// the camera is the test's own as on "sim".
inline constexpr Transport kGentlTransport{"gentl", true, false};

// The serial Aravis's virtual camera reports.
inline constexpr const char* kVirtualSerial = "1";

// The virtual camera's shape, as it reports it: 512 x 512 Mono8 at 25 frames per second, software and line
// trigger, no "AcquisitionAbort", exposure through "ExposureTimeAbs" within 10 .. 10000000.
inline constexpr int kVirtualWidth = 512;
inline constexpr int kVirtualHeight = 512;

// Every transport a suite runs on, for ::testing::ValuesIn.
const std::vector<Transport>& allTransports();

// Test names: the transport's alone, or (for a pair) the transport's, an underscore and what
// `caseName(case, index)` gives.
std::string transportName(const ::testing::TestParamInfo<Transport>& info);
template <typename CaseNamer>
auto transportAnd(CaseNamer caseName) {
    return [caseName](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + caseName(std::get<1>(info.param), info.index);
    };
}

// The module fixture with the transport of the test: every set-up it makes (`camera`, `openCamera`) offers the
// test's transport alone; the configuration file still holds the faults the test injects.
class TransportFixture : public ModuleFixture {
protected:
    [[nodiscard]] virtual const Transport& transport() const = 0;

    void SetUp() override;

    [[nodiscard]] bool simulated() const { return transport().simulated; }
    [[nodiscard]] bool wholeFile() const { return transport().wholeFile; }
    // The camera's serial on this transport: `simulatedSerial` where the test describes the camera, the fake
    // camera's own on the virtual producer.
    [[nodiscard]] QString serial(const QString& simulatedSerial) const;
    [[nodiscard]] QString cameraId(const QString& simulatedSerial) const;
    // The session's one device with that serial; null (and a failure) when there is not exactly one.
    [[nodiscard]] sdk::Device* device(const QString& simulatedSerial) const;
};

class OnTransport : public TransportFixture, public ::testing::WithParamInterface<Transport> {
protected:
    [[nodiscard]] const Transport& transport() const override { return GetParam(); }
};

// A suite whose own cases run on every transport: the parameter is (transport, case).
template <typename Case>
class OnTransportWith : public TransportFixture, public ::testing::WithParamInterface<std::tuple<Transport, Case>> {
protected:
    [[nodiscard]] const Transport& transport() const override { return std::get<0>(this->GetParam()); }
    [[nodiscard]] const Case& testCase() const { return std::get<1>(this->GetParam()); }
};

} // namespace vxcam::test
