// The module's main paths on every producer that can stand in for a camera without hardware: the simulated
// one and Aravis's in-process virtual camera. The transport is the test parameter; each case drives the module
// as a host does and looks at the camera through the SDK the module shares.
#include "contract/IVeyraCameraObject.h"
#include "sdk/aravis/AravisDoorbell.h"
#include "sdk/aravis/AravisFrameId.h"
#include "tests/support/TransportFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kExposureProperty = 1; // the property record's identifier for the exposure time

// A simulated camera shaped like Aravis's virtual one: 512 x 512 Mono8 at 25 frames per second, with the older
// exposure feature and its limits.
QString simulatedLikeVirtual() {
    return simConfig({simDevice(QStringLiteral("V1"),
                                QStringLiteral(R"("pixelFormat": "Mono8", "width": 512, "height": 512, "frameRate": 25,
        "exposure": { "feature": "ExposureTimeAbs", "min": 10, "max": 10000000, "value": 10000 })"))});
}

class TransportTest : public OnTransport {
protected:
    void SetUp() override {
        OnTransport::SetUp();
        camera(simulatedLikeVirtual(), cameraId());
    }

    [[nodiscard]] QString cameraId() const { return OnTransport::cameraId(QStringLiteral("V1")); }
    [[nodiscard]] sdk::Device* device() const { return OnTransport::device(QStringLiteral("V1")); }
    ICameraObject& openedCamera() {
        EXPECT_EQ(m_camera->IOpenCamera(), 1);
        return *m_camera;
    }
    // Waits a while for one more frame than `count`; true when one came.
    [[nodiscard]] bool anotherFrameAfter(std::size_t count, std::chrono::milliseconds wait = 400ms) {
        return m_frames.waitForFrames(count + 1, wait);
    }
};

TEST_P(TransportTest, ListsAndOpensTheCameraUnderItsSerialNumber) {
    EXPECT_EQ(m_camera->IEnumAvailableCameras(), QStringList{cameraId()});
    ICameraObject& cam = openedCamera();
    EXPECT_TRUE(cam.m_bOpened);
    EXPECT_EQ(cam.m_nImageFormat, ImageFormatGray8);
    EXPECT_EQ(cam.m_nBitsPerPixel, 8);
    ASSERT_NE(device(), nullptr);
    EXPECT_EQ(bufferListSizes(device()), std::vector<uint64_t>{8});
    cam.ICloseCamera();
    EXPECT_FALSE(cam.m_bOpened);
    EXPECT_FALSE(device()->IsOpen());
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty()) << m_log.texts(QtCriticalMsg).join('\n').toStdString();
}

TEST_P(TransportTest, FreeRunFillsTheDriversBuffersWithIncreasingFrameIds) {
    ICameraObject& cam = openedCamera();
    cam.m_nTriggerMode = FreeRun;
    VeyraFrameLayout layout;
    m_frames.setAction([&](ICameraObject& camera, const RecordedFrame&) {
        if (m_frames.count() == 0) {
            asVeyraCamera(&camera)->IGetFrameLayout(&layout);
        }
    });
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(8));
    cam.IStopCamera();
    const std::vector<RecordedFrame> frames = m_frames.frames();
    std::vector<const void*> memories;
    for (auto& stream : *device()->GetDataStreams()) {
        for (auto& buffer : *stream.second->GetBufferList()) {
            memories.push_back(buffer.second->GetMemPtr());
        }
    }
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].width, 512);
        EXPECT_EQ(frames[i].height, 512);
        EXPECT_NE(std::find(memories.begin(), memories.end(), frames[i].data), memories.end()) << "copied frame";
        if (i > 0) {
            EXPECT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
        }
    }
    EXPECT_STREQ(layout.pixelFormat, "Mono8");
    EXPECT_EQ(layout.linePitch, 512U);
}

// After a stop no frame reaches the host and the camera sends nothing; a start makes it stream again.
TEST_P(TransportTest, StopIsQuietAndStartStreamsAgain) {
    ICameraObject& cam = openedCamera();
    cam.m_nTriggerMode = FreeRun;
    for (int round = 0; round < 2; ++round) {
        const std::size_t before = m_frames.count();
        ASSERT_EQ(cam.IStartCamera(), 1) << "round " << round;
        ASSERT_TRUE(m_frames.waitForFrames(before + 3)) << "round " << round;
        cam.IStopCamera();
        const std::size_t stopped = m_frames.count();
        EXPECT_FALSE(anotherFrameAfter(stopped)) << "round " << round;
    }
    // Every buffer is back in the stream's queue once nothing runs.
    for (auto& stream : *device()->GetDataStreams()) {
        EXPECT_EQ(stream.second->GetBufferList()->GetQueuedCount(), 8U);
        EXPECT_FALSE(stream.second->GetIsGrabbing());
    }
}

