// The module against fake GigE Vision cameras over real UDP. Runs only inside the test network that
// run-in-netns.sh makes (VXCAM_TRANSPORTS=gev, cameras GV01.. on 198.18.I.1, camera 4 losing packets); it
// never sends discovery anywhere else.
#include "tests/gev/GevFixture.h"

#include <QFile>

namespace vxcam::test {
namespace {

TEST_F(GevTest, ListsEveryFakeCameraOnTheTestNetwork) {
    m_config.cameraId = QStringLiteral("veyra GV01");
    m_camera = m_module.makeCamera(&m_config, &m_frames);
    const QStringList listed = m_camera->IEnumAvailableCameras();
    const int cameras = qEnvironmentVariableIntValue("VXCAM_GEV_CAMERAS");
    EXPECT_EQ(listed.size(), cameras) << listed.join(QLatin1Char(',')).toStdString();
    for (int i = 1; i <= cameras; ++i) {
        EXPECT_TRUE(listed.contains(QStringLiteral("veyra GV0%1").arg(i))) << i;
    }
}

// The fake camera numbers its blocks from near the end of the 16-bit range: the IDs go on past it.
TEST_F(GevTest, FreeRunAtTheCamerasRateWithFrameIdsThatDoNotWrap) {
    prepare("GV01", "Mono8", 128, 64, 200.0);
    m_camera = open("GV01", m_config, m_frames);
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(300, 20s));
    m_camera->IStopCamera();
    const std::vector<RecordedFrame> frames = m_frames.frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
    }
    EXPECT_GT(frames.back().frameId, 65535) << "the IDs did not pass the 16-bit block ID range";
    EXPECT_EQ(frames.front().width, 128);
    EXPECT_EQ(frames.front().height, 64);
}

// The Bayer mosaic, converted by the module, shows the colours an independent reading of the raw cells gives.
TEST_F(GevTest, BayerFramesConvertWithTheirColoursRight) {
    prepare("GV02", "BayerRG8", 64, 64, 50.0);
    m_camera = open("GV02", m_config, m_frames);
    std::vector<sdk::Buffer*> buffers;
    for (auto& buffer : *streamOf("GV02")->GetBufferList()) {
        buffers.push_back(buffer.second);
    }
    std::mutex checked; // guards the results below: written on the delivery thread
    double sameError = -1;
    double swappedError = -1;
    int colourfulCells = 0;
    m_frames.setAction([&](ICameraObject& camera, const RecordedFrame& frame) {
        const sdk::Buffer* raw = nullptr;
        for (const sdk::Buffer* buffer : buffers) {
            if (static_cast<int32_t>(buffer->GetFrameID()) == frame.frameId) {
                raw = buffer;
            }
        }
        if (raw == nullptr || camera.m_nImageFormat == ImageFormatGray8) {
            return;
        }
        const auto* cells = static_cast<const unsigned char*>(raw->GetMemPtr());
        double same = 0;
        double swapped = 0;
        int colourful = 0;
        int count = 0;
        // Inner cells only: at the edges each demosaic guesses differently.
        for (int y = 2; y < 62; y += 2) {
            for (int x = 2; x < 62; x += 2) {
                const double r = cells[y * 64 + x];
                const double g = (cells[y * 64 + x + 1] + cells[(y + 1) * 64 + x]) / 2.0;
                const double b = cells[(y + 1) * 64 + x + 1];
                const unsigned char* bgr = frame.data + (y * 64 + x) * 3;
                same += std::abs(bgr[2] - r) + std::abs(bgr[1] - g) + std::abs(bgr[0] - b);
                swapped += std::abs(bgr[0] - r) + std::abs(bgr[1] - g) + std::abs(bgr[2] - b);
                colourful += std::abs(r - b) > 64 ? 1 : 0;
                ++count;
            }
        }
        const std::lock_guard lock(checked);
        sameError = same / (3.0 * count);
        swappedError = swapped / (3.0 * count);
        colourfulCells = colourful;
    });
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(5));
    m_camera->IStopCamera();
    const std::lock_guard lock(checked);
    ASSERT_GE(sameError, 0) << "no Bayer frame was checked";
    EXPECT_GT(colourfulCells, 10) << "the picture has too little colour to tell red from blue";
    EXPECT_LT(sameError, 24.0);
    EXPECT_GT(swappedError, 2 * sameError + 10.0);
}

