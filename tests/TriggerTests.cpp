// Trigger modes, acquisition control and exposure through the module: what reaches the camera, in order. Each
// test runs on every transport that needs no hardware.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/TransportFixture.h"

#include <algorithm>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <vector>

namespace vxcam::test {
namespace {

const QString kCamera = simConfig({simDevice(QStringLiteral("T1"))});

// The trigger camera "T1" on each transport, and the commands the driver sends it.
template <typename Fixture>
class OnTriggerCamera : public Fixture {
protected:
    [[nodiscard]] QString sn() const { return this->serial(QStringLiteral("T1")); }
    [[nodiscard]] QString id() const { return this->cameraId(QStringLiteral("T1")); }
    // A trace line of `call` on the camera's `object` ("TriggerMode", "0" for its stream), with `argument`.
    [[nodiscard]] QString line(const char* call, const char* object, const QString& argument = {}) const {
        return QLatin1String(call) + QLatin1Char('\t') + sn() + QLatin1Char('/') + QLatin1String(object) +
               QLatin1Char('\t') + argument;
    }
    // The commands and writes a trigger routine sends, in order, for trigger mode `mode` and source `source`.
    // The virtual camera has no "AcquisitionAbort"; a simulated camera has it unless the test says otherwise.
    [[nodiscard]] QStringList programming(const QString& mode, const QString& source, bool withAbort = true) const {
        QStringList sequence;
        if (withAbort && this->simulated()) {
            sequence << line("Node::Execute", "AcquisitionAbort");
        }
        sequence << line("Node::Execute", "AcquisitionStop") << line("Node::SetString", "TriggerMode", mode)
                 << line("Node::SetString", "TriggerSource", source)
                 << line("DataStream::StartAcquisitionContinuous", "0") << line("Node::Execute", "AcquisitionStart");
        return sequence;
    }
};

using TriggerTest = OnTriggerCamera<OnTransport>;

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

using TriggerModeTest = OnTriggerCamera<OnTransportWith<ModeCase>>;

TEST_P(TriggerModeTest, ProgramsTheCameraInOrderAndStartsIt) {
    const ModeCase& c = testCase();
    ICameraObject& cam = openCamera(kCamera, id());
    cam.m_nTriggerMode = c.mode;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QLatin1String(c.triggerMode), QLatin1String(c.triggerSource)));
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, c.mode);
    EXPECT_EQ(cam.m_nStartCount, 1);
    // A free-running camera's first frames may be logged already; the start's own lines are these two.
    QStringList startLines = m_log.texts(QtDebugMsg);
    startLines.removeAll(QStringLiteral("CCameraVeyra::BufferReady"));
    EXPECT_EQ(startLines, (QStringList{QStringLiteral("CCameraVeyra::IStartCamera"), QLatin1String(c.message)}));

    // The same mode again sends nothing.
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(effects(callsWithArguments()).isEmpty());
    EXPECT_EQ(cam.m_nStartCount, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TriggerModeTest,
    ::testing::Combine(
        ::testing::ValuesIn(allTransports()),
        ::testing::Values(
            ModeCase{1, "On", "Line0", "Set out trigger successful.  -  CCameraVeyra::setDeviceOutTrigger"},
            ModeCase{2, "Off", "Line0", "Set auto trigger successful.  -  CCameraVeyra::setDeviceAutoTrigger"},
            ModeCase{3, "Off", "Line0", "Set auto trigger successful.  -  CCameraVeyra::setDeviceAutoTrigger"},
            ModeCase{4, "On", "Software", "Set soft trigger successful.  -  CCameraVeyra::setDeviceSoftTrigger"})),
    transportAnd([](const ModeCase& c, std::size_t) { return "mode" + std::to_string(c.mode); }));

TEST_P(TriggerTest, IdleModesOnlyStopTheStreams) {
    for (const int32_t mode : {0, 5, -1}) {
        ICameraObject& cam = openCamera(kCamera, id());
        cam.m_nTriggerMode = 2;
        ASSERT_EQ(cam.IStartCamera(), 1);
        m_sim->clearTrace();
        cam.m_nTriggerMode = mode;
        EXPECT_EQ(cam.IStartCamera(), 1) << mode;
        EXPECT_EQ(effects(callsWithArguments()), QStringList{line("DataStream::StopAcquisition", "0")}) << mode;
        EXPECT_TRUE(cam.m_bRunning) << mode << ": the stop succeeded";
        EXPECT_EQ(cam.m_nAppliedTriggerMode, mode);
    }
}

