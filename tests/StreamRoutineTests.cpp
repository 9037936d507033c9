// The driver's stream routines one by one, through a probe that reaches them: what each asks the SDK,
// what it leaves, and how far a failure reaches.
#include "driver/CameraVeyra.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SdkInspection.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

class Probe final : public CCameraVeyra {
public:
    using CCameraVeyra::CCameraVeyra;
    using CCameraVeyra::clearDeviceDataStream;
    using CCameraVeyra::closeDataStream;
    using CCameraVeyra::createStreamBuffers;
    using CCameraVeyra::openDataStream;
    using CCameraVeyra::openDevice;
    using CCameraVeyra::releasePreparedDevice;
    using CCameraVeyra::setDeviceDataStream;
    using CCameraVeyra::startDeviceDataStream;
    using CCameraVeyra::stopDeviceDataStream;
};

class NullCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override {}
};

class StreamRoutineTest : public ::testing::Test {
protected:
    // A probe over one open device "D" with `streams` streams and `faults`; trace and log start empty.
    sdk::Device* openDevice(int streams, const QString& faults = {}) {
        m_sim = std::make_unique<SimEnvironment>(
            simConfig({simDevice(QStringLiteral("D"), QStringLiteral(R"("streams": %1)").arg(streams))}, faults));
        m_probe = std::make_unique<Probe>(&m_config, &m_callback);
        sdk::Device* device = devicesWithSerial("D").front();
        EXPECT_TRUE(Probe::openDevice(device));
        m_sim->clearTrace();
        m_log.clear();
        return device;
    }

    // The device's streams in list order.
    static std::vector<sdk::DataStream*> streamsOf(sdk::Device* device) {
        std::vector<sdk::DataStream*> streams;
        device->GetDataStreams()->Refresh();
        for (auto& entry : *device->GetDataStreams()) {
            streams.push_back(entry.second);
        }
        return streams;
    }

    [[nodiscard]] int count(const QString& callAndObject) const {
        int n = 0;
        for (const QString& line : m_sim->trace()) {
            n += line.section(QLatin1Char('\t'), 0, 1) == callAndObject ? 1 : 0;
        }
        return n;
    }

    void TearDown() override {
        m_probe.reset();
        m_sim.reset();
    }

    CameraConfig m_config;
    NullCallback m_callback;
    std::unique_ptr<SimEnvironment> m_sim;
    std::unique_ptr<Probe> m_probe;
    LogCapture m_log;
};

TEST_F(StreamRoutineTest, AnOpenStreamIsNotOpenedAgainButGetsEightMoreBuffers) {
    sdk::Device* device = openDevice(1);
    ASSERT_EQ(m_probe->setDeviceDataStream(device), 1u);
    ASSERT_EQ(m_probe->setDeviceDataStream(device), 1u);
    EXPECT_EQ(count(QStringLiteral("DataStream::Open\tD/0")), 1);
    EXPECT_EQ(bufferListSizes(device), std::vector<uint64_t>{16});
    EXPECT_EQ(m_probe->clearDeviceDataStream(device), 1u);
    EXPECT_EQ(bufferListSizes(device), std::vector<uint64_t>{0});
}

TEST_F(StreamRoutineTest, ZeroOrNegativeBufferCountCreatesNothing) {
    sdk::Device* device = openDevice(1);
    sdk::DataStream* stream = streamsOf(device).front();
    ASSERT_TRUE(Probe::openDataStream(stream));
    for (const int32_t n : {0, -1, -8}) {
        EXPECT_TRUE(m_probe->createStreamBuffers(stream, n)) << n;
    }
    EXPECT_EQ(count(QStringLiteral("BufferList::Add\tD/0")), 0);
}

