// The module against a fake GigE Vision camera over links as factories have them: packets lost, a link slower
// than the camera, an MTU below the camera's packets, stray datagrams at the stream port, packets that arrive twice,
// a link that goes away for seconds, a host that takes its time. Camera 5 of run-in-netns.sh's test network is this
// file's; each test gives its link back as it found it.
#include "tests/gev/GevFixture.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

constexpr const char* kSerial = "GV05";
constexpr int kCamera = 5;
constexpr const char* kHostAddress = "198.18.5.2"; // the host's end of camera 5's link

class GevLinkTest : public GevTest {
protected:
    void TearDown() override {
        GevTest::TearDown();
        // The link as run-in-netns.sh made it.
        EXPECT_TRUE(controlNetwork("link-up 5"));
        EXPECT_TRUE(controlNetwork("link-loss 5 0"));
        EXPECT_TRUE(controlNetwork("link-rate 5 0"));
        EXPECT_TRUE(controlNetwork("link-mtu 5 1500"));
    }

    // Opens camera 5 as `pixelFormat`, width x height at `rate` frames a second, and starts it free running.
    void startFreeRun(int64_t width, int64_t height, double rate) {
        prepare(kSerial, "Mono8", width, height, rate);
        m_camera = open(kSerial, m_config, m_frames);
        m_camera->m_nTriggerMode = FreeRun;
        ASSERT_EQ(m_camera->IStartCamera(), 1);
    }

    // An integer feature of the open camera; -1 (and a failure) when it cannot be read.
    static int64_t cameraFeature(const char* name) {
        try {
            return devicesWithSerial(kSerial).front()->GetRemoteNode(name)->GetInt();
        } catch (const sdk::Exceptions::IException& error) {
            ADD_FAILURE() << name << ": " << error.GetErrorDescription();
            return -1;
        }
    }

    // Frames the IDs of the delivered frames say are missing between the first and the last.
    static int64_t framesMissingByTheirIds(const std::vector<RecordedFrame>& frames) {
        int64_t missing = 0;
        for (std::size_t i = 1; i < frames.size(); ++i) {
            missing += static_cast<int64_t>(frames[i].frameId) - frames[i - 1].frameId - 1;
        }
        return missing;
    }
};

// 3 % of the stream's packets are dropped on the way. Lost packets are asked for again and mostly come; frames
// whose packets stay missing never reach the host; the delivered frames' IDs step only over frames the
// statistics count as lost (never a lap of 65535), and the statistics reach the host through the family's
// operation.
TEST_F(GevLinkTest, UnderPacketLossFrameIdsStepOnlyOverFramesReallyLost) {
    ASSERT_TRUE(controlNetwork("link-loss 5 30"));
    PixelCheck pixels;
    m_frames.setAction(pixels.action());
    startFreeRun(128, 64, 100.0);
    EXPECT_TRUE(m_frames.waitForFrames(100, 20s)) << "only " << m_frames.count() << " frames";
    m_camera->IStopCamera();
    VeyraStreamStatistics statistics;
    ASSERT_EQ(asVeyraCamera(m_camera.get())->IGetStreamStatistics(&statistics), 1);
    const std::vector<RecordedFrame> frames = m_frames.frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
    }
    // Each frame lost for want of a buffer lost at least one packet for it.
    EXPECT_LE(
        framesMissingByTheirIds(frames),
        static_cast<int64_t>(statistics.framesIncomplete + statistics.framesMissing + statistics.packetsNoBuffer));
    EXPECT_GE(statistics.framesCompleted, frames.size());
    EXPECT_GT(statistics.framesIncomplete, 0U) << "a 3 % loss that tore no frame: the test proves nothing";
    EXPECT_GT(statistics.packetsMissing, 0U);
    const std::lock_guard lock(pixels.mutex);
    EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
}

// Links that lose nothing: every frame arrives whole, none torn.
struct WholeLinkCase {
    const char* name;
    const char* linkControl; // run before the start; null: the link as the test network made it
    int64_t width;
    int64_t height;
    double rate;
    std::size_t frames;
    std::chrono::seconds patience;
    bool noPacketMissing; // the link cannot have made the camera resend
};

class WholeLinkTest : public GevLinkTest, public ::testing::WithParamInterface<WholeLinkCase> {};

TEST_P(WholeLinkTest, DeliversEveryFrameWhole) {
    const WholeLinkCase& link = GetParam();
    if (link.linkControl != nullptr) {
        ASSERT_TRUE(controlNetwork(link.linkControl));
    }
    PixelCheck pixels;
    m_frames.setAction(pixels.action());
    startFreeRun(link.width, link.height, link.rate);
    EXPECT_TRUE(m_frames.waitForFrames(link.frames, link.patience)) << "only " << m_frames.count() << " frames";
    m_camera->IStopCamera();
    VeyraStreamStatistics statistics;
    ASSERT_EQ(asVeyraCamera(m_camera.get())->IGetStreamStatistics(&statistics), 1);
    EXPECT_EQ(statistics.framesIncomplete, 0U);
    if (link.noPacketMissing) {
        EXPECT_EQ(statistics.packetsMissing, 0U);
    }
    const std::lock_guard lock(pixels.mutex);
    EXPECT_GE(pixels.checked, static_cast<int>(link.frames));
    EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
}