TEST_P(TriggerTest, SoftwareTriggerEntryIsPreferredWhereTheCameraOffersIt) {
    if (!simulated()) {
        GTEST_SKIP() << "needs the trigger source entry \"SoftwareTrigger\", which only a simulated camera offers";
    }
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"),
                                        QStringLiteral(R"("triggerSources": ["Line0", "SoftwareTrigger"])"))}),
                   QStringLiteral("veyra T1"));
    cam.m_nTriggerMode = SoftTrigger;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("On"), QStringLiteral("SoftwareTrigger")));
}

// The virtual camera has no "AcquisitionAbort" of its own.
TEST_P(TriggerTest, CameraWithoutAbortIsProgrammedWithoutIt) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("absent": ["AcquisitionAbort"])"))}), id());
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("On"), QStringLiteral("Line0"), false));
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

TEST_P(TriggerTest, StartBeforeOpenOrAfterCloseAnswersZero) {
    ICameraObject& cam = camera(kCamera, id());
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

TEST_P(TriggerTest, StopThenStartWithTheSameModeStartsAgain) {
    ICameraObject& cam = openCamera(kCamera, id());
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    m_sim->clearTrace();
    cam.IStopCamera();
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(effects(callsWithArguments()), QStringList{line("DataStream::StopAcquisition", "0")})
        << "a stop sends no command to the camera";
    EXPECT_EQ(cam.m_nAppliedTriggerMode, FreeRun);
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("Off"), QStringLiteral("Line0")));
}

// Equal modes send nothing; only a mode that delivers frames is applied again, and only when the camera does
// not run. Idle on a fresh object is such an equal mode.
TEST_P(TriggerTest, IdleRequestedOnAFreshObjectSendsNothing) {
    ICameraObject& cam = openCamera(kCamera, id());
    cam.m_nTriggerMode = Idle;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(cam.m_nStartCount, 1);
    EXPECT_TRUE(effects(callsWithArguments()).isEmpty());
}

// A camera opened again while it runs is closed first and comes back stopped: the next start in the same
// mode programs and starts it, and frames come.
TEST_P(TriggerTest, OpeningARunningCameraAgainLeavesItStoppedUntilTheNextStart) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("frameRate": 500, "width": 16, "height": 4)"))}),
        id());
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

TEST_P(TriggerTest, StopWithoutDeviceOnlyClearsRunning) {
    ICameraObject& cam = camera(kCamera, id());
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

using TriggerFailureTest = OnTriggerCamera<OnTransportWith<MissingFeatureCase>>;

TEST_P(TriggerFailureTest, FailedStartSaysSoAndTheNextStartTriesAgain) {
    const MissingFeatureCase& c = testCase();
    if (!simulated()) {
        GTEST_SKIP() << "features are left out in the simulated camera file; the virtual camera has all four";
    }
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"),
                                        QStringLiteral(R"("absent": ["%1"])").arg(QLatin1String(c.absent)))}),
                   id());
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

INSTANTIATE_TEST_SUITE_P(
    Features, TriggerFailureTest,
    ::testing::Combine(::testing::ValuesIn(allTransports()),
                       ::testing::Values(MissingFeatureCase{"AcquisitionStop", "Device::GetRemoteNode"},
                                         MissingFeatureCase{"TriggerMode", "Device::GetRemoteNode"},
                                         MissingFeatureCase{"TriggerSource", "Device::GetRemoteNode"},
                                         MissingFeatureCase{"AcquisitionStart", "Device::GetRemoteNode"})),
    transportAnd([](const MissingFeatureCase& c, std::size_t) { return std::string(c.absent); }));

TEST_P(TriggerTest, FailedWriteOfAnEntryTheCameraLacks) {
    if (!simulated()) {
        GTEST_SKIP() << "the trigger sources are chosen in the simulated camera file; the virtual camera has \"Line0\"";
    }
    // Only "Line0" and "SoftwareTrigger" are missing: line trigger fails at the source write.
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("triggerSources": ["Software"])"))}), id());
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Node::SetString  - CCameraVeyra::setDeviceOutTrigger"));
    cam.m_nTriggerMode = SoftTrigger;
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, SoftTrigger);
}

