// The module against a fake GigE Vision camera whose link goes away for seconds while the host drives it: every
// call answers (and fails) within the two seconds the host's callers expect, the host is told that the camera is
// gone, and once the link is back the camera streams again, pixel-correct. Camera 6 of run-in-netns.sh's test
// network is this file's; each test gives its link back.
#include "tests/gev/GevFixture.h"

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

namespace vxcam::test {
namespace {

constexpr const char* kSerial = "GV06";
// Within this the contract's callers expect every call to answer.
constexpr auto kAnswerBound = 2s;
// The producer's note that a camera which had not answered does so again.
constexpr const char* kAnswersAgain = "answers again";

// A contract call made while the link is down; its answer, when it has one: true for a success.
struct OutageCall {
    const char* name;
    std::function<std::optional<bool>(ICameraObject&)> call;
};

std::optional<bool> setExposure(ICameraObject& camera) {
    CameraProperty exposure{kExposureProperty, 20000};
    return camera.ISetProperty(&exposure);
}
std::optional<bool> startInSoftwareTrigger(ICameraObject& camera) {
    camera.m_nTriggerMode = SoftTrigger;
    return camera.IStartCamera() == 1;
}
std::optional<bool> sendSoftTrigger(ICameraObject& camera) {
    return asVeyraCamera(&camera)->ISendSoftTrigger() == 1;
}
std::optional<bool> setSoftTriggerMode(ICameraObject& camera) {
    camera.ISetSoftTriggerMode();
    return std::nullopt;
}
std::optional<bool> stopCamera(ICameraObject& camera) {
    camera.IStopCamera();
    return std::nullopt;
}
std::optional<bool> closeCamera(ICameraObject& camera) {
    camera.ICloseCamera();
    return std::nullopt;
}
std::optional<bool> openCamera(ICameraObject& camera) {
    return camera.IOpenCamera() == 1;
}

class GevOutageTest : public GevTest {
protected:
    void TearDown() override {
        GevTest::TearDown();
        EXPECT_TRUE(controlNetwork("link-up 6"));
    }