TEST_P(TransportTest, SoftwareTriggerGivesOneFramePerTrigger) {
    ICameraObject& cam = openedCamera();
    cam.m_nTriggerMode = SoftTrigger;
    ASSERT_EQ(cam.IStartCamera(), 1);
    EXPECT_FALSE(anotherFrameAfter(0)) << "a frame without a trigger";
    for (std::size_t trigger = 1; trigger <= 3; ++trigger) {
        ASSERT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(trigger)) << "trigger " << trigger;
    }
    EXPECT_FALSE(anotherFrameAfter(3)) << "more frames than triggers";
    cam.IStopCamera();
}

TEST_P(TransportTest, ExposureReachesTheCamerasFeatureWithinItsLimits) {
    m_config.exposureTime = 2500;
    ICameraObject& cam = openedCamera();
    cam.InitProperty();
    sdk::Node* exposure = device()->GetRemoteNode("ExposureTimeAbs");
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 2500.0);
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMin(), 10.0);
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMax(), 10000000.0);
    CameraProperty outside{kExposureProperty, 5};
    EXPECT_FALSE(cam.ISetProperty(&outside)) << "the answer says the value was not written";
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 2500.0) << "a value below the limit was written";
    CameraProperty inside{kExposureProperty, 40000};
    EXPECT_TRUE(cam.ISetProperty(&inside));
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 40000.0);
}

// A feature the camera lacks, or a write it refuses, is an SDK error with its three texts, never a crash.
TEST_P(TransportTest, MissingAndReadOnlyFeaturesRaiseSdkErrors) {
    openedCamera();
    try {
        static_cast<void>(device()->GetRemoteNode("NoSuchFeature"));
        ADD_FAILURE() << "no error for an absent feature";
    } catch (const sdk::Exceptions::IException& error) {
        EXPECT_STREQ(error.GetType(), "NotFoundException");
        EXPECT_NE(std::string(error.GetErrorDescription()).find("NoSuchFeature"), std::string::npos);
        EXPECT_NE(error.GetFunctionName().get(), nullptr);
    }
    EXPECT_FALSE(device()->GetRemoteNodeList()->GetNodePresent("NoSuchFeature"));
    EXPECT_TRUE(device()->GetRemoteNode("TriggerSource")->GetEnumNodeList()->GetNodePresent("Software"));
    EXPECT_FALSE(device()->GetRemoteNode("TriggerSource")->GetEnumNodeList()->GetNodePresent("NoSuchEntry"));
}

// The session's fault rules strike every producer's calls alike: a refused open is the driver's SDK error.
TEST_P(TransportTest, InjectedFaultsStrikeThisProducerToo) {
    camera(simConfig({simDevice(QStringLiteral("V1"))},
                     QStringLiteral(R"({ "call": "Device::Open", "match": "%1", "description": "device busy" })")
                         .arg(serial(QStringLiteral("V1")))),
           cameraId());
    EXPECT_EQ(m_camera->IOpenCamera(), 0);
    EXPECT_FALSE(m_camera->m_bOpened);
    const QStringList critical = m_log.texts(QtCriticalMsg);
    EXPECT_TRUE(critical.join(QLatin1Char('\n')).contains(QLatin1String("device busy")))
        << critical.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_camera->IOpenCamera(), 1) << "the fault struck more than once";
}