TEST_P(TriggerTest, StreamThatCannotStartStopsTheRoutineBeforeAcquisitionStart) {
    ICameraObject& cam = openCamera(
        simConfig(
            {simDevice(QStringLiteral("T1"))},
            QStringLiteral(R"({ "call": "DataStream::StartAcquisitionContinuous", "description": "no bandwidth" })")),
        id());
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::Execute")).filter(QStringLiteral("AcquisitionStart")).isEmpty());
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral(
                  "in function:        DataStream::StartAcquisitionContinuous  - CCameraVeyra::startDeviceDataStream"));
    EXPECT_EQ(m_log.texts(QtDebugMsg), QStringList{QStringLiteral("CCameraVeyra::IStartCamera")}) << "no success line";
}

TEST_P(TriggerTest, SoftTriggerModeFiresOnceOnlyAfterALineTriggerStart) {
    const QString execute = line("Node::Execute", "TriggerSoftware");
    ICameraObject& cam = openCamera(kCamera, id());
    ASSERT_EQ(cam.IStartCamera(), 1); // mode 1 applied
    m_sim->clearTrace();
    cam.ISetSoftTriggerMode();
    QStringList expected = programming(QStringLiteral("On"), QStringLiteral("Software"));
    expected.removeAll(line("DataStream::StartAcquisitionContinuous", "0")); // grabbing already
    expected << execute;
    EXPECT_EQ(effects(callsWithArguments()), expected);
    EXPECT_EQ(cam.m_nAppliedTriggerMode, LineTrigger) << "nothing of the object changes";

    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    m_sim->clearTrace();
    cam.ISetSoftTriggerMode();
    EXPECT_EQ(effects(callsWithArguments()).count(execute), 0);
}

TEST_P(TriggerTest, SoftTriggerModeWithoutDeviceOrFailingDoesNotFire) {
    ICameraObject& closed = camera(kCamera, id());
    closed.ISetSoftTriggerMode();
    EXPECT_TRUE(m_sim->trace().isEmpty());

    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("T1"))},
                             QStringLiteral(R"({ "call": "Node::SetString", "match": "TriggerSource", "nth": 2 })")),
                   id());
    ASSERT_EQ(cam.IStartCamera(), 1);
    cam.ISetSoftTriggerMode();
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::Execute")).filter(QStringLiteral("TriggerSoftware")).isEmpty());
}

