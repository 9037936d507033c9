// One SDK failure at a time where it used to leave the module in a state its answers denied: a list released
// under an object, a start or open reported as success for a camera that never delivers, a handler bound to a
// freed object, conversion lost for good, resources out of reach after a failed open.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/ModuleFixture.h"
#include "tests/support/SdkInspection.h"

namespace vxcam::test {
namespace {

using FailureTest = ModuleFixture;

const QString kCameraLine = QStringLiteral(R"("width": 16, "height": 4, "frameRate": 500)");

int traced(const SimEnvironment& sim, const char* call) {
    return static_cast<int>(sim.trace(QLatin1String(call)).size());
}

// An object that could not join the shared list at its creation joins when it opens a camera, so that another
// object's end does not release the list (and the device) under it.
TEST_F(FailureTest, AnObjectThatCouldNotJoinTheListAtCreationCountsOnceItOpens) {
    m_sim = std::make_unique<SimEnvironment>(simConfig({simDevice(QStringLiteral("U1"), kCameraLine)},
                                                       QStringLiteral(R"({ "call": "SystemList::GetInstance" })")));
    CameraConfig config;
    config.cameraId = QStringLiteral("veyra U1");
    ModuleLoader::Camera unjoined = m_module.makeCamera(&config, &m_frames);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).size(), 3);
    CameraConfig otherConfig;
    ModuleLoader::Camera other = m_module.makeCamera(&otherConfig, &m_frames);

    ASSERT_EQ(unjoined->IOpenCamera(), 1);
    other.reset();
    EXPECT_EQ(traced(*m_sim, "SystemList::ReleaseInstance"), 0) << "the opened object still uses the list";
    unjoined->m_nTriggerMode = FreeRun;
    ASSERT_EQ(unjoined->IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(2));
    unjoined->IStopCamera();
    unjoined->ICloseCamera();
    unjoined.reset();
    EXPECT_EQ(traced(*m_sim, "SystemList::ReleaseInstance"), 1);
}

// A stream that cannot be opened when acquisition starts: the start says so (0, not running) and the camera's
// acquisition is not started, instead of a camera that answers "started" and never delivers.
TEST_F(FailureTest, AStreamThatCannotOpenAtTheStartFailsTheStart) {
    // The second stream's open check passes at the opening and fails at the start.
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("U1"), kCameraLine + QStringLiteral(R"(, "streams": 2)"))},
                             QStringLiteral(R"({ "call": "DataStream::IsOpen", "match": "U1/1", "nth": 2 })")),
                   QStringLiteral("veyra U1"));
    cam.m_nTriggerMode = FreeRun;
    EXPECT_EQ(cam.IStartCamera(), 0);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Node::Execute")).filter(QStringLiteral("AcquisitionStart")).isEmpty());
    EXPECT_EQ(m_log.texts(QtCriticalMsg).at(2),
              QStringLiteral("in function:        DataStream::IsOpen  - CCameraVeyra::openDataStream"));
    // The failure was a moment's: the next start tries again and runs.
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(cam.m_bRunning);
    EXPECT_TRUE(m_frames.waitForFrames(2));
    cam.IStopCamera();
}

// An open whose only stream could not be bound to the handler answers 0 and leaves nothing behind: the device
// closed, its buffers revoked.
TEST_F(FailureTest, AnOpenWhoseStreamCannotBeBoundFailsAndReleasesWhatItPrepared) {
    ICameraObject& cam = camera(simConfig({simDevice(QStringLiteral("U1"), kCameraLine)},
                                          QStringLiteral(R"({ "call": "DataStream::RegisterNewBufferEventHandler" })")),
                                QStringLiteral("veyra U1"));
    EXPECT_EQ(cam.IOpenCamera(), 0);
    EXPECT_FALSE(cam.m_bOpened);
    EXPECT_FALSE(devicesWithSerial("U1").front()->IsOpen());
    EXPECT_EQ(traced(*m_sim, "BufferList::RevokeBuffer"), 8);
}

// The last lookup of an open fails after the device was prepared: the open answers 0 and releases the device,
// its buffers and its handler, which ICloseCamera could not reach.
TEST_F(FailureTest, AFailedLastLookupOfAnOpenReleasesThePreparedDevice) {
    ICameraObject& cam = camera(simConfig({simDevice(QStringLiteral("U1"), kCameraLine)},
                                          QStringLiteral(R"({ "call": "DeviceList::operator[]" })")),
                                QStringLiteral("veyra U1"));
    EXPECT_EQ(cam.IOpenCamera(), 0);
    EXPECT_FALSE(cam.m_bOpened);
    EXPECT_FALSE(devicesWithSerial("U1").front()->IsOpen());
    EXPECT_EQ(traced(*m_sim, "BufferList::RevokeBuffer"), 8);
    EXPECT_EQ(traced(*m_sim, "DataStream::RegisterNewBufferEventHandler"), 2) << "bound, then unbound";
    // The camera is free again for this object.
    EXPECT_EQ(cam.IOpenCamera(), 1);
}

