#include "tests/support/ModuleFixture.h"

namespace vxcam::test {

void ModuleFixture::SetUp() {
    ASSERT_TRUE(m_module.loaded()) << m_module.errorString().toStdString();
}

void ModuleFixture::TearDown() {
    m_camera.reset();
    m_sim.reset();
}

ICameraObject& ModuleFixture::camera(const QString& json, const QString& cameraId) {
    m_camera.reset();
    m_sim.reset();
    m_sim = std::make_unique<SimEnvironment>(json);
    qputenv("VXCAM_TRANSPORTS", m_transports);
    m_config.cameraId = cameraId;
    m_camera = m_module.makeCamera(&m_config, &m_frames);
    m_sim->clearTrace();
    m_log.clear();
    return *m_camera;
}

ICameraObject& ModuleFixture::openCamera(const QString& json, const QString& cameraId) {
    ICameraObject& cam = camera(json, cameraId);
    EXPECT_EQ(cam.IOpenCamera(), 1) << cameraId.toStdString();
    m_sim->clearTrace();
    m_log.clear();
    return cam;
}

QStringList ModuleFixture::callsWithArguments() const {
    QStringList result;
    for (const QString& line : m_sim->trace()) {
        result << line.section(QLatin1Char('\t'), 0, 2);
    }
    return result;
}

QStringList ModuleFixture::calls() const {
    QStringList result;
    for (const QString& line : m_sim->trace()) {
        result << line.section(QLatin1Char('\t'), 0, 1);
    }
    return result;
}

} // namespace vxcam::test
