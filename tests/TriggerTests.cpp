// Trigger modes, acquisition control and exposure through the module: what reaches the camera, in order.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/ModuleFixture.h"

#include <ostream>

namespace vxcam::test {
namespace {

using TriggerTest = ModuleFixture;

const QString kCamera = simConfig({simDevice(QStringLiteral("T1"))});

// The commands and writes a trigger routine sends, in order, for trigger mode `mode` and source `source`.
QStringList programming(const QString& mode, const QString& source, bool withAbort = true) {
    QStringList sequence;
    if (withAbort) {
        sequence << QStringLiteral("Node::Execute\tT1/AcquisitionAbort\t");
    }
    sequence << QStringLiteral("Node::Execute\tT1/AcquisitionStop\t")
             << QStringLiteral("Node::SetString\tT1/TriggerMode\t") + mode
             << QStringLiteral("Node::SetString\tT1/TriggerSource\t") + source
             << QStringLiteral("DataStream::StartAcquisitionContinuous\tT1/0\t")
             << QStringLiteral("Node::Execute\tT1/AcquisitionStart\t");
    return sequence;
}

// Only what changes the camera: commands, writes, stream starts and stops.
QStringList effects(const QStringList& lines) {
    QStringList result;
    for (const QString& line : lines) {
        const QString call = line.section(QLatin1Char('\t'), 0, 0);
        if (call == QLatin1String("Node::Execute") || call == QLatin1String("Node::SetString") ||
            call == QLatin1String("Node::SetDouble") ||
            call == QLatin1String("DataStream::StartAcquisitionContinuous") ||
            call == QLatin1String("DataStream::StopAcquisition")) {
            result << line;
        }
    }
    return result;
}

struct ModeCase {
    int32_t mode;
    const char* triggerMode;
    const char* triggerSource;
    const char* message;
};

std::ostream& operator<<(std::ostream& out, const ModeCase& c) {
    return out << "mode " << c.mode;
}

class TriggerModeTest : public ModuleFixture, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(TriggerModeTest, ProgramsTheCameraInOrderAndStartsIt) {
    const ModeCase& c = GetParam();
    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = c.mode;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QLatin1String(c.triggerMode), QLatin1String(c.triggerSource)));
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, c.mode);
    EXPECT_EQ(cam.m_nStartCount, 1);
    EXPECT_EQ(m_log.texts(QtDebugMsg),
              (QStringList{QStringLiteral("CCameraVeyra::IStartCamera"), QLatin1String(c.message)}));

    // The same mode again sends nothing.
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(effects(callsWithArguments()).isEmpty());
    EXPECT_EQ(cam.m_nStartCount, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TriggerModeTest,
    ::testing::Values(
        ModeCase{1, "On", "Line0", "Set out trigger successful.  -  CCameraVeyra::setDeviceOutTrigger"},
        ModeCase{2, "Off", "Line0", "Set auto trigger successful.  -  CCameraVeyra::setDeviceAutoTrigger"},
        ModeCase{3, "Off", "Line0", "Set auto trigger successful.  -  CCameraVeyra::setDeviceAutoTrigger"},
        ModeCase{4, "On", "Software", "Set soft trigger successful.  -  CCameraVeyra::setDeviceSoftTrigger"}));

TEST_F(TriggerTest, IdleModesOnlyStopTheStreams) {
    for (const int32_t mode : {0, 5, -1}) {
        ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
        cam.m_nTriggerMode = 2;
        ASSERT_EQ(cam.IStartCamera(), 1);
        m_sim->clearTrace();
        cam.m_nTriggerMode = mode;
        EXPECT_EQ(cam.IStartCamera(), 1) << mode;
        EXPECT_EQ(effects(callsWithArguments()), QStringList{QStringLiteral("DataStream::StopAcquisition\tT1/0\t")})
            << mode;
        EXPECT_TRUE(cam.m_bRunning) << mode << ": the stop succeeded";
        EXPECT_EQ(cam.m_nAppliedTriggerMode, mode);
    }
}

