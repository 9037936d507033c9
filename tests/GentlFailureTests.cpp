// A GenTL producer that answers errors leaves the host running: the module lists, opens and grabs the cameras
// of the other producers, and says in clear lines which producer failed, at which step and with the producer's
// own description. The failing producer (tests/gentl/) refuses every call except those a case lets answer.
#include "tests/support/ModuleFixture.h"

#include <QDir>
#include <QFileInfo>

namespace vxcam::test {
namespace {

struct FailingCase {
    const char* name;
    const char* answers;      // the failing producer's functions that answer: how far a consumer gets
    bool listsItsCamera;      // its camera "BAD1" is listed
    const char* warningSays;  // a warning line holds this, or "" for none
    const char* criticalSays; // a critical line holds this, or "" for none
    const char* garbage = ""; // VXCAM_FAILING_CTI_GARBAGE: how the answers are broken
    const char* blocks = "";  // VXCAM_FAILING_CTI_BLOCKS: the function that never returns
    // What the failing producer's own camera's open failure says, where it has a camera.
    const char* ownCameraSays = "the failing producer refuses DevGetPort";
};

// The producer answers as far as opening its camera, whose port it refuses.
const FailingCase kNoPort{"NoPort",
                          "GCInitLib,TLOpen,TLUpdateInterfaceList,TLGetNumInterfaces,TLGetInterfaceID,TLOpenInterface,"
                          "IFUpdateDeviceList,IFGetNumDevices,IFGetDeviceID,IFGetDeviceInfo,IFOpenDevice",
                          true, "", ""};

// As kNoPort, but the port's call never returns.
const FailingCase kBlocksInPort{
    "BlocksInPort", kNoPort.answers, true, "", "", "", "DevGetPort", "DevGetPort did not return within 300 ms"};

QString failingCti() {
    return QFileInfo(QStringLiteral(VXCAM_SIM_CTI)).absolutePath() + QStringLiteral("/failing-cti/vxcam-failing.cti");
}

bool anyHolds(const QStringList& lines, const char* text) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const QString& line) { return line.contains(QLatin1String(text)); });
}

class GentlFailingProducer : public ModuleFixture, public ::testing::WithParamInterface<FailingCase> {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        m_transports = "gentl";
        qputenv("VXCAM_FAILING_CTI_ANSWERS", GetParam().answers);
        qputenv("VXCAM_FAILING_CTI_GARBAGE", GetParam().garbage);
        qputenv("VXCAM_FAILING_CTI_BLOCKS", GetParam().blocks);
        // A stuck call is given up after this long (the default, two seconds, would only slow the tests).
        qputenv("VXCAM_GENTL_CALL_TIMEOUT_MS", "300");
        // The failing producer first, so that its failures come before the good one is reached.
        qputenv("VXCAM_GENTL_CTI",
                (failingCti() + QDir::listSeparator() + QStringLiteral(VXCAM_SIM_CTI)).toLocal8Bit());
    }
    // As camera(), keeping what the producers said while the session was built (Camera_Create builds it).
    ICameraObject& cameraKeepingLog(const QString& json, const QString& cameraId) {
        m_camera.reset();
        m_sim.reset();
        m_log.clear();
        m_sim = std::make_unique<SimEnvironment>(json);
        qputenv("VXCAM_TRANSPORTS", m_transports);
        m_config.cameraId = cameraId;
        m_camera = m_module.makeCamera(&m_config, &m_frames);
        return *m_camera;
    }

    void TearDown() override {
        ModuleFixture::TearDown();
        qunsetenv("VXCAM_FAILING_CTI_ANSWERS");
        qunsetenv("VXCAM_FAILING_CTI_GARBAGE");
        qunsetenv("VXCAM_FAILING_CTI_BLOCKS");
        qunsetenv("VXCAM_GENTL_CALL_TIMEOUT_MS");
        qunsetenv("VXCAM_GENTL_CTI");
    }
};