TEST_P(TriggerTest, SendSoftTrigger) {
    ICameraObject& closed = camera(kCamera, id());
    EXPECT_EQ(asVeyraCamera(&closed)->ISendSoftTrigger(), 0);
    EXPECT_TRUE(m_sim->trace().isEmpty());

    ICameraObject& cam = openCamera(kCamera, id());
    EXPECT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
    EXPECT_EQ(effects(callsWithArguments()), QStringList{line("Node::Execute", "TriggerSoftware")});
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_P(TriggerTest, SendSoftTriggerWithoutTheCommand) {
    if (!simulated()) {
        GTEST_SKIP() << "\"TriggerSoftware\" is left out in the simulated camera file; the virtual camera has it";
    }
    ICameraObject& lacking = openCamera(
        simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("absent": ["TriggerSoftware"])"))}), id());
    EXPECT_EQ(asVeyraCamera(&lacking)->ISendSoftTrigger(), 0);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Device::GetRemoteNode  - CCameraVeyra::ISendSoftTrigger"));
}

TEST_P(TriggerTest, FreeRunWithFrameIdResetReadsZeroAfterTheStart) {
    ICameraObject& cam = openCamera(kCamera, id());
    cam.m_nFrameId = 1234;
    cam.m_nTriggerMode = FreeRunResetFrameId;
    ASSERT_EQ(cam.IStartCamera(), 1);
    EXPECT_EQ(cam.m_nFrameId, 0);
    EXPECT_EQ(effects(callsWithArguments()), programming(QStringLiteral("Off"), QStringLiteral("Line0")));
}

// ---- frame IDs in trigger mode 3 ---------------------------------------------------------------------------

// What one frame said: the contract's 32-bit ID and the layout's 64-bit camera ID.
struct SeenId {
    int32_t frameId;
    uint64_t cameraId;
};

// Records both IDs of every frame, inside OnImageReady.
class FrameIdTest : public TriggerTest {
protected:
    void SetUp() override {
        TriggerTest::SetUp();
        m_frames.setAction([this](ICameraObject& object, const RecordedFrame& frame) {
            VeyraFrameLayout layout;
            const uint64_t cameraId =
                asVeyraCamera(&object)->IGetFrameLayout(&layout) == 1 ? layout.frameId : ~uint64_t{0};
            const std::lock_guard lock(m_mutex);
            m_seen.push_back({frame.frameId, cameraId});
        });
    }
    // Starts in `mode` and returns what the first `count` frames said, the camera stopped again.
    std::vector<SeenId> run(ICameraObject& cam, int32_t mode, std::size_t count) {
        {
            const std::lock_guard lock(m_mutex);
            m_seen.clear();
        }
        m_frames.clear();
        cam.m_nTriggerMode = mode;
        EXPECT_EQ(cam.IStartCamera(), 1);
        EXPECT_TRUE(m_frames.waitForFrames(count));
        cam.IStopCamera();
        const std::lock_guard lock(m_mutex);
        return {m_seen.begin(), m_seen.begin() + static_cast<std::ptrdiff_t>(std::min(count, m_seen.size()))};
    }

    std::mutex m_mutex; // guards m_seen: frames arrive on the delivery thread
    std::vector<SeenId> m_seen;
};

// A camera that counts on from a high number (the simulated one from 1000; the virtual one's count runs on
// from whatever it reached). Mode 3 numbers the frames from 0, the first frame delivered after each start, while
// the layout keeps the camera's own ID; other modes give the camera's own ID in both.
TEST_P(FrameIdTest, ModeThreeCountsFromZeroAtEachStartAndTheLayoutKeepsTheCamerasId) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"),
                             QStringLiteral(R"("width": 16, "height": 4, "frameRate": 200, "firstFrameId": 1000)"))}),
        id());
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        const std::vector<SeenId> seen = run(cam, FreeRunResetFrameId, 4);
        ASSERT_EQ(seen.size(), 4u);
        if (simulated()) {
            EXPECT_EQ(seen[0].cameraId, 1000u);
        }
        for (const SeenId& frame : seen) {
            EXPECT_EQ(static_cast<uint64_t>(static_cast<uint32_t>(frame.frameId)), frame.cameraId - seen[0].cameraId);
        }
        EXPECT_EQ(seen[0].frameId, 0);
        EXPECT_GT(seen[3].frameId, seen[0].frameId);
    }
    const std::vector<SeenId> freeRun = run(cam, FreeRun, 3);
    ASSERT_EQ(freeRun.size(), 3u);
    for (const SeenId& frame : freeRun) {
        EXPECT_EQ(frame.frameId, static_cast<int32_t>(static_cast<uint32_t>(frame.cameraId)));
    }
    if (simulated()) {
        EXPECT_EQ(freeRun[0].frameId, 1000);
    }
}

// ISetSoftTriggerMode starts the camera's acquisition again: in mode 3 the first frame after it is 0 again.
TEST_P(FrameIdTest, SoftTriggerReprogrammingInModeThreeCountsFromZeroAgain) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("T1"),
                             QStringLiteral(R"("width": 16, "height": 4, "frameRate": 200, "firstFrameId": 1000)"))}),
        id());
    cam.m_nTriggerMode = FreeRunResetFrameId;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(3));
    cam.ISetSoftTriggerMode();
    m_frames.clear();
    {
        const std::lock_guard lock(m_mutex);
        m_seen.clear();
    }
    ASSERT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(1));
    ASSERT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(2));
    cam.IStopCamera();
    const std::lock_guard lock(m_mutex);
    ASSERT_GE(m_seen.size(), 2u);
    EXPECT_EQ(m_seen[0].frameId, 0);
    EXPECT_EQ(static_cast<uint64_t>(m_seen[1].frameId), m_seen[1].cameraId - m_seen[0].cameraId);
    if (simulated()) {
        EXPECT_GT(m_seen[0].cameraId, 1000u) << "the camera's own count ran on";
    }
}

// ---- the object's state follows the camera ----------------------------------------------------------------