TEST_F(TriggerTest, SoftwareTriggerEntryIsPreferredWhereTheCameraOffersIt) {
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"),
                                        QStringLiteral(R"("triggerSources": ["Line0", "SoftwareTrigger"])"))}),
                   QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = SoftTrigger;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("On"), QStringLiteral("SoftwareTrigger")));
}

TEST_F(TriggerTest, CameraWithoutAbortIsProgrammedWithoutIt) {
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("absent": ["AcquisitionAbort"])"))}),
                   QStringLiteral("veyra T1"));
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("On"), QStringLiteral("Line0"), false));
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

TEST_F(TriggerTest, StartBeforeOpenOrAfterCloseAnswersZero) {
    ICameraObject& cam = camera(kCamera, QStringLiteral("veyra T1"));
    EXPECT_EQ(cam.IStartCamera(), 0);
    ASSERT_EQ(cam.IOpenCamera(), 1);
    cam.ICloseCamera();
    m_sim->clearTrace();
    m_log.clear();
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_EQ(cam.m_nStartCount, 0);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(m_log.texts(QtDebugMsg), QStringList{QStringLiteral("CCameraVeyra::IStartCamera")});
    EXPECT_TRUE(m_sim->trace().isEmpty());
}

TEST_F(TriggerTest, StopThenStartWithTheSameModeStartsAgain) {
    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    m_sim->clearTrace();
    cam.IStopCamera();
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(effects(callsWithArguments()), QStringList{QStringLiteral("DataStream::StopAcquisition\tT1/0\t")})
        << "a stop sends no command to the camera";
    EXPECT_EQ(cam.m_nAppliedTriggerMode, FreeRun);
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("Off"), QStringLiteral("Line0")));
}

// Equal modes send nothing; only a mode that delivers frames is applied again, and only when the camera does
// not run. Idle on a fresh object is such an equal mode.
TEST_F(TriggerTest, IdleRequestedOnAFreshObjectSendsNothing) {
    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = Idle;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(cam.m_nStartCount, 1);
    EXPECT_TRUE(effects(callsWithArguments()).isEmpty());
}

// A camera opened again while it runs is closed first and comes back stopped: the next start in the same
// mode programs and starts it, and frames come.
TEST_F(TriggerTest, OpeningARunningCameraAgainLeavesItStoppedUntilTheNextStart) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("frameRate": 500, "width": 16, "height": 4)"))}),
        QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(1));
    ASSERT_EQ(cam.IOpenCamera(), 1);
    EXPECT_FALSE(cam.m_bRunning);
    m_frames.clear();
    m_sim->clearTrace();
    ASSERT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("Off"), QStringLiteral("Line0")));
    EXPECT_TRUE(m_frames.waitForFrames(2));
    cam.IStopCamera();
}

TEST_F(TriggerTest, StopWithoutDeviceOnlyClearsRunning) {
    ICameraObject& cam = camera(kCamera, QStringLiteral("veyra T1"));
    cam.m_bRunning = true;
    cam.IStopCamera();
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_TRUE(m_sim->trace().isEmpty());
}

struct MissingFeatureCase {
    const char* absent;
    const char* failingCall;
};

std::ostream& operator<<(std::ostream& out, const MissingFeatureCase& c) {
    return out << c.absent;
}

class TriggerFailureTest : public ModuleFixture, public ::testing::WithParamInterface<MissingFeatureCase> {};

TEST_P(TriggerFailureTest, FailedStartSaysSoAndTheNextStartTriesAgain) {
    const MissingFeatureCase& c = GetParam();
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"),
                                        QStringLiteral(R"("absent": ["%1"])").arg(QLatin1String(c.absent)))}),
                   QStringLiteral("veyra T1"));
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, 0) << "a failed start records no mode";
    EXPECT_EQ(cam.m_nStartCount, 1);
    const QStringList critical = m_log.texts(QtCriticalMsg);
    ASSERT_EQ(critical.size(), 3);
    EXPECT_EQ(critical.at(2), QStringLiteral("in function:        %1  - CCameraVeyra::setDeviceOutTrigger")
                                  .arg(QLatin1String(c.failingCall)));
    EXPECT_TRUE(
        effects(m_sim->trace(QStringLiteral("Node::Execute"))).filter(QStringLiteral("AcquisitionStart")).isEmpty());
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_FALSE(m_sim->trace(QStringLiteral("Node::Execute")).isEmpty()) << "tried again";
}