TEST_P(GentlFailingProducer, TheOtherProducersCameraIsListedOpenedAndGrabbedWithClearLines) {
    const FailingCase& c = GetParam();
    ICameraObject& cam =
        cameraKeepingLog(simConfig({simDevice(QStringLiteral("SN1"), QStringLiteral(R"("frameRate": 200)"))}),
                         QStringLiteral("veyra SN1"));
    QStringList expected{QStringLiteral("veyra SN1")};
    if (c.listsItsCamera) {
        expected.prepend(QStringLiteral("veyra BAD1"));
    }
    EXPECT_EQ(cam.IEnumAvailableCameras(), expected);
    ASSERT_EQ(cam.IOpenCamera(), 1);
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(3));
    cam.IStopCamera();
    cam.ICloseCamera();

    const QStringList warnings = m_log.texts(QtWarningMsg);
    const QStringList critical = m_log.texts(QtCriticalMsg);
    if (*c.warningSays != '\0') {
        EXPECT_TRUE(anyHolds(warnings, c.warningSays)) << warnings.join(QLatin1Char('\n')).toStdString();
        EXPECT_TRUE(anyHolds(warnings, "vxcam-failing.cti")) << "the line names the file";
    }
    if (*c.criticalSays != '\0') {
        EXPECT_TRUE(anyHolds(critical, c.criticalSays)) << critical.join(QLatin1Char('\n')).toStdString();
    } else {
        EXPECT_TRUE(critical.isEmpty()) << critical.join(QLatin1Char('\n')).toStdString();
    }
}

// The opening of the failing producer's own camera fails with the driver's lines, and the object stays usable.
using GentlFailingProducersCamera = GentlFailingProducer;

TEST_P(GentlFailingProducersCamera, ItsOwnCameraFailsToOpenWithTheProducersDescription) {
    ICameraObject& cam = camera(simConfig({simDevice(QStringLiteral("SN1"))}), QStringLiteral("veyra BAD1"));
    EXPECT_EQ(cam.IOpenCamera(), 0);
    EXPECT_FALSE(cam.m_bOpened);
    EXPECT_TRUE(anyHolds(m_log.texts(QtCriticalMsg), GetParam().ownCameraSays))
        << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, GentlFailingProducer,
    ::testing::Values(
        FailingCase{"NothingAnswers", "", false,
                    "GCInitLib failed: error -1001: the failing producer refuses GCInitLib", ""},
        FailingCase{"NoSystem", "GCInitLib", false,
                    "does not open its system - error -1001: the failing producer refuses TLOpen", ""},
        FailingCase{"NoInterfaceList", "GCInitLib,TLOpen", false, "",
                    "the failing producer refuses TLUpdateInterfaceList"},
        kNoPort,
        // Broken answers where the producer answers at all: never taken for what they claim.
        FailingCase{"NullHandles", kNoPort.answers, false, "TLOpen reported success without a handle", "",
                    "null-handles"},
        FailingCase{"UnterminatedTexts", kNoPort.answers, false, "gives interface 0 no readable ID; it is left out", "",
                    "unterminated"},
        FailingCase{"AbsurdCounts", kNoPort.answers, false, "",
                    "reports 4294967295 entries, more than 1024 (a broken answer)", "counts"},
        // Calls that never return: given up after the deadline, the producer no longer called.
        FailingCase{"BlocksInInit", "", false, "GCInitLib did not return within 300 ms", "", "", "GCInitLib"},
        FailingCase{"BlocksInListing", kNoPort.answers, false, "TLUpdateInterfaceList did not return within",
                    "TLUpdateInterfaceList did not return", "", "TLUpdateInterfaceList"},
        kBlocksInPort),
    [](const auto& param) { return std::string(param.param.name); });

// Only a producer that gets as far as a camera has one to open.
INSTANTIATE_TEST_SUITE_P(Steps, GentlFailingProducersCamera, ::testing::Values(kNoPort, kBlocksInPort),
                         [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace vxcam::test
