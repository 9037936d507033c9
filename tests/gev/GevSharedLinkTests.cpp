// Fake GigE Vision cameras behind one link to the host (run-in-netns.sh --shared-link): the link's speed shared
// out between the cameras streaming over it, a packet size the host chose, and a camera whose stream packets
// cannot reach the host at all.
#include "tests/gev/GevFixture.h"
#include "tests/support/LogCapture.h"

#include <QProcess>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace vxcam::test {
namespace {

constexpr int kCameras = 3;
// The fake camera's timestamp clock counts nanoseconds; its inter-packet delay is in ticks of that clock.
constexpr double kCameraClockHz = 1e9;
// What an Ethernet frame costs the wire beyond its IP packet: header, checksum, preamble, gap.
constexpr double kEthernetBytes = 38;

std::string serialOf(int camera) {
    return "GV0" + std::to_string(camera);
}

// The test network's cameras, by serial number, in one walk of the lists (each refresh of a device list waits for
// the answers to a discovery). The SDK keeps a device object as long as its system list.
std::map<std::string, sdk::Device*> devicesBySerial() {
    std::map<std::string, sdk::Device*> found;
    for (sdk::Device* device : allDevices()) {
        found[device->GetSerialNumber().str()] = device;
    }
    return found;
}

// One camera of the shared link, opened through the module.
struct Streaming {
    CameraConfig config;
    FrameRecorder frames;
    PixelCheck whole;
    ModuleLoader::Camera camera{nullptr, {nullptr}};
};

class SharedLinkTest : public GevTest {
protected:
    void SetUp() override {
        GevTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        m_linkKbit = qEnvironmentVariableIntValue("VXCAM_GEV_SHARED_LINK_KBIT");
        if (m_linkKbit <= 0 || qEnvironmentVariableIntValue("VXCAM_GEV_CAMERAS") < kCameras) {
            GTEST_SKIP() << "runs only behind run-in-netns.sh --shared-link with " << kCameras << " cameras";
        }
        const std::map<std::string, sdk::Device*> devices = devicesBySerial();
        for (int i = 1; i <= kCameras; ++i) {
            const auto found = devices.find(serialOf(i));
            ASSERT_NE(found, devices.end()) << serialOf(i);
            m_devices.at(static_cast<std::size_t>(i - 1)) = found->second;
        }
    }
    void TearDown() override {
        for (auto& streaming : m_streaming) {
            streaming.reset();
        }
        GevTest::TearDown();
        qunsetenv("VXCAM_GEV_LINK_MBPS");
        for (int i = 1; i <= kCameras; ++i) {
            EXPECT_TRUE(controlNetwork("link-loss " + std::to_string(i) + " 0"));
        }
    }

    [[nodiscard]] sdk::Device& device(int index) const { return *m_devices.at(static_cast<std::size_t>(index - 1)); }

    // Camera `index` (1-based) as 256 x 128 Mono8 at 25 frames a second: the fake camera keeps what is set while
    // closed.
    void prepare(int index) const {
        device(index).Open();
        device(index).GetRemoteNode("PixelFormat")->SetString("Mono8");
        device(index).GetRemoteNode("Width")->SetInt(256);
        device(index).GetRemoteNode("Height")->SetInt(128);
        device(index).GetRemoteNode("AcquisitionFrameRate")->SetDouble(25.0);
        // A delay of the camera's own, as a camera set up earlier keeps it: written while the camera is open for
        // the preparation only, it is no choice of the host's for the module's opening.
        device(index).GetRemoteNode("GevSCPD")->SetInt(ownDelay(index));
        device(index).Close();
    }
    static int64_t ownDelay(int index) { return 700 + index; }

    // Opens camera `index` (1-based), prepared, and starts it free running.
    Streaming& startFreeRun(int index) {
        prepare(index);
        auto streaming = std::make_unique<Streaming>();
        streaming->frames.setAction(streaming->whole.action());
        streaming->camera = open(serialOf(index).c_str(), streaming->config, streaming->frames);
        streaming->camera->m_nTriggerMode = FreeRun;
        EXPECT_EQ(streaming->camera->IStartCamera(), 1) << serialOf(index);
        m_streaming.at(static_cast<std::size_t>(index - 1)) = std::move(streaming);
        return *m_streaming.at(static_cast<std::size_t>(index - 1));
    }

    [[nodiscard]] int64_t feature(int index, const char* name) const {
        try {
            return device(index).GetRemoteNode(name)->GetInt();
        } catch (const sdk::Exceptions::IException& error) {
            ADD_FAILURE() << serialOf(index) << " " << name << ": " << error.GetErrorDescription();
            return -1;
        }
    }

    // The most a camera can send, in bits a second, with its packet size and inter-packet delay on this link:
    // one packet (with its Ethernet framing) every time it takes on the wire plus the delay.
    [[nodiscard]] double cameraRate(int index) const {
        const double wireBits =
            8 * (static_cast<double>(feature(index, "GevSCPSPacketSize") & 0xffff) + kEthernetBytes);
        const double delaySeconds = static_cast<double>(feature(index, "GevSCPD")) / kCameraClockHz;
        return wireBits / (wireBits / linkBitsPerSecond() + delaySeconds);
    }
    // The host's end is a veth, which tells no speed of its own: the test says what the module takes.
    void sayTheLinkIs(int mbps) {
        m_saidMbps = mbps;
        qputenv("VXCAM_GEV_LINK_MBPS", QByteArray::number(mbps));
    }
    [[nodiscard]] double linkBitsPerSecond() const { return m_saidMbps * 1e6; }