// After a stop, ISetSoftTriggerMode makes the camera acquire again in software trigger; a start in the mode
// already applied then sends nothing, and the camera stays in software trigger.
TEST_P(TriggerTest, StartAfterSoftTriggerModeInTheAppliedModeLeavesTheCameraAsItIs) {
    ICameraObject& cam = openCamera(kCamera, id());
    ASSERT_EQ(cam.IStartCamera(), 1); // line trigger
    cam.IStopCamera();
    cam.ISetSoftTriggerMode();
    ASSERT_TRUE(m_frames.waitForFrames(1)) << "the trigger fired for an applied line trigger";
    m_sim->clearTrace();
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(effects(callsWithArguments()).isEmpty()) << "not reprogrammed back to line trigger";
    EXPECT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(2)) << "still in software trigger, and acquiring";
    cam.IStopCamera();
}

// A reprogramming that fails before it stopped the camera's acquisition leaves the camera acquiring as it was:
// the object stays acquiring with it and the frames keep reaching the host. One that fails after the stop leaves
// the camera stopped, and the object says so.
struct HaltCase {
    const char* name;
    const char* device; // extra JSON members of the camera
    const char* fault;
    bool softTriggerMode; // ISetSoftTriggerMode, else a start in line trigger
    bool stillAcquiring;  // the camera's acquisition was not stopped before the failure
    bool simulatedOnly;   // the virtual camera has no "AcquisitionAbort"
};

std::ostream& operator<<(std::ostream& out, const HaltCase& c) {
    return out << c.name;
}

using HaltTest = OnTriggerCamera<OnTransportWith<HaltCase>>;

TEST_P(HaltTest, TheObjectFollowsWhatTheCameraDoes) {
    const HaltCase& c = testCase();
    if (c.simulatedOnly && !simulated()) {
        GTEST_SKIP() << "fails \"AcquisitionAbort\", which the virtual camera lacks";
    }
    ICameraObject& cam = openCamera(
        simConfig(
            {simDevice(QStringLiteral("T1"),
                       QStringLiteral(R"("width": 16, "height": 4, "frameRate": 200%1)").arg(QLatin1String(c.device)))},
            QLatin1String(c.fault)),
        id());
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(2));
    if (c.softTriggerMode) {
        cam.ISetSoftTriggerMode();
        EXPECT_EQ(cam.m_bRunning, c.stillAcquiring);
    } else {
        cam.m_nTriggerMode = LineTrigger;
        EXPECT_EQ(cam.IStartCamera(), 0);
        EXPECT_FALSE(cam.m_bRunning) << "the start failed";
        EXPECT_EQ(cam.m_nAppliedTriggerMode, FreeRun);
    }
    ASSERT_EQ(m_log.texts(QtCriticalMsg).size(), 3) << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
    const std::size_t before = m_frames.count();
    if (c.stillAcquiring) {
        EXPECT_TRUE(m_frames.waitForFrames(before + 3)) << "frames of the running camera reach the host";
        EXPECT_TRUE(m_log.texts(QtInfoMsg).filter(QStringLiteral("BufferReady")).isEmpty())
            << "no frame is turned away as one of a stopped camera";
    } else {
        EXPECT_FALSE(m_frames.waitForFrames(before + 1, std::chrono::milliseconds(200))) << "the camera is stopped";
    }
    cam.IStopCamera();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, HaltTest,
    ::testing::Combine(
        ::testing::ValuesIn(allTransports()),
        ::testing::Values(
            HaltCase{"SoftTriggerAbortFails", "",
                     R"({ "call": "Node::Execute", "match": "AcquisitionAbort", "nth": 2 })", true, true, true},
            HaltCase{"SoftTriggerStopFails", R"(, "absent": ["AcquisitionAbort"])",
                     R"({ "call": "Node::Execute", "match": "AcquisitionStop", "nth": 2 })", true, true, false},
            HaltCase{"SoftTriggerModeWriteFails", "",
                     R"({ "call": "Node::SetString", "match": "TriggerMode", "nth": 2 })", true, false, false},
            HaltCase{"StartAbortFails", "", R"({ "call": "Node::Execute", "match": "AcquisitionAbort", "nth": 2 })",
                     false, true, true},
            HaltCase{"StartModeWriteFails", "", R"({ "call": "Node::SetString", "match": "TriggerMode", "nth": 2 })",
                     false, false, false})),
    transportAnd([](const HaltCase& c, std::size_t) { return std::string(c.name); }));

// ---- exposure --------------------------------------------------------------------------------------------