TEST_F(GevTest, ExposureGoesThroughExposureTimeAbsWithinItsLimits) {
    m_config.exposureTime = 3000;
    m_camera = open("GV01", m_config, m_frames);
    m_camera->InitProperty();
    sdk::Node* exposure = devicesWithSerial("GV01").front()->GetRemoteNode("ExposureTimeAbs");
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 3000.0);
    EXPECT_FALSE(devicesWithSerial("GV01").front()->GetRemoteNodeList()->GetNodePresent("ExposureTime"));
    const double max = exposure->GetDoubleMax();
    CameraProperty above{kExposureProperty, static_cast<int32_t>(max) + 1};
    EXPECT_FALSE(m_camera->ISetProperty(&above)) << "the answer says the value was not written";
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 3000.0) << "a value above the camera's limit was written";
    CameraProperty inside{kExposureProperty, 20000};
    EXPECT_TRUE(m_camera->ISetProperty(&inside));
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 20000.0);
}

TEST_F(GevTest, SoftwareTriggerGivesOneFramePerTrigger) {
    prepare("GV01", "Mono8", 64, 64, 100.0);
    m_camera = open("GV01", m_config, m_frames);
    m_camera->m_nTriggerMode = SoftTrigger;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    EXPECT_FALSE(m_frames.waitForFrames(1, 400ms)) << "a frame without a trigger";
    for (std::size_t trigger = 1; trigger <= 3; ++trigger) {
        ASSERT_EQ(asVeyraCamera(m_camera.get())->ISendSoftTrigger(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(trigger)) << "trigger " << trigger;
    }
    EXPECT_FALSE(m_frames.waitForFrames(4, 400ms)) << "more frames than triggers";
    m_camera->IStopCamera();
}

TEST_F(GevTest, AFeatureTheCameraLacksIsACleanSdkError) {
    m_camera = open("GV01", m_config, m_frames);
    sdk::Device* device = devicesWithSerial("GV01").front();
    EXPECT_FALSE(device->GetRemoteNodeList()->GetNodePresent("AcquisitionAbort"));
    try {
        static_cast<void>(device->GetRemoteNode("AcquisitionAbort"));
        ADD_FAILURE() << "no error for an absent feature";
    } catch (const sdk::Exceptions::IException& error) {
        EXPECT_STREQ(error.GetType(), "NotFoundException");
        EXPECT_STREQ(error.GetFunctionName(), "Device::GetRemoteNode");
        EXPECT_NE(std::string(error.GetErrorDescription()).find("AcquisitionAbort"), std::string::npos);
    }
    // The driver's own start runs without it.
    m_camera->m_nTriggerMode = FreeRun;
    EXPECT_EQ(m_camera->IStartCamera(), 1);
    m_camera->IStopCamera();
}

// Camera 4 loses packets on the way: complete frames keep coming, torn ones never reach the host, and the
// pool still has its eight buffers, all queued, after thousands of frames.
TEST_F(GevTest, LostPacketsLeaveFramesFlowingAndThePoolIntact) {
    prepare("GV04", "Mono8", 64, 32, 400.0);
    m_camera = open("GV04", m_config, m_frames);
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(2000, 60s)) << "only " << m_frames.count() << " frames";
    m_camera->IStopCamera();
    sdk::DataStream* stream = streamOf("GV04");
    EXPECT_EQ(stream->GetBufferList()->size(), 8U);
    EXPECT_EQ(stream->GetBufferList()->GetQueuedCount(), 8U);
    const std::vector<RecordedFrame> frames = m_frames.frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
    }
}

// Packets that reached this namespace on the test network link of camera `index` (run-in-netns.sh names the
// host's end "vxhI").
uint64_t packetsReceivedFromCamera(int index) {
    QFile counter(QStringLiteral("/sys/class/net/vxh%1/statistics/rx_packets").arg(index));
    return counter.open(QIODevice::ReadOnly) ? counter.readAll().trimmed().toULongLong() : 0;
}

// After a stop the camera sends no more stream traffic (within a second); a start makes it stream again.
TEST_F(GevTest, AfterAStopTheLinkGoesQuietAndAStartMakesItStreamAgain) {
    prepare("GV01", "Mono8", 64, 64, 100.0); // 100 frames of five packets each per second
    m_camera = open("GV01", m_config, m_frames);
    m_camera->m_nTriggerMode = FreeRun;
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(m_camera->IStartCamera(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(m_frames.count() + 20)) << "round " << round;
        m_camera->IStopCamera();
        const std::size_t stopped = m_frames.count();
        // Waits that must run out: a second for the link to settle, then a second of listening.
        EXPECT_FALSE(m_frames.waitForFrames(stopped + 1, 1s)) << "a frame after the stop";
        const uint64_t before = packetsReceivedFromCamera(1);
        EXPECT_FALSE(m_frames.waitForFrames(stopped + 1, 1s)) << "a frame after the stop";
        // Only the control channel's heartbeat answers (about one a second) may still come.
        EXPECT_LE(packetsReceivedFromCamera(1) - before, 4U) << "round " << round;
    }
}