// Unbinding fails at the close, once or every time: the device's close ends the stream all the same, and its
// binding with it, so the object's end has nothing left to unbind and the object is freed (the leak checker of
// the sanitizer build sees it otherwise) instead of being kept for a stream that could still call it.
TEST_F(FailureTest, AStreamThatCouldNotBeUnboundEndsWithItsDeviceAndTheObjectIsFreed) {
    for (const char* times : {"1", "0"}) {
        SCOPED_TRACE(times);
        ICameraObject& cam =
            openCamera(simConfig({simDevice(QStringLiteral("U1"), kCameraLine)},
                                 QStringLiteral(R"({ "call": "DataStream::RegisterNewBufferEventHandler", "nth": 2,
                                                     "times": %1 })")
                                     .arg(QLatin1String(times))),
                       QStringLiteral("veyra U1"));
        cam.ICloseCamera();
        EXPECT_EQ(m_log.texts(QtCriticalMsg).at(2),
                  QStringLiteral("in function:        DataStream::RegisterNewBufferEventHandler  - "
                                 "CCameraVeyra::clearDeviceDataStream"));
        EXPECT_EQ(traced(*m_sim, "DataStream::Close"), 1);
        m_camera.reset();
        EXPECT_EQ(traced(*m_sim, "DataStream::RegisterNewBufferEventHandler"), 1) << "not tried again at the end";
        EXPECT_EQ(traced(*m_sim, "SystemList::ReleaseInstance"), 1);
        EXPECT_TRUE(m_log.texts(QtWarningMsg).filter(QStringLiteral("stays in memory")).isEmpty());
    }
}

// Taking the image processor failed once, when the object was made: conversion works all the same.
TEST_F(FailureTest, ConversionRecoversFromAFailureToTakeTheImageProcessor) {
    m_sim = std::make_unique<SimEnvironment>(
        simConfig({simDevice(QStringLiteral("U1"), kCameraLine + QStringLiteral(R"(, "pixelFormat": "BayerRG8")"))},
                  QStringLiteral(R"({ "call": "ImageProcessor::GetInstance" })")));
    m_config.cameraId = QStringLiteral("veyra U1");
    m_camera = m_module.makeCamera(&m_config, &m_frames);
    EXPECT_EQ(m_log.texts(QtCriticalMsg).size(), 3);
    ASSERT_EQ(m_camera->IOpenCamera(), 1);
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(3));
    m_camera->IStopCamera();
    EXPECT_EQ(m_log.texts(QtCriticalMsg).size(), 3) << "no frame failed";
}

// Reprogramming for software trigger fails after the camera was stopped: m_bRunning says so.
TEST_F(FailureTest, AFailedSoftTriggerProgrammingLeavesTheCameraNotRunning) {
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("U1"), kCameraLine)},
                             QStringLiteral(R"({ "call": "Node::SetString", "match": "TriggerMode", "nth": 2 })")),
                   QStringLiteral("veyra U1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(cam.m_bRunning);
    cam.ISetSoftTriggerMode();
    EXPECT_FALSE(cam.m_bRunning);
    // A start in the same mode programs the camera again, since it does not run.
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(cam.m_bRunning);
    cam.IStopCamera();
}

// Frames the warnings of `method` say were turned away at the object's gate.
uint64_t turnedAwayBy(const LogCapture& log, const QString& method) {
    uint64_t frames = 0;
    const QString ending = QStringLiteral(" went back to their stream undelivered.  -  CCameraVeyra::") + method;
    for (const QString& line : log.texts(QtWarningMsg)) {
        if (line.endsWith(ending)) {
            frames += line.section(QLatin1Char(' '), 0, 0).toULongLong();
        }
    }
    return frames;
}

// A start that reprograms a running camera turns away the frames the camera makes meanwhile, since its stream
// runs on. Every frame ID the host misses is one that a start reported or the stream counted lost.
TEST_F(FailureTest, EveryFrameMissedAcrossReprogrammingsIsCounted) {
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("R1"),
                             QStringLiteral(R"("width": 16, "height": 4, "frameRate": 20000, "lineRate": 20000)"))}),
        QStringLiteral("veyra R1"));
    sdk::DataStream* stream = devicesWithSerial("R1").front()->GetDataStreams()->begin()->second;
    constexpr AcqTriggerMode kModes[] = {FreeRun, LineTrigger};
    for (int i = 0; i < 40; ++i) {
        cam.m_nTriggerMode = kModes[i % 2];
        ASSERT_EQ(cam.IStartCamera(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(m_frames.count() + 10));
    }
    cam.IStopCamera(); // frames turned away now come after the last delivered one: no gap

    uint64_t gaps = 0;
    int64_t previous = -1;
    for (const RecordedFrame& frame : m_frames.frames()) {
        ASSERT_GT(frame.frameId, previous) << "one run of the stream: its frame IDs only grow";
        gaps += static_cast<uint64_t>(frame.frameId - previous - 1);
        previous = frame.frameId;
    }
    const uint64_t turnedAway = turnedAwayBy(m_log, QStringLiteral("IStartCamera"));
    EXPECT_GE(gaps, turnedAway) << "the frames a start turned away fall between delivered ones";
    EXPECT_LE(gaps, turnedAway + stream->GetLostFrameCount()) << "a missed frame nothing counted";
}

} // namespace
} // namespace vxcam::test