INSTANTIATE_TEST_SUITE_P(Links, WholeLinkTest,
                         ::testing::Values(
                             // Frames of a few hundred packets each: the stream's socket holds a whole frame's burst.
                             WholeLinkCase{"CleanLinkFramesOfManyPackets", nullptr, 512, 512, 25.0, 20, 10s, true},
                             // 8 Mb/s, slower than the camera's bursts (a camera held to its share of a shared link, a
                             // slow uplink): a 128 KiB frame takes about 130 ms to arrive, longer than a frame may wait
                             // for resent packets; four frames a second fill half the link.
                             WholeLinkCase{"SlowLinkFramesLongerToArriveThanTheResendWait", "link-rate 5 8000", 512,
                                           256, 4.0, 8, 10s, false}),
                         [](const ::testing::TestParamInfo<WholeLinkCase>& link) {
                             return std::string(link.param.name);
                         });

// A host whose callback takes 50 ms a frame, with the camera at 100 frames a second: half the frames find no
// buffer. The IDs say so and no more, the frames delivered are whole, and the process's memory does not grow
// with the frames the host cannot take.
TEST_F(GevLinkTest, ASlowHostSeesGapsOnlyForFramesReallyLostAndNoGrowingMemory) {
    PixelCheck pixels;
    const FrameRecorder::Action check = pixels.action();
    m_frames.setAction([&check](ICameraObject& camera, const RecordedFrame& frame) {
        check(camera, frame);
        std::this_thread::sleep_for(50ms);
    });
    startFreeRun(128, 64, 100.0);
    ASSERT_TRUE(m_frames.waitForFrames(10)) << "only " << m_frames.count() << " frames";
    const uint64_t heapEarly = heapBytesInUse();
    EXPECT_TRUE(m_frames.waitForFrames(50, 20s)) << "only " << m_frames.count() << " frames";
    const uint64_t heapLate = heapBytesInUse();
    m_camera->IStopCamera();
    // 40 frames recorded and their bookkeeping: a few kilobytes; a queue of the frames the host could not take
    // would be megabytes.
    EXPECT_LT(heapLate, heapEarly + (uint64_t{1} << 20U)) << heapEarly << " then " << heapLate;
    VeyraStreamStatistics statistics;
    ASSERT_EQ(asVeyraCamera(m_camera.get())->IGetStreamStatistics(&statistics), 1);
    const std::vector<RecordedFrame> frames = m_frames.frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
    }
    EXPECT_GT(framesMissingByTheirIds(frames), 0) << "a slow host that lost nothing: the test proves nothing";
    EXPECT_GT(statistics.packetsNoBuffer, 0U);
    EXPECT_LE(
        framesMissingByTheirIds(frames),
        static_cast<int64_t>(statistics.framesIncomplete + statistics.framesMissing + statistics.packetsNoBuffer));
    const std::lock_guard lock(pixels.mutex);
    EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
}

// UDP ports bound on the host's end of camera 5's link: the camera's control and stream sockets (the test network's
// namespace has no other user).
std::vector<uint16_t> udpPortsOnTheHostsEnd() {
    QFile table(QStringLiteral("/proc/net/udp"));
    std::vector<uint16_t> ports;
    if (!table.open(QIODevice::ReadOnly)) {
        return ports;
    }
    const QString hostEnd = QStringLiteral("020512C6:"); // 198.18.5.2, as the kernel writes it
    for (const QString& line : QString::fromLatin1(table.readAll()).split(QLatin1Char('\n'))) {
        const QStringList fields = line.simplified().split(QLatin1Char(' '));
        if (fields.size() > 1 && fields[1].startsWith(hostEnd)) {
            ports.push_back(static_cast<uint16_t>(fields[1].mid(hostEnd.size()).toUInt(nullptr, 16)));
        }
    }
    return ports;
}

// Stray datagrams of each kind reach the control and stream ports while the module grabs: the process lives on and
// frames keep coming.
class StrayDatagramTest : public GevLinkTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(StrayDatagramTest, NeitherEndsTheHostNorStopsTheFrames) {
    startFreeRun(128, 64, 50.0);
    ASSERT_TRUE(m_frames.waitForFrames(5));
    const QByteArray sender = qgetenv("VXCAM_STRAY_DATAGRAMS");
    ASSERT_FALSE(sender.isEmpty()) << "VXCAM_STRAY_DATAGRAMS names no sender";
    const std::vector<uint16_t> ports = udpPortsOnTheHostsEnd();
    ASSERT_GE(ports.size(), 2U) << "the control and stream sockets of the camera are not there";
    for (const uint16_t port : ports) {
        ASSERT_TRUE(controlNetwork("camera-exec 5 " + sender.toStdString() + " " + kHostAddress + " " +
                                   std::to_string(port) + " " + GetParam()));
    }
    const std::size_t after = m_frames.count();
    EXPECT_TRUE(m_frames.waitForFrames(after + 10)) << "no frames after the stray datagrams";
    m_camera->IStopCamera();
}