INSTANTIATE_TEST_SUITE_P(Features, TriggerFailureTest,
                         ::testing::Values(MissingFeatureCase{"AcquisitionStop", "Device::GetRemoteNode"},
                                           MissingFeatureCase{"TriggerMode", "Device::GetRemoteNode"},
                                           MissingFeatureCase{"TriggerSource", "Device::GetRemoteNode"},
                                           MissingFeatureCase{"AcquisitionStart", "Device::GetRemoteNode"}));

TEST_F(TriggerTest, FailedWriteOfAnEntryTheCameraLacks) {
    // Only "Line0" and "SoftwareTrigger" are missing: line trigger fails at the source write.
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("triggerSources": ["Software"])"))}),
                   QStringLiteral("veyra T1"));
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Node::SetString  - CCameraVeyra::setDeviceOutTrigger"));
    cam.m_nTriggerMode = SoftTrigger;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, SoftTrigger);
}

TEST_F(TriggerTest, StreamThatCannotStartStopsTheRoutineBeforeAcquisitionStart) {
    ICameraObject& cam = openCamera(
        simConfig(
            {simDevice(QStringLiteral("T1"))},
            QStringLiteral(R"({ "call": "DataStream::StartAcquisitionContinuous", "description": "no bandwidth" })")),
        QStringLiteral("veyra T1"));
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::Execute")).filter(QStringLiteral("AcquisitionStart")).isEmpty());
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral(
                  "in function:        DataStream::StartAcquisitionContinuous  - CCameraVeyra::startDeviceDataStream"));
    EXPECT_EQ(m_log.texts(QtDebugMsg), QStringList{QStringLiteral("CCameraVeyra::IStartCamera")}) << "no success line";
}

TEST_F(TriggerTest, SoftTriggerModeFiresOnceOnlyAfterALineTriggerStart) {
    const QString execute = QStringLiteral("Node::Execute\tT1/TriggerSoftware\t");
    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    ASSERT_EQ(cam.IStartCamera(), 1); // mode 1 applied
    m_sim->clearTrace();
    cam.ISetSoftTriggerMode();
    QStringList expected = programming(QStringLiteral("On"), QStringLiteral("Software"));
    expected.removeAll(QStringLiteral("DataStream::StartAcquisitionContinuous\tT1/0\t")); // grabbing already
    expected << execute;
    EXPECT_EQ(effects(callsWithArguments()), expected);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, LineTrigger) << "nothing of the object changes";

    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    m_sim->clearTrace();
    cam.ISetSoftTriggerMode();
    EXPECT_EQ(effects(callsWithArguments()).count(execute), 0);
}

TEST_F(TriggerTest, SoftTriggerModeWithoutDeviceOrFailingDoesNotFire) {
    ICameraObject& closed = camera(kCamera, QStringLiteral("veyra T1"));
    closed.ISetSoftTriggerMode();
    EXPECT_TRUE(m_sim->trace().isEmpty());

    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"))},
                             QStringLiteral(R"({ "call": "Node::SetString", "match": "TriggerSource", "nth": 2 })")),
                   QStringLiteral("veyra T1"));
    ASSERT_EQ(cam.IStartCamera(), 1);
    cam.ISetSoftTriggerMode();
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::Execute")).filter(QStringLiteral("TriggerSoftware")).isEmpty());
}