TEST_F(StreamRoutineTest, StartAndStopLeaveStreamsAlreadyInTheTargetState) {
    sdk::Device* device = openDevice(2);
    ASSERT_EQ(m_probe->setDeviceDataStream(device), 2u);
    streamsOf(device)[1]->StartAcquisitionContinuous();
    m_sim->clearTrace();
    EXPECT_TRUE(m_probe->startDeviceDataStream(device));
    EXPECT_EQ(count(QStringLiteral("DataStream::StartAcquisitionContinuous\tD/0")), 1);
    EXPECT_EQ(count(QStringLiteral("DataStream::StartAcquisitionContinuous\tD/1")), 0) << "already grabbing";
    EXPECT_TRUE(m_probe->startDeviceDataStream(device));
    EXPECT_EQ(count(QStringLiteral("DataStream::StartAcquisitionContinuous\tD/0")), 1);

    streamsOf(device)[0]->StopAcquisition();
    m_sim->clearTrace();
    EXPECT_TRUE(Probe::stopDeviceDataStream(device));
    EXPECT_EQ(count(QStringLiteral("DataStream::StopAcquisition\tD/0")), 0) << "not grabbing";
    EXPECT_EQ(count(QStringLiteral("DataStream::StopAcquisition\tD/1")), 1);
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(StreamRoutineTest, StopOpensAClosedStreamAndLeavesItOpen) {
    sdk::Device* device = openDevice(1);
    EXPECT_TRUE(Probe::stopDeviceDataStream(device));
    sdk::DataStream* stream = streamsOf(device).front();
    EXPECT_TRUE(stream->IsOpen());
    EXPECT_FALSE(stream->GetIsGrabbing());
    EXPECT_EQ(count(QStringLiteral("DataStream::StopAcquisition\tD/0")), 0);
}

TEST_F(StreamRoutineTest, DeviceWithoutStreams) {
    sdk::Device* device = openDevice(0);
    EXPECT_EQ(m_probe->setDeviceDataStream(device), 0u);
    EXPECT_EQ(m_probe->clearDeviceDataStream(device), 0u);
    EXPECT_TRUE(m_probe->startDeviceDataStream(device));
    EXPECT_TRUE(Probe::stopDeviceDataStream(device));
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(StreamRoutineTest, ClearCountsEveryStreamWhoseCloseDidNotFail) {
    // Stream 0 was never opened, stream 1 is prepared, stream 2 cannot be closed.
    sdk::Device* device =
        openDevice(3, QStringLiteral(R"({ "call": "DataStream::IsOpen", "match": "D/2", "nth": 1 })"));
    std::vector<sdk::DataStream*> streams = streamsOf(device);
    ASSERT_TRUE(Probe::openDataStream(streams[1]));
    ASSERT_TRUE(m_probe->createStreamBuffers(streams[1], 8));
    m_log.clear();
    EXPECT_EQ(m_probe->clearDeviceDataStream(device), 2u);
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("injected fault"),
                            QStringLiteral("DataStream::IsOpen"), QStringLiteral("closeDataStream")));
    EXPECT_EQ(bufferListSizes(device), (std::vector<uint64_t>{0, 0, 0}));
}

TEST_F(StreamRoutineTest, StreamThatCannotBeOpenedGetsNoBuffers) {
    sdk::Device* device = openDevice(1, QStringLiteral(R"({ "call": "DataStream::Open", "description": "in use" })"));
    EXPECT_EQ(m_probe->setDeviceDataStream(device), 0u);
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("in use"),
                            QStringLiteral("DataStream::Open"), QStringLiteral("openDataStream")));
    EXPECT_EQ(count(QStringLiteral("BufferList::Add\tD/0")), 0);
}

// A stream whose handler could not be bound never delivers, so it does not count as ready.
TEST_F(StreamRoutineTest, FailedHandlerBindingEndsTheWalkWithoutCountingTheStream) {
    sdk::Device* device =
        openDevice(2, QStringLiteral(R"({ "call": "DataStream::RegisterNewBufferEventHandler", "match": "D/0" })"));
    EXPECT_EQ(m_probe->setDeviceDataStream(device), 0u);
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("injected fault"),
                            QStringLiteral("DataStream::RegisterNewBufferEventHandler"),
                            QStringLiteral("setDeviceDataStream")));
    EXPECT_EQ(count(QStringLiteral("DataStream::Open\tD/1")), 0);
}

TEST_F(StreamRoutineTest, FailureInsideTheStartWalkEndsIt) {
    sdk::Device* device = openDevice(2, QStringLiteral(R"({ "call": "DataStream::GetIsGrabbing", "match": "D/0" })"));
    ASSERT_EQ(m_probe->setDeviceDataStream(device), 2u);
    m_log.clear();
    EXPECT_FALSE(m_probe->startDeviceDataStream(device));
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("injected fault"),
                            QStringLiteral("DataStream::GetIsGrabbing"), QStringLiteral("startDeviceDataStream")));
    EXPECT_EQ(count(QStringLiteral("DataStream::StartAcquisitionContinuous\tD/1")), 0);
}

// An open that gives a device up releases what it prepared on that device only: streams another device's
// preparation left behind neither send it calls nor lose their own buffers.
TEST_F(StreamRoutineTest, GivingADeviceUpReleasesOnlyWhatWasPreparedOnIt) {
    m_sim =
        std::make_unique<SimEnvironment>(simConfig({simDevice(QStringLiteral("D")), simDevice(QStringLiteral("E"))}));
    m_probe = std::make_unique<Probe>(&m_config, &m_callback);
    sdk::Device* prepared = devicesWithSerial("D").front();
    sdk::Device* givenUp = devicesWithSerial("E").front();
    ASSERT_TRUE(Probe::openDevice(prepared));
    ASSERT_TRUE(Probe::openDevice(givenUp));
    ASSERT_EQ(m_probe->setDeviceDataStream(prepared), 1u);
    m_sim->clearTrace();
    m_probe->releasePreparedDevice(givenUp);
    EXPECT_EQ(count(QStringLiteral("Device::GetDataStreams\tE")), 0) << "nothing was prepared on E";
    EXPECT_EQ(count(QStringLiteral("Device::Close\tE")), 1);
    EXPECT_EQ(count(QStringLiteral("DataStream::Close\tD/0")), 0);
    EXPECT_EQ(bufferListSizes(prepared), std::vector<uint64_t>{8});
}

} // namespace
} // namespace vxcam::test