// The exposure camera "E1" on each transport; the virtual camera's exposure is "ExposureTimeAbs" within
// 10 .. 10000000.
template <typename Fixture>
class OnExposureCamera : public Fixture {
protected:
    [[nodiscard]] QString sn() const { return this->serial(QStringLiteral("E1")); }
    [[nodiscard]] QString id() const { return this->cameraId(QStringLiteral("E1")); }
    // The trace line of a write of `value` to `feature`.
    [[nodiscard]] QString write(const char* feature, const QString& value) const {
        return QStringLiteral("Node::SetDouble\t%1/%2\t%3").arg(sn(), QLatin1String(feature), value);
    }
};

using ExposureTest = OnExposureCamera<OnTransport>;

constexpr const char* kNeedsSimulatedExposure =
    "the exposure feature and its limits are chosen in the simulated camera file; the virtual camera has "
    "\"ExposureTimeAbs\" within 10 .. 10000000";
constexpr double kVirtualExposureMin = 10.0;
constexpr double kVirtualExposureMax = 10000000.0;

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

TEST_P(ExposureTest, ExposureTimeTakesAnyValueAsItStands) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedExposure;
    }
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", -3e9, 3e9), id());
    for (const int32_t value : {0, -5, 250, 2000000000}) {
        EXPECT_TRUE(setExposure(cam, value)) << value << " was written";
    }
    EXPECT_EQ(m_sim->trace(QStringLiteral("Node::SetDouble")),
              (QStringList{QStringLiteral("Node::SetDouble\tE1/ExposureTime\t0"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t-5"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t250"),
                           QStringLiteral("Node::SetDouble\tE1/ExposureTime\t2000000000")}));
    EXPECT_TRUE(m_log.lines().empty());
}

// The answer says whether the camera holds the value: a refusal by the camera is an SDK error, reported, and false.
TEST_P(ExposureTest, RefusalByTheCameraIsReportedAndAnswersFalse) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedExposure;
    }
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", 10, 500), id());
    EXPECT_FALSE(setExposure(cam, 501));
    EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
              QStringLiteral("in function:        Node::SetDouble  - CCameraVeyra::ISetProperty"));
    EXPECT_TRUE(setExposure(cam, 500)) << "a value the camera takes still answers true";
}

// An SDK error anywhere on the way (here: the feature lookup) answers false, on every producer.
TEST_P(ExposureTest, SdkErrorAnswersFalse) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("E1"))},
                  QStringLiteral(R"({ "call": "NodeMap::GetNodePresent", "match": "%1", "description": "link lost" })")
                      .arg(sn())),
        id());
    EXPECT_FALSE(setExposure(cam, 250));
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("link lost"),
                            QStringLiteral("NodeMap::GetNodePresent"), QStringLiteral("ISetProperty")));
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

using ExposureAbsTest = OnExposureCamera<OnTransportWith<AbsCase>>;