// The camera process dies mid-stream: the SDK notices, no frame comes, stop, close and delete return within
// two seconds; once the camera is back, a fresh open streams again.
TEST_F(GevTest, ACameraKilledMidStreamIsNoticedAndCanBeOpenedAgain) {
    prepare("GV03", "Mono8", 64, 64, 100.0);
    // Lives as long as the process: Aravis's heartbeat thread, which logs the loss, may still be ending.
    static ControlLostWatch watch;
    m_camera = open("GV03", m_config, m_frames);
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(10));
    ASSERT_TRUE(controlCamera("camera-stop", 3));
    ASSERT_TRUE(watch.wait(15s)) << "the loss of the camera was not noticed";
    const std::size_t delivered = m_frames.count();
    EXPECT_FALSE(m_frames.waitForFrames(delivered + 1, 500ms));
    EXPECT_EQ(asVeyraCamera(m_camera.get())->ISendSoftTrigger(), 0) << "a call on a lost camera succeeded";
    const Clock::time_point before = Clock::now();
    m_camera->IStopCamera();
    m_camera->ICloseCamera();
    m_camera.reset();
    EXPECT_LT(Clock::now() - before, 2s);

    ASSERT_TRUE(controlCamera("camera-start", 3));
    m_frames.clear();
    m_camera = open("GV03", m_config, m_frames);
    m_camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(5));
    m_camera->IStopCamera();
}

// Two driver objects stream from two of the cameras at once; each gets only its own camera's frames.
TEST_F(GevTest, TwoDriverObjectsStreamFromTwoCamerasAtOnce) {
    prepare("GV01", "Mono8", 96, 32, 100.0);
    prepare("GV02", "Mono8", 64, 48, 100.0);
    m_camera = open("GV01", m_config, m_frames);
    m_second = open("GV02", m_secondConfig, m_secondFrames);
    m_camera->m_nTriggerMode = FreeRun;
    m_second->m_nTriggerMode = FreeRun;
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    ASSERT_EQ(m_second->IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(50));
    EXPECT_TRUE(m_secondFrames.waitForFrames(50));
    m_camera->IStopCamera();
    m_second->IStopCamera();
    for (const RecordedFrame& frame : m_frames.frames()) {
        ASSERT_EQ(frame.width, 96);
    }
    for (const RecordedFrame& frame : m_secondFrames.frames()) {
        ASSERT_EQ(frame.width, 64);
    }
}

// UDP datagrams this network namespace has sent (the namespace is the test's own).
uint64_t udpDatagramsSent() {
    QFile snmp(QStringLiteral("/proc/net/snmp"));
    if (!snmp.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QStringList lines = QString::fromLatin1(snmp.readAll()).split(QLatin1Char('\n'));
    for (int i = 0; i + 1 < lines.size(); ++i) {
        if (lines[i].startsWith(QLatin1String("Udp:")) && lines[i + 1].startsWith(QLatin1String("Udp:"))) {
            const QStringList names = lines[i].split(QLatin1Char(' '));
            const QStringList values = lines[i + 1].split(QLatin1Char(' '));
            const int column = static_cast<int>(names.indexOf(QStringLiteral("OutDatagrams")));
            return column > 0 && column < values.size() ? values[column].toULongLong() : 0;
        }
    }
    return 0;
}

// Listing with the default transports, or with only the virtual camera, sends no GigE Vision discovery (nor
// any other datagram); naming "gev" does.
TEST_F(GevTest, OnlyANamedGigEVisionTransportSendsDiscovery) {
    const auto datagramsOfListing = [this](const char* transports) {
        if (transports == nullptr) {
            qunsetenv("VXCAM_TRANSPORTS");
        } else {
            qputenv("VXCAM_TRANSPORTS", transports);
        }
        sdk::SystemList::ReleaseInstance();
        const uint64_t before = udpDatagramsSent();
        {
            ModuleLoader::Camera camera = m_module.makeCamera(&m_config, &m_frames);
            static_cast<void>(camera->IEnumAvailableCameras());
        }
        sdk::SystemList::ReleaseInstance();
        return udpDatagramsSent() - before;
    };
    EXPECT_EQ(datagramsOfListing(nullptr), 0U) << "default transports";
    EXPECT_EQ(datagramsOfListing("u3v,virtual"), 0U);
    EXPECT_GT(datagramsOfListing("virtual,gev"), 0U) << "the count does not see discovery";
    EXPECT_EQ(datagramsOfListing("virtual"), 0U) << "after a gev session";
    qputenv("VXCAM_TRANSPORTS", "gev");
}

} // namespace
} // namespace vxcam::test
