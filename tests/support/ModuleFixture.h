// A test fixture over the module loaded as a host loads it: one simulated set-up (the camera file, its faults and
// the trace), one camera object.
#pragma once

#include "tests/support/FrameRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

namespace vxcam::test {

class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A fresh set-up from `json` and a fresh object with `cameraId` configured; trace and log start empty.
    ICameraObject& camera(const QString& json, const QString& cameraId = {});
    // The same, opened; trace and log start empty after the opening.
    ICameraObject& openCamera(const QString& json, const QString& cameraId);

    // The trace without arguments ("call<TAB>object" a line), or with them.
    [[nodiscard]] QStringList calls() const;
    [[nodiscard]] QStringList callsWithArguments() const;

    ModuleLoader m_module;
    CameraConfig m_config;
    FrameRecorder m_frames;
    std::unique_ptr<SimEnvironment> m_sim;
    ModuleLoader::Camera m_camera{nullptr, {nullptr}};
    LogCapture m_log;
    // What VXCAM_TRANSPORTS names for each set-up `camera` makes: the simulated producer unless a test chooses
    // another one.
    QByteArray m_transports{"sim"};
};

} // namespace vxcam::test