TEST_F(TriggerTest, SendSoftTrigger) {
    ICameraObject& closed = camera(kCamera, QStringLiteral("veyra T1"));
    EXPECT_EQ(asVeyraCamera(&closed)->ISendSoftTrigger(), 0);
    EXPECT_TRUE(m_sim->trace().isEmpty());

    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    EXPECT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
    EXPECT_EQ(effects(callsWithArguments()), QStringList{QStringLiteral("Node::Execute\tT1/TriggerSoftware\t")});
    EXPECT_TRUE(m_log.lines().empty());

    ICameraObject& lacking =
        openCamera(simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("absent": ["TriggerSoftware"])"))}),
                   QStringLiteral("veyra T1"));
    EXPECT_EQ(asVeyraCamera(&lacking)->ISendSoftTrigger(), 0);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Device::GetRemoteNode  - CCameraVeyra::ISendSoftTrigger"));
}

TEST_F(TriggerTest, FreeRunWithFrameIdResetReadsZeroAfterTheStart) {
    ICameraObject& cam = openCamera(kCamera, QStringLiteral("veyra T1"));
    cam.m_nFrameId = 1234;
    cam.m_nTriggerMode = FreeRunResetFrameId;
    ASSERT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(cam.m_nFrameId, 0);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("Off"), QStringLiteral("Line0")));
}

// ---- exposure --------------------------------------------------------------------------------------------

using ExposureTest = ModuleFixture;

QString exposureCamera(const char* feature, double min, double max) {
    return simConfig({simDevice(QStringLiteral("E1"),
                                QStringLiteral(R"("exposure": { "feature": "%1", "min": %2, "max": %3, "value": %2 })")
                                    .arg(QLatin1String(feature))
                                    .arg(min)
                                    .arg(max))});
}

bool setExposure(ICameraObject& cam, int32_t value) {
    CameraProperty property{1, value};
    return cam.ISetProperty(&property);
}