    // Each of `cameras` holds to its share of the link (nine tenths of it spread evenly), and not much below.
    void expectShares(std::initializer_list<int> cameras) const {
        const double share = 0.9 * linkBitsPerSecond() / static_cast<double>(cameras.size());
        for (const int index : cameras) {
            const double rate = cameraRate(index);
            EXPECT_LE(rate, share * 1.001) << serialOf(index) << " with " << cameras.size() << " cameras";
            EXPECT_GE(rate, share * 0.99) << serialOf(index) << " with " << cameras.size() << " cameras";
        }
    }

    int m_linkKbit = 0; // the switch's port to the host
    int m_saidMbps = 0; // what the module is told
    std::array<sdk::Device*, kCameras> m_devices{};
    std::array<std::unique_ptr<Streaming>, kCameras> m_streaming;
};

bool mentions(const QStringList& lines, std::initializer_list<const char*> words) {
    for (const QString& line : lines) {
        bool all = true;
        for (const char* word : words) {
            all = all && line.contains(QLatin1String(word));
        }
        if (all) {
            return true;
        }
    }
    return false;
}

// Cameras starting one after another over one link: the first alone keeps its own inter-packet delay, each
// further start spreads the link anew over every camera streaming (the ones started before slow down), a stop
// gives the stopped camera its own delay back and the others its share, and the frames of all of them arrive
// whole meanwhile. The fake camera stores the inter-packet delay but sends at full speed whatever it says; the
// link's token bucket is wide enough for the three streams, so the frames test the link and the delays test
// the budget.
TEST_F(SharedLinkTest, CamerasStreamingThroughOneLinkShareItAndStayWhole) {
    // The fake camera takes delays of at most 1000 ticks (1 us), which hold three cameras to their shares only on
    // links of about 27 Gb/s and more: the module is told of such a link, so that every share fits the camera's
    // range. The frames still cross the switch's port of m_linkKbit, which the unpaced streams fit.
    sayTheLinkIs(40000);
    const LogCapture log;
    startFreeRun(1);
    EXPECT_EQ(feature(1, "GevSCPD"), ownDelay(1)) << "a camera alone on its link";
    startFreeRun(2);
    expectShares({1, 2});
    startFreeRun(3);
    expectShares({1, 2, 3});
    for (int i = 1; i <= kCameras; ++i) {
        EXPECT_TRUE(m_streaming.at(i - 1)->frames.waitForFrames(30)) << serialOf(i);
    }
    m_streaming.at(2)->camera->IStopCamera();
    expectShares({1, 2});
    EXPECT_EQ(feature(3, "GevSCPD"), ownDelay(3)) << "a camera that stopped";
    m_streaming.at(1)->camera->IStopCamera();
    EXPECT_EQ(feature(1, "GevSCPD"), ownDelay(1)) << "a camera alone on its link again";
    const std::size_t before = m_streaming.at(0)->frames.count();
    EXPECT_TRUE(m_streaming.at(0)->frames.waitForFrames(before + 10)) << "camera 1 stopped with the others";
    for (const auto& streaming : m_streaming) {
        streaming->camera->IStopCamera();
        const std::lock_guard lock(streaming->whole.mutex);
        EXPECT_GT(streaming->whole.checked, 0);
        EXPECT_EQ(streaming->whole.wrong, 0) << "of " << streaming->whole.checked << " frames";
    }
    // Every camera sent: none was taken for one whose packets do not arrive.
    EXPECT_FALSE(mentions(log.texts(QtWarningMsg), {"none of its stream packets"}));
}

// The host wrote camera 1's inter-packet delay on the device it keeps open for the module: that camera keeps
// it, and still counts when camera 2 takes its share of the link.
TEST_F(SharedLinkTest, ADelayTheHostChoseIsKeptAndTheCameraStillCounts) {
    constexpr int64_t kHostsDelay = 777;
    sayTheLinkIs(40000); // as above: shares the fake camera's range holds
    prepare(1);
    device(1).Open();
    device(1).GetRemoteNode("GevSCPD")->SetInt(kHostsDelay);
    m_streaming.at(0) = std::make_unique<Streaming>();
    Streaming& first = *m_streaming.at(0);
    first.camera = open("GV01", first.config, first.frames);
    first.camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(first.camera->IStartCamera(), 1);
    startFreeRun(2);
    EXPECT_EQ(feature(1, "GevSCPD"), kHostsDelay);
    const double share = 0.9 * linkBitsPerSecond() / 2;
    EXPECT_LE(cameraRate(2), share * 1.001);
    EXPECT_GE(cameraRate(2), share * 0.99);
    m_streaming.at(1)->camera->IStopCamera();
    EXPECT_EQ(feature(1, "GevSCPD"), kHostsDelay) << "alone again, with the host's delay";
}

// Told the link's real speed (the switch's port), two fake cameras would need delays beyond the 1000 ticks
// they take: each is held as far as its range goes, and the host is told that it may overflow the link.
TEST_F(SharedLinkTest, ACameraThatCannotSlowDownToItsShareIsHeldAtItsLargestDelayWithAWarning) {
    sayTheLinkIs(m_linkKbit / 1000);
    const LogCapture log;
    startFreeRun(1);
    startFreeRun(2);
    for (int i = 1; i <= 2; ++i) {
        const int64_t largest = device(i).GetRemoteNode("GevSCPD")->GetIntMax();
        EXPECT_EQ(feature(i, "GevSCPD"), largest) << serialOf(i);
        EXPECT_TRUE(mentions(log.texts(QtWarningMsg),
                             {serialOf(i).c_str(), "cannot be held to its share", std::to_string(largest).c_str()}))
            << log.texts(QtWarningMsg).join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_TRUE(m_streaming.at(0)->frames.waitForFrames(5));
}

// Not a packet of camera 3's stream reaches the host (a firewall, say), while its control channel answers:
// the camera starts, and the host is told within seconds why no frame comes, with the likely causes.
TEST_F(SharedLinkTest, ACameraWhosePacketsCannotReachTheHostIsReportedWithTheLikelyCauses) {
    ASSERT_TRUE(controlNetwork("link-loss 3 1000"));
    const LogCapture log;
    Streaming& streaming = startFreeRun(3);
    EXPECT_TRUE(log.waitFor(
        QtWarningMsg,
        [](const QStringList& lines) {
            return mentions(lines, {"GV03", "none of its stream packets", "firewall", "rp_filter", "route", "MTU"});
        },
        5s))
        << log.texts(QtWarningMsg).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(streaming.frames.count(), 0U);
    streaming.camera->IStopCamera();
    // Control still works: the camera takes a new exposure.
    CameraProperty exposure{kExposureProperty, 5000};
    EXPECT_TRUE(streaming.camera->ISetProperty(&exposure));
}

// The host wrote the camera's packet size through the SDK layer (above the link's MTU of 1500): the stream keeps
// it instead of negotiating its own, warns that the packets travel as IP fragments, and the frames arrive whole.
TEST_F(SharedLinkTest, APacketSizeTheHostChoseIsKeptWithAWarningAboveTheMtu) {
    constexpr int64_t kHostsPacketSize = 8000;
    prepare(2);
    // Held open, as a host holds a camera it configured: the module takes an open device as it is.
    device(2).Open();
    device(2).GetRemoteNode("GevSCPSPacketSize")->SetInt(kHostsPacketSize);
    const LogCapture log;
    m_streaming.at(1) = std::make_unique<Streaming>();
    Streaming& streaming = *m_streaming.at(1);
    streaming.frames.setAction(streaming.whole.action());
    streaming.camera = open("GV02", streaming.config, streaming.frames);
    streaming.camera->m_nTriggerMode = FreeRun;
    ASSERT_EQ(streaming.camera->IStartCamera(), 1);
    EXPECT_TRUE(streaming.frames.waitForFrames(10));
    EXPECT_EQ(feature(2, "GevSCPSPacketSize") & 0xffff, kHostsPacketSize);
    EXPECT_TRUE(mentions(log.texts(QtWarningMsg), {"GV02", "8000", "as the host configured", "MTU", "1500"}))
        << log.texts(QtWarningMsg).join(QLatin1Char('\n')).toStdString();
    streaming.camera->IStopCamera();
    const std::lock_guard lock(streaming.whole.mutex);
    EXPECT_GT(streaming.whole.checked, 0);
    EXPECT_EQ(streaming.whole.wrong, 0) << "of " << streaming.whole.checked << " frames";
}

// The same through the tool: `vxcam grab --packet-size` writes the size through the SDK layer, and the camera
// streams with it to the end of the run.
TEST_F(SharedLinkTest, TheToolsPacketSizeIsTheOneTheCameraStreamsWith) {
    const QString tool = qEnvironmentVariable("VXCAM_TOOL");
    if (tool.isEmpty()) {
        GTEST_SKIP() << "VXCAM_TOOL names no vxcam";
    }
    prepare(2);
    QProcess grab;
    grab.start(tool, {QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("GV02"),
                      QStringLiteral("--packet-size"), QStringLiteral("8000"), QStringLiteral("--frames"),
                      QStringLiteral("5"), QStringLiteral("--json")});
    ASSERT_TRUE(grab.waitForFinished(30000)) << "vxcam grab did not end";
    const QString errors = QString::fromUtf8(grab.readAllStandardError());
    EXPECT_EQ(grab.exitCode(), 0) << grab.readAllStandardOutput().toStdString() << errors.toStdString();
    EXPECT_TRUE(errors.contains(QLatin1String("as the host configured"))) << errors.toStdString();
    device(2).Open();
    EXPECT_EQ(feature(2, "GevSCPSPacketSize") & 0xffff, 8000);
    device(2).Close();
}

} // namespace
} // namespace vxcam::test