INSTANTIATE_TEST_SUITE_P(EachKind, StrayDatagramTest,
                         ::testing::Values("empty", "short-header", "leader-huge-image", "leader-odd-image",
                                           "leader-truncated", "leader-unknown-payload", "leader-multipart",
                                           "payload-far-packet", "payload-overlong", "trailer-only", "extended-id",
                                           "random"),
                         [](const ::testing::TestParamInfo<const char*>& kind) {
                             std::string name = kind.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

// A camera whose stream packets are larger than the link's MTU (a jumbo-frame camera on a standard link, or a
// link that carries less than the camera's default): the packet size is negotiated down to what passes, and
// every frame delivered is whole.
struct MtuCase {
    int64_t cameraPacketSize;
    int linkMtu;
};

class MtuTest : public GevLinkTest, public ::testing::WithParamInterface<MtuCase> {};

TEST_P(MtuTest, GivesWholeFramesInPacketsThatPass) {
    ASSERT_TRUE(controlNetwork("link-mtu 5 " + std::to_string(GetParam().linkMtu)));
    {
        sdk::Device* device = devicesWithSerial(kSerial).front();
        device->Open();
        device->GetRemoteNode("GevSCPSPacketSize")->SetInt(GetParam().cameraPacketSize);
        device->Close();
    }
    PixelCheck pixels;
    m_frames.setAction(pixels.action());
    startFreeRun(256, 128, 50.0);
    EXPECT_TRUE(m_frames.waitForFrames(20)) << "only " << m_frames.count() << " frames";
    EXPECT_LE(cameraFeature("GevSCPSPacketSize") & 0xffff, GetParam().linkMtu);
    m_camera->IStopCamera();
    const std::lock_guard lock(pixels.mutex);
    EXPECT_GT(pixels.checked, 0);
    EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
}

INSTANTIATE_TEST_SUITE_P(Links, MtuTest, ::testing::Values(MtuCase{8000, 1500}, MtuCase{1400, 1000}),
                         [](const ::testing::TestParamInfo<MtuCase>& link) {
                             return "Packets" + std::to_string(link.param.cameraPacketSize) + "Mtu" +
                                    std::to_string(link.param.linkMtu);
                         });

// Every stream packet arrives twice, the copy late, as over a redundant path or through a switch that floods:
// copies of frames already delivered are never delivered again, nor mixed into later frames, and the frames the
// camera sends meanwhile still arrive, whole.
class LateDuplicateTest : public GevLinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(LateDuplicateTest, NeitherRepeatNorTearNorLoseFrames) {
    const QByteArray duplicator = qgetenv("VXCAM_LATE_DUPLICATES");
    ASSERT_FALSE(duplicator.isEmpty()) << "VXCAM_LATE_DUPLICATES names no duplicator";
    PixelCheck pixels;
    m_frames.setAction(pixels.action());
    startFreeRun(128, 64, 50.0);
    ASSERT_TRUE(m_frames.waitForFrames(5));
    const std::size_t before = m_frames.count();
    // For one and a half seconds every packet is sent again, GetParam() milliseconds after the original.
    ASSERT_TRUE(
        controlNetwork("camera-exec 5 " + duplicator.toStdString() + " vxc5 " + std::to_string(GetParam()) + " 1500"));
    const std::size_t during = m_frames.count() - before;
    EXPECT_TRUE(m_frames.waitForFrames(m_frames.count() + 10)) << "no frames after the copies";
    m_camera->IStopCamera();
    VeyraStreamStatistics statistics;
    ASSERT_EQ(asVeyraCamera(m_camera.get())->IGetStreamStatistics(&statistics), 1);
    const std::vector<RecordedFrame> frames = m_frames.frames();
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i << " repeats or goes back";
    }
    EXPECT_LE(
        framesMissingByTheirIds(frames),
        static_cast<int64_t>(statistics.framesIncomplete + statistics.framesMissing + statistics.packetsNoBuffer));
    // 50 frames a second for at least one and a half seconds; a few may be lost to a busy machine, not most.
    EXPECT_GE(during, 40U) << "frames stopped while the copies came";
    const std::lock_guard lock(pixels.mutex);
    EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
}

// A copy within the same frame, one a frame later, and one several frames later.
INSTANTIATE_TEST_SUITE_P(Delays, LateDuplicateTest, ::testing::Values(2, 30, 300),
                         [](const ::testing::TestParamInfo<int>& delay) { return std::to_string(delay.param) + "ms"; });

} // namespace
} // namespace vxcam::test