// The cases with the virtual camera's own limits run on it too.
TEST_P(ExposureAbsTest, TruncatedLimitsDecide) {
    const AbsCase& c = testCase();
    if (!simulated() && (c.min != kVirtualExposureMin || c.max != kVirtualExposureMax)) {
        GTEST_SKIP() << kNeedsSimulatedExposure;
    }
    ICameraObject& cam = openCamera(exposureCamera("ExposureTimeAbs", c.min, c.max), id());
    EXPECT_EQ(setExposure(cam, c.value), c.outcome == Outcome::Written) << "the answer says whether it was written";
    const QStringList writes = m_sim->trace(QStringLiteral("Node::SetDouble"));
    const QString number = QString::number(c.value);
    switch (c.outcome) {
    case Outcome::Written:
        EXPECT_EQ(writes, QStringList{write("ExposureTimeAbs", number)});
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
        EXPECT_EQ(writes, QStringList{write("ExposureTimeAbs", number)});
        EXPECT_EQ(m_log.texts(QtCriticalMsg).value(2),
                  QStringLiteral("in function:        Node::SetDouble  - CCameraVeyra::ISetProperty"));
        EXPECT_TRUE(m_log.texts(QtDebugMsg).isEmpty());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, ExposureAbsTest,
    ::testing::Combine(
        ::testing::ValuesIn(allTransports()),
        ::testing::Values(
            AbsCase{10.0, 500.0, 10, Outcome::Written}, AbsCase{10.0, 500.0, 500, Outcome::Written},
            AbsCase{10.0, 500.0, 9, Outcome::RefusedByDriver}, AbsCase{10.0, 500.0, 501, Outcome::RefusedByDriver},
            AbsCase{10.0, 500.0, -250, Outcome::RefusedByDriver}, AbsCase{20.9, 100.7, 20, Outcome::RefusedByCamera},
            AbsCase{20.9, 100.7, 100, Outcome::Written}, AbsCase{20.9, 100.7, 101, Outcome::RefusedByDriver},
            AbsCase{-100.0, 100.0, -50, Outcome::Written},
            AbsCase{kVirtualExposureMin, kVirtualExposureMax, 10, Outcome::Written},
            AbsCase{kVirtualExposureMin, kVirtualExposureMax, 10000000, Outcome::Written},
            AbsCase{kVirtualExposureMin, kVirtualExposureMax, 9, Outcome::RefusedByDriver},
            AbsCase{kVirtualExposureMin, kVirtualExposureMax, 10000001, Outcome::RefusedByDriver})),
    transportAnd([](const AbsCase&, std::size_t index) { return std::to_string(index); }));

// Nothing is written; ISetProperty answers false and says why in one warning, InitProperty (which has no answer)
// stays silent as the contract says.
TEST_P(ExposureTest, WithoutAnyExposureFeatureNothingIsWrittenAndTheAnswerIsFalse) {
    if (!simulated()) {
        GTEST_SKIP() << "the exposure feature is left out in the simulated camera file; the virtual camera has one";
    }
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("E1"), QStringLiteral(R"("absent": ["ExposureTime"])"))}), id());
    m_config.exposureTime = 300;
    EXPECT_FALSE(setExposure(cam, 300));
    EXPECT_EQ(
        m_log.texts(QtWarningMsg),
        QStringList{QStringLiteral("The camera has no exposure feature (\"ExposureTime\" or \"ExposureTimeAbs\"); "
                                   "nothing written.  -  CCameraVeyra::ISetProperty")});
    m_log.clear();
    cam.InitProperty();
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::SetDouble")).isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_P(ExposureTest, OtherPropertiesAndNullRecords) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTime", 10, 500), id());
    EXPECT_FALSE(cam.ISetProperty(nullptr));
    for (const int32_t id : {0, 2, -1}) {
        CameraProperty property{id, 100};
        EXPECT_TRUE(cam.ISetProperty(&property)) << id;
    }
    EXPECT_TRUE(m_sim->trace().isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_P(ExposureTest, WithoutOpenCameraNothingReachesTheSdk) {
    ICameraObject& cam = camera(exposureCamera("ExposureTime", 10, 500), id());
    EXPECT_FALSE(setExposure(cam, 100));
    m_config.exposureTime = 100;
    cam.InitProperty();
    EXPECT_TRUE(m_sim->trace().isEmpty());
}

TEST_P(ExposureTest, InitPropertyWritesTheConfiguredTimeAndReportsErrors) {
    ICameraObject& cam = openCamera(exposureCamera("ExposureTimeAbs", 10, 500), id());
    m_config.exposureTime = 250;
    cam.InitProperty();
    EXPECT_EQ(m_sim->trace(QStringLiteral("Node::SetDouble")), QStringList{write("ExposureTimeAbs", "250")});
    EXPECT_EQ(
        m_log.texts(QtDebugMsg),
        QStringList{QStringLiteral("\"Set exposure time value:250 successfully.\"  -  CCameraVeyra::InitProperty")});

    ICameraObject& failing = openCamera(
        simConfig({simDevice(QStringLiteral("E1"))},
                  QStringLiteral(R"({ "call": "NodeMap::GetNodePresent", "match": "%1", "description": "link lost" })")
                      .arg(sn())),
        id());
    failing.InitProperty();
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("link lost"),
                            QStringLiteral("NodeMap::GetNodePresent"), QStringLiteral("InitProperty")));
}

INSTANTIATE_TEST_SUITE_P(Producers, TriggerTest, ::testing::ValuesIn(allTransports()), transportName);
INSTANTIATE_TEST_SUITE_P(Producers, ExposureTest, ::testing::ValuesIn(allTransports()), transportName);
INSTANTIATE_TEST_SUITE_P(Producers, FrameIdTest, ::testing::ValuesIn(allTransports()), transportName);

} // namespace
} // namespace vxcam::test