    // Opens camera 6 and starts it free running; every frame is checked for its picture.
    void startFreeRun() {
        prepare(kSerial, "Mono8", 128, 64, 50.0);
        m_camera = open(kSerial, m_config, m_frames);
        m_camera->m_nTriggerMode = FreeRun;
        ASSERT_EQ(m_camera->IStartCamera(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(5)) << "only " << m_frames.count() << " frames";
    }

    // Makes `call` with the link down: it answers within the bound, and never with a success.
    void expectQuickFailure(const OutageCall& call) {
        const Clock::time_point before = Clock::now();
        const std::optional<bool> answer = call.call(*m_camera);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
        EXPECT_LT(took, kAnswerBound) << call.name << " took " << took.count() << " ms";
        if (answer.has_value()) {
            EXPECT_FALSE(*answer) << call.name << " reported a success on a camera that cannot be reached";
        }
    }

    // The host's step once the camera answers again: a call that did not answer may have taken effect after all,
    // so the camera is programmed anew, stopped and started (opened first when it was closed). Frames flow again,
    // free running, and every new one shows the camera's picture whole.
    void expectPixelCorrectFramesAgain(PixelCheck& pixels) {
        if (!m_camera->m_bOpened) {
            ASSERT_EQ(m_camera->IOpenCamera(), 1) << "the camera cannot be opened again";
        }
        m_camera->IStopCamera();
        m_camera->m_nTriggerMode = FreeRun;
        ASSERT_EQ(m_camera->IStartCamera(), 1);
        const std::size_t before = m_frames.count();
        EXPECT_TRUE(m_frames.waitForFrames(before + 10)) << "only " << m_frames.count() - before << " new frames";
        m_camera->IStopCamera();
        const std::lock_guard lock(pixels.mutex);
        EXPECT_GT(pixels.checked, 10);
        EXPECT_EQ(pixels.wrong, 0) << "of " << pixels.checked << " frames";
    }

    PixelCheck m_pixels;
};

// The first call after the link went down meets a camera that does not answer; the link comes back before the
// camera ends the session. The call failed within the bound; once the camera answers again, the same object works
// again without a new open (unless the call was the close).
class FirstCallOfAShortOutage : public GevOutageTest, public ::testing::WithParamInterface<OutageCall> {};

TEST_P(FirstCallOfAShortOutage, FailsInTimeAndTheCameraWorksAgainOnceItAnswers) {
    m_frames.setAction(m_pixels.action());
    ASSERT_NO_FATAL_FAILURE(startFreeRun());
    LogLineWatch answers(QString::fromLatin1(kAnswersAgain));
    LogLineWatch ended(QStringLiteral("the call that had not answered has ended"));
    ControlLostWatch lost;
    ASSERT_TRUE(controlNetwork("link-down 6"));
    expectQuickFailure(GetParam());
    ASSERT_TRUE(controlNetwork("link-up 6"));
    if (m_camera->m_bOpened) {
        ASSERT_TRUE(answers.wait(10s)) << "the camera was not found answering again";
        EXPECT_FALSE(lost.wait(0ms)) << "a short outage ended the session";
    } else {
        // Closed during the outage: nothing watches the camera any more; it is opened again once the call that
        // did not answer has ended.
        ASSERT_TRUE(ended.wait(10s)) << "the call that did not answer never ended";
        ASSERT_EQ(m_camera->IOpenCamera(), 1) << "the camera cannot be opened again";
    }
    CameraProperty exposure{kExposureProperty, 20000};
    EXPECT_TRUE(m_camera->ISetProperty(&exposure)) << "the camera answers, its object does not";
    expectPixelCorrectFramesAgain(m_pixels);
}

INSTANTIATE_TEST_SUITE_P(Calls, FirstCallOfAShortOutage,
                         ::testing::Values(OutageCall{"SetExposure", setExposure},
                                           OutageCall{"StartInSoftwareTrigger", startInSoftwareTrigger},
                                           OutageCall{"SendSoftTrigger", sendSoftTrigger},
                                           OutageCall{"SetSoftTriggerMode", setSoftTriggerMode},
                                           OutageCall{"StopCamera", stopCamera},
                                           OutageCall{"CloseCamera", closeCamera}),
                         [](const ::testing::TestParamInfo<OutageCall>& call) { return std::string(call.param.name); });

// The link stays down until the camera has ended the session, under a host that takes 50 ms per frame. Every call
// answers within the bound and fails; the host is told that control is lost; the close and a new open during the
// outage answer in time too. Once the link is back, the same object opens the camera again and frames flow,
// pixel-correct, with no memory left growing. Deletes during a later outage return in time as well.
TEST_F(GevOutageTest, ALongOutageIsReportedAndTheSameObjectOpensTheCameraAgain) {
    const FrameRecorder::Action check = m_pixels.action();
    m_frames.setAction([&check](ICameraObject& camera, const RecordedFrame& frame) {
        check(camera, frame);
        std::this_thread::sleep_for(50ms);
    });
    ASSERT_NO_FATAL_FAILURE(startFreeRun());
    const uint64_t heapEarly = heapBytesInUse();
    ControlLostWatch lost;
    const Clock::time_point down = Clock::now();
    ASSERT_TRUE(controlNetwork("link-down 6"));
    for (const OutageCall& call :
         {OutageCall{"SetExposure", setExposure}, OutageCall{"SendSoftTrigger", sendSoftTrigger},
          OutageCall{"StartInSoftwareTrigger", startInSoftwareTrigger},
          OutageCall{"SetSoftTriggerMode", setSoftTriggerMode}, OutageCall{"StopCamera", stopCamera}}) {
        expectQuickFailure(call);
    }
    ASSERT_TRUE(lost.wait(15s)) << "the host was not told that the camera is gone";
    const auto toldAfter = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - down);
    EXPECT_LT(toldAfter, 8s) << "told only after " << toldAfter.count() << " ms";
    std::cout << "control lost reported " << toldAfter.count() << " ms after the link went down\n";
    for (const OutageCall& call : {OutageCall{"SetExposure", setExposure}, OutageCall{"CloseCamera", closeCamera},
                                   OutageCall{"OpenCamera", openCamera}}) {
        expectQuickFailure(call);
    }
    EXPECT_FALSE(m_camera->m_bOpened);
    ASSERT_TRUE(controlNetwork("link-up 6"));

    m_frames.clear();
    expectPixelCorrectFramesAgain(m_pixels);
    EXPECT_LT(heapBytesInUse(), heapEarly + (uint64_t{1} << 20U)) << "from " << heapEarly;

    // Deletes during a later outage answer in time: the object's while another object lives, and the last one's,
    // which waits for the module's threads, though the camera's control thread still waits for an answer.
    m_second = m_module.makeCamera(&m_secondConfig, &m_secondFrames);
    ASSERT_EQ(m_camera->IStartCamera(), 1);
    ASSERT_TRUE(controlNetwork("link-down 6"));
    Clock::time_point before = Clock::now();
    m_camera.reset();
    EXPECT_LT(Clock::now() - before, kAnswerBound) << "a delete during an outage";
    before = Clock::now();
    m_second.reset();
    EXPECT_LT(Clock::now() - before, kAnswerBound) << "the last delete during an outage";
}

} // namespace
} // namespace vxcam::test