// GigE Vision's 16-bit block IDs (1..65535, then 1 again) become frame IDs that only grow, gaps kept.
TEST(FrameIdExtender, BlockIdsBecomeFrameIdsThatNeverWrap) {
    struct Case {
        const char* what;
        std::vector<uint64_t> blocks;
        std::vector<uint64_t> frames;
    };
    const std::vector<Case> cases = {
        {"in order", {7, 8, 9}, {7, 8, 9}},
        {"over the wrap, 0 skipped", {65534, 65535, 1, 2}, {65534, 65535, 65536, 65537}},
        {"a gap over the wrap", {65533, 2}, {65533, 65537}},
        {"twice round",
         {65535, 30000, 60000, 1, 30000, 60000, 1},
         {65535, 95535, 125535, 131071, 161070, 191070, 196606}},
        {"a repeated ID moves on a whole round", {5, 5}, {5, 65540}},
        {"a late block keeps its place behind the newest", {100, 103, 101, 104}, {100, 103, 101, 104}},
        {"a late block from before the wrap", {65534, 2, 65535, 3}, {65534, 65537, 65535, 65538}},
        {"half a round forward is still forward", {1, 32768}, {1, 32768}},
    };
    for (const Case& c : cases) {
        sdk::aravis::FrameIdExtender extender;
        std::vector<uint64_t> frames;
        for (const uint64_t block : c.blocks) {
            frames.push_back(extender.extend(block));
        }
        EXPECT_EQ(frames, c.frames) << c.what;
    }
}

// The receiving thread's doorbell: a waiter that has seen every ring's news so far and waits again must be woken
// by the next ring, whether it already sleeps or is about to. A lost wake-up leaves the last frame undelivered
// until another one comes; here, where none comes, the waiter would sleep for good.
// The doorbell over the system's sleep (a futex here) and over the portable one that systems without it use.
template <typename Words>
class DoorbellTest : public ::testing::Test {};
using SleepKinds = ::testing::Types<sdk::aravis::platform::SystemWords, sdk::aravis::platform::PortableWords>;
TYPED_TEST_SUITE(DoorbellTest, SleepKinds);

TYPED_TEST(DoorbellTest, EveryRingReachesAWaiterThatSleepsOrIsAboutTo) {
    constexpr uint64_t kRings = 200000;
    sdk::aravis::BasicDoorbell<TypeParam> bell;
    std::atomic<uint64_t> news{0}; // the ringer's count of rings made; the waiter reads it after each wake-up
    auto waiter = std::async(std::launch::async, [&] {
        uint64_t wakeUps = 0;
        while (news.load() < kRings) {
            bell.waitForRing();
            ++wakeUps;
        }
        return wakeUps;
    });
    for (uint64_t ring = 1; ring <= kRings; ++ring) {
        news.store(ring);
        bell.ring();
        if (ring % 1000 == 0) {
            std::this_thread::sleep_for(50us); // lets the waiter fall asleep, so that rings also find it sleeping
        }
    }
    const bool woken = waiter.wait_for(60s) == std::future_status::ready;
    EXPECT_TRUE(woken) << "the waiter sleeps on after the last ring";
    while (waiter.wait_for(10ms) != std::future_status::ready) {
        bell.ring(); // frees a stuck waiter, so that the test ends
    }
    EXPECT_LE(waiter.get(), kRings) << "the waiter returned without a ring";
}

TEST(PortableWords, EverySleeperWakesWhenWordsShareALock) {
    // More words than the portable sleep has lock pairs: some words share one, and a wake-up on one word must
    // still reach the sleepers of every word, each of which checks its own.
    constexpr std::size_t kWords = 65;
    constexpr uint32_t kChanges = 200;
    std::vector<std::atomic<uint32_t>> words(kWords);
    std::vector<std::future<void>> sleepers;
    sleepers.reserve(kWords);
    for (std::atomic<uint32_t>& word : words) {
        sleepers.push_back(std::async(std::launch::async, [&word] {
            for (uint32_t seen = word.load(); seen < kChanges; seen = word.load()) {
                sdk::aravis::platform::portableWaitWhileEqual(word, seen);
            }
        }));
    }
    for (uint32_t change = 1; change <= kChanges; ++change) {
        for (std::atomic<uint32_t>& word : words) {
            word.store(change);
            sdk::aravis::platform::portableWakeWaiters(word);
        }
    }
    for (std::size_t i = 0; i < kWords; ++i) {
        EXPECT_EQ(sleepers[i].wait_for(60s), std::future_status::ready) << "the sleeper of word " << i << " sleeps on";
        while (sleepers[i].wait_for(10ms) != std::future_status::ready) {
            sdk::aravis::platform::portableWakeWaiters(words[i]); // frees a stuck sleeper, so that the test ends
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Producers, TransportTest, ::testing::ValuesIn(allTransports()), transportName);

} // namespace
} // namespace vxcam::test