TEST_F(ExposureTest, ExposureTimeTakesAnyValueAsItStands) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", -3e9, 3e9), QStringLiteral("veyra E1"));
    for (const int32_t value : {0, -5, 250, 2000000000}) {
        EXPECT_TRUE(setExposure(cam, value));
    }
    EXPECT_EQ(m_sim->trace(QStringLiteral("Node::SetDouble")),
              (QStringList{QStringLiteral("Node::SetDouble\tE1/ExposureTime\t0"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t-5"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t250"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t2000000000")}));
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(ExposureTest, RefusalByTheCameraIsReportedAndStillTrue) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", 10, 500), QStringLiteral("veyra E1"));
    EXPECT_TRUE(setExposure(cam, 501));
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Node::SetDouble  - CCameraVeyra::ISetProperty"));
}

enum class Outcome { Written, RefusedByDriver, RefusedByCamera };

struct AbsCase {
    double min;
    double max;
    int32_t value;
    Outcome outcome;
};

std::ostream& operator<<(std::ostream& out, const AbsCase& c) {
    return out << c.value << " in " << c.min << ".." << c.max;
}

class ExposureAbsTest : public ModuleFixture, public ::testing::WithParamInterface<AbsCase> {};

TEST_P(ExposureAbsTest, TruncatedLimitsDecide) {
    const AbsCase& c = GetParam();
    ICameraObject& cam = openCamera(exposureCamera("ExposureTimeAbs", c.min, c.max), QStringLiteral("veyra E1"));
    EXPECT_TRUE(setExposure(cam, c.value));
    const QStringList writes = m_sim->trace(QStringLiteral("Node::SetDouble"));
    const QString number = QString::number(c.value);
    switch (c.outcome) {
    case Outcome::Written:
        EXPECT_EQ(writes, QStringList{QStringLiteral("Node::SetDouble\tE1/ExposureTimeAbs\t") + number});
        EXPECT_EQ(
            m_log.texts(QtDebugMsg),
            QStringList{QStringLiteral("\"Set exposure time value:%1 successfully.\"  -  CCameraVeyra::ISetProperty")
                            .arg(number)});
        EXPECT_TRUE(m_log.texts(QtWarningMsg).isEmpty());
        break;
    case Outcome::RefusedByDriver:
        EXPECT_TRUE(writes.isEmpty());
        EXPECT_EQ(
            m_log.texts(QtWarningMsg),
            QStringList{
                QStringLiteral("\"Invalid exposure time value:%1.\"  -  CCameraVeyra::ISetProperty").arg(number)});
        break;
    case Outcome::RefusedByCamera: // passed the truncated limits, handed over unchanged, refused by the camera
        EXPECT_EQ(writes, QStringList{QStringLiteral("Node::SetDouble\tE1/ExposureTimeAbs\t") + number});
        EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
                  QStringLiteral("in function:        Node::SetDouble  - CCameraVeyra::ISetProperty"));
        EXPECT_TRUE(m_log.texts(QtDebugMsg).isEmpty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, ExposureAbsTest,
                         ::testing::Values(AbsCase{10.0, 500.0, 10, Outcome::Written},
                                           AbsCase{10.0, 500.0, 500, Outcome::Written},
                                           AbsCase{10.0, 500.0, 9, Outcome::RefusedByDriver},
                                           AbsCase{10.0, 500.0, 501, Outcome::RefusedByDriver},
                                           AbsCase{10.0, 500.0, -250, Outcome::RefusedByDriver},
                                           AbsCase{20.9, 100.7, 20, Outcome::RefusedByCamera},
                                           AbsCase{20.9, 100.7, 100, Outcome::Written},
                                           AbsCase{20.9, 100.7, 101, Outcome::RefusedByDriver},
                                           AbsCase{-100.0, 100.0, -50, Outcome::Written}));

TEST_F(ExposureTest, WithoutAnyExposureFeatureNothingHappens) {
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("E1"), QStringLiteral(R"("absent": ["ExposureTime"])"))}),
                   QStringLiteral("veyra E1"));
    m_config.exposureTime = 300;
    EXPECT_TRUE(setExposure(cam, 300));
    cam.InitProperty();
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::SetDouble")).isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(ExposureTest, OtherPropertiesAndNullRecords) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", 10, 500), QStringLiteral("veyra E1"));
    EXPECT_FALSE(cam.ISetProperty(nullptr));
    for (const int32_t id : {0, 2, -1}) {
        CameraProperty property{id, 100};
        EXPECT_TRUE(cam.ISetProperty(&property)) << id;
    }
    EXPECT_TRUE(m_sim->trace().isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(ExposureTest, WithoutOpenCameraNothingReachesTheSdk) {
    ICameraObject& cam = camera(exposureCamera("ExposureTime", 10, 500), QStringLiteral("veyra E1"));
    EXPECT_FALSE(setExposure(cam, 100));
    m_config.exposureTime = 100;
    cam.InitProperty();
    EXPECT_TRUE(m_sim->trace().isEmpty());
}

TEST_F(ExposureTest, InitPropertyWritesTheConfiguredTimeAndReportsErrors) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTimeAbs", 10, 500), QStringLiteral("veyra E1"));
    m_config.exposureTime = 250;
    cam.InitProperty();
    EXPECT_EQ(m_sim->trace(QStringLiteral("Node::SetDouble")),
              QStringList{QStringLiteral("Node::SetDouble\tE1/ExposureTimeAbs\t250")});
    EXPECT_EQ(
        m_log.texts(QtDebugMsg),
        QStringList{QStringLiteral("\"Set exposure time value:250 successfully.\"  -  CCameraVeyra::InitProperty")});

    ICameraObject& failing = openCamera(
        simConfig(
            {simDevice(QStringLiteral("E1"))},
            QStringLiteral(R"({ "call": "NodeMap::GetNodePresent", "match": "E1", "description": "link lost" })")),
        QStringLiteral("veyra E1"));
    failing.InitProperty();
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("link lost"),
                            QStringLiteral("NodeMap::GetNodePresent"), QStringLiteral("InitProperty")));
}

} // namespace
} // namespace vxcam::test
