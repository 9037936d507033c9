// Frames from a camera to the host: pass-through or converted, their fields, and what a failing frame leaves
// behind. Each test runs on every transport that needs no hardware.
#include "contract/IVeyraCameraObject.h"
#include "tests/support/TransportFixture.h"

#include <QLoggingCategory>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <ostream>
#include <thread>

namespace vxcam::test {
namespace {

using DeliveryTest = OnTransport;

// Starts in software trigger, takes three frames one trigger each, and stops.
void grabThreeBySoftTrigger(ICameraObject& cam, FrameRecorder& frames) {
    cam.m_nTriggerMode = SoftTrigger;
    ASSERT_EQ(cam.IStartCamera(), 1);
    for (std::size_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
        ASSERT_TRUE(frames.waitForFrames(n));
    }
    cam.IStopCamera();
}

constexpr const char* kNeedsChosenFormat =
    "the pixel format is chosen in the simulated camera file; the virtual camera sends Mono8";
constexpr const char* kNeedsFrameIdControl =
    "needs frame IDs that the simulated camera counts from a chosen first one; the virtual camera's run on";

// Memory of every buffer of the device's streams.
std::vector<const void*> bufferMemories(sdk::Device* device) {
    std::vector<const void*> memories;
    sdk::DataStreamList* streams = device->GetDataStreams();
    streams->Refresh();
    for (auto& stream : *streams) {
        for (auto& buffer : *stream.second->GetBufferList()) {
            memories.push_back(buffer.second->GetMemPtr());
        }
    }
    return memories;
}

// Frames the device's streams lost for want of a queued buffer.
uint64_t lostFrames(sdk::Device* device) {
    uint64_t lost = 0;
    sdk::DataStreamList* streams = device->GetDataStreams();
    streams->Refresh();
    for (auto& stream : *streams) {
        lost += stream.second->GetLostFrameCount();
    }
    return lost;
}

// Buffers of the device's streams that wait in their input queues.
uint64_t queuedBuffers(sdk::Device* device) {
    uint64_t queued = 0;
    sdk::DataStreamList* streams = device->GetDataStreams();
    streams->Refresh();
    for (auto& stream : *streams) {
        queued += stream.second->GetBufferList()->GetQueuedCount();
    }
    return queued;
}

QString cameraFile(const QString& serial, const QString& extra) {
    return simConfig({simDevice(serial, extra)});
}

// The simulated camera's colour bars (white on the left, black on the right); the virtual camera's diagonal ramp,
// one grey level up per pixel to the right and per line down.
bool showsTheCamerasPattern(bool simulated, const unsigned char* data, int width) {
    if (simulated) {
        return data[2] == 255 && data[63] == 0;
    }
    const auto next = [](unsigned char level) { return (level + 1) % 255; };
    return data[1] == next(data[0]) && data[2] == next(data[1]) && data[width] == data[1] && data[width + 1] == data[2];
}

TEST_P(DeliveryTest, MonoFramesPassThroughInTheBuffersOwnMemory) {
    ICameraObject& cam =
        openCamera(cameraFile(QStringLiteral("D1"),
                              QStringLiteral(R"("pixelFormat": "Mono8", "width": 64, "height": 8, "frameRate": 500)")),
                   cameraId(QStringLiteral("D1")));
    const int width = simulated() ? 64 : kVirtualWidth;
    const int height = simulated() ? 8 : kVirtualHeight;
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    std::atomic<bool> sawPattern{true};
    const bool simulatedCamera = simulated();
    m_frames.setAction([&](ICameraObject&, const RecordedFrame& frame) {
        // Read while the frame is valid.
        sawPattern = sawPattern && showsTheCamerasPattern(simulatedCamera, frame.data, width);
    });
    ASSERT_TRUE(m_frames.waitForFrames(5));
    cam.IStopCamera();
    const std::vector<const void*> memories = bufferMemories(device(QStringLiteral("D1")));
    for (const RecordedFrame& frame : m_frames.frames()) {
        EXPECT_NE(std::find(memories.begin(), memories.end(), frame.data), memories.end()) << "not copied";
        EXPECT_EQ(frame.width, width);
        EXPECT_EQ(frame.height, height);
    }
    EXPECT_TRUE(sawPattern);
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

// Logging rules set for the process while it lives; the defaults come back at its end.
class LoggingRules {
public:
    explicit LoggingRules(const char* rules) { QLoggingCategory::setFilterRules(QLatin1String(rules)); }
    ~LoggingRules() { QLoggingCategory::setFilterRules(QString()); }
    LoggingRules(const LoggingRules&) = delete;
    LoggingRules& operator=(const LoggingRules&) = delete;
};

// The per-frame debug line would reach every host's log once a frame at any rate: its category is off at debug
// level unless a logging rule turns it on, and then there is one line a delivered frame. Other debug lines of the
// module stay on.
TEST_P(DeliveryTest, PerFrameLineIsOffUnlessALoggingRuleTurnsItOn) {
    for (const bool turnedOn : {false, true}) {
        SCOPED_TRACE(turnedOn ? "rule vxcam.driver.frame.debug=true" : "default rules");
        const LoggingRules rules(turnedOn ? "vxcam.driver.frame.debug=true" : "");
        ICameraObject& cam = openCamera(cameraFile(QStringLiteral("D1"), QStringLiteral(R"("width": 16, "height": 4)")),
                                        cameraId(QStringLiteral("D1")));
        m_frames.clear();
        ASSERT_NO_FATAL_FAILURE(grabThreeBySoftTrigger(cam, m_frames));
        const QStringList debug = m_log.texts(QtDebugMsg);
        EXPECT_EQ(debug.count(QStringLiteral("CCameraVeyra::BufferReady")), turnedOn ? 3 : 0);
        EXPECT_TRUE(debug.contains(QStringLiteral("CCameraVeyra::IStartCamera")));
        for (const LogLine& line : m_log.lines()) {
            if (line.text == QLatin1String("CCameraVeyra::BufferReady")) {
                EXPECT_EQ(line.category, QStringLiteral("vxcam.driver.frame"));
            }
        }
    }
}

// Frames that lost packets on the way are the SDK's to drop: the host sees only complete ones, the stream counts
// the others, and their buffers go back to the pool.
TEST_P(DeliveryTest, IncompleteFramesNeverReachTheHostAndThePoolKeepsItsBuffers) {
    if (!simulated()) {
        GTEST_SKIP() << "needs frames that arrive incomplete at a chosen ratio; the virtual camera loses none";
    }
    // Every second frame (odd frame indices) arrives incomplete.
    ICameraObject& cam =
        openCamera(cameraFile(QStringLiteral("D1"),
                              QStringLiteral(R"("pixelFormat": "BayerRG8", "width": 32, "height": 8, "frameRate": 400,
                                 "incompleteRatio": 0.5)")),
                   QStringLiteral("veyra D1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(20));
    cam.IStopCamera();
    for (const RecordedFrame& frame : m_frames.frames()) {
        EXPECT_EQ(frame.frameId % 2, 0) << "frame " << frame.frameId << " was incomplete";
    }
    sdk::Device* sdkDevice = devicesWithSerial("D1").front();
    sdk::DataStreamList* streams = sdkDevice->GetDataStreams();
    streams->Refresh();
    sdk::DataStream* stream = streams->begin()->second;
    // The 20 frames span at least 19 odd IDs, each incomplete, or lost when the host was slow.
    EXPECT_GT(stream->GetIncompleteFrameCount(), 0u);
    EXPECT_GE(stream->GetIncompleteFrameCount() + stream->GetLostFrameCount(), 19u);
    EXPECT_EQ(bufferListSizes(sdkDevice), std::vector<uint64_t>{8});
    EXPECT_EQ(queuedBuffers(sdkDevice), 8u);
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

TEST_P(DeliveryTest, FrameIdsAreCountedFromTheFirstAndCutTo32Bits) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsFrameIdControl;
    }
    ICameraObject& cam = openCamera(
        cameraFile(QStringLiteral("D1"),
                   QStringLiteral(R"("width": 16, "height": 4, "frameRate": 500, "firstFrameId": "8589934590")")),
        QStringLiteral("veyra D1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(4));
    cam.IStopCamera();
    const std::vector<RecordedFrame> frames = m_frames.frames();
    // 2^33 - 2, 2^33 - 1, 2^33, 2^33 + 1: low 32 bits -2, -1, 0, 1.
    EXPECT_EQ(frames[0].frameId, -2);
    EXPECT_EQ(frames[1].frameId, -1);
    EXPECT_EQ(frames[2].frameId, 0);
    EXPECT_EQ(frames[3].frameId, 1);
}

TEST_P(DeliveryTest, RgbFramesPassThroughInTheirOwnOrder) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsChosenFormat;
    }
    ICameraObject& cam = openCamera(
        cameraFile(QStringLiteral("D1"),
                   QStringLiteral(R"("pixelFormat": "RGB8Packed", "width": 80, "height": 2, "frameRate": 500)")),
        QStringLiteral("veyra D1"));
    std::atomic<bool> red{false};
    m_frames.setAction([&](ICameraObject&, const RecordedFrame& frame) {
        const unsigned char* pixel = frame.data + (5 * 10 + 5) * 3; // inside bar 5, red
        red = pixel[0] == 255 && pixel[1] == 0 && pixel[2] == 0;
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(2));
    cam.IStopCamera();
    EXPECT_TRUE(red);
}

TEST_P(DeliveryTest, FieldsAreWrittenBeforeTheCallAndTheBufferQueuedAfterIt) {
    // Software trigger: one frame at a time, so the queue can be counted from inside the call.
    ICameraObject& cam = openCamera(cameraFile(QStringLiteral("D1"), QStringLiteral(R"("width": 16, "height": 4)")),
                                    cameraId(QStringLiteral("D1")));
    sdk::Device* dev = device(QStringLiteral("D1"));
    ASSERT_NE(dev, nullptr);
    sdk::DataStreamList* streams = dev->GetDataStreams();
    streams->Refresh();
    sdk::BufferList* buffers = streams->begin()->second->GetBufferList();
    std::vector<uint64_t> queuedDuringCall;
    m_frames.setAction(
        [&](ICameraObject&, const RecordedFrame&) { queuedDuringCall.push_back(buffers->GetQueuedCount()); });
    ASSERT_NO_FATAL_FAILURE(grabThreeBySoftTrigger(cam, m_frames));
    EXPECT_EQ(queuedDuringCall, (std::vector<uint64_t>{7, 7, 7}));
    EXPECT_EQ(buffers->GetQueuedCount(), 8u);
    const std::vector<RecordedFrame> frames = m_frames.frames();
    ASSERT_EQ(frames.size(), 3U);
    // The simulated camera counts the frames it sends from zero at the start; the virtual camera's count runs on,
    // also over the frames its clock makes while no trigger asks for one.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (simulated()) {
            EXPECT_EQ(frames[i].frameId, static_cast<int32_t>(i));
        } else if (i > 0) {
            EXPECT_GT(frames[i].frameId, frames[i - 1].frameId) << "frame " << i;
        }
        EXPECT_NE(frames[i].data, nullptr);
    }
}

// A frame that cannot be converted is reported, and its buffer goes back: the stream never starves. The error
// repeats on every frame, so the log has it in full once, then a count once a second.
struct FailingFrameCase {
    const char* name;
    const char* device;
    const char* faults;
    const char* function;
};

std::ostream& operator<<(std::ostream& out, const FailingFrameCase& c) {
    return out << c.name;
}

using DeliveryFailureTest = OnTransportWith<FailingFrameCase>;

TEST_P(DeliveryFailureTest, StreamKeepsRunningAfterAHundredFailures) {
    const FailingFrameCase& c = testCase();
    if (!simulated()) {
        GTEST_SKIP() << "needs a converted pixel format and a hundred frames in a second or two; the virtual camera "
                        "sends Mono8, which passes through, at 25 frames per second";
    }
    ICameraObject& cam =
        openCamera(simConfig({simDevice(QStringLiteral("F1"), QLatin1String(c.device))}, QLatin1String(c.faults)),
                   QStringLiteral("veyra F1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    const QString again = QStringLiteral("The same SDK error again, ");
    const auto failures = [&] {
        const QStringList critical = m_log.texts(QtCriticalMsg);
        int reported = critical.size() >= 3 ? 1 : 0;
        for (const QString& line : critical) {
            if (line.startsWith(again)) {
                reported += line.mid(again.size()).section(QLatin1Char(' '), 0, 0).toInt();
            }
        }
        return reported;
    };
    for (int waited = 0; failures() < 100 && waited < 1000; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    cam.IStopCamera();
    ASSERT_GE(failures(), 100);
    EXPECT_EQ(m_frames.count(), 0u) << "no callback for a frame that failed before it";
    // The camera keeps its own clock, so a slow failure path may lose frames; but no buffer may be kept.
    EXPECT_EQ(queuedBuffers(devicesWithSerial("F1").front()), 8u) << "every buffer went back";
    const QStringList critical = m_log.texts(QtCriticalMsg);
    EXPECT_EQ(critical.at(2),
              QStringLiteral("in function:        %1  - CCameraVeyra::BufferReady").arg(QLatin1String(c.function)));
    EXPECT_LE(critical.size(), 3 + 12) << "three lines, then one a second";
    // The stop writes the repeats still pending ("1 time" or "N times"), unless the timer's line took them all.
    EXPECT_TRUE(critical.last().startsWith(again) &&
                critical.last().endsWith(QLatin1String(" since it was reported.  -  CCameraVeyra::BufferReady")))
        << critical.last().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DeliveryFailureTest,
    ::testing::Combine(
        ::testing::ValuesIn(allTransports()),
        ::testing::Values(
            FailingFrameCase{
                "UndersizedBuffer",
                R"("pixelFormat": "BayerRG8", "width": 64, "height": 8, "payloadSize": 100, "frameRate": 2000)", "",
                "ImageProcessor::CreateImage"},
            FailingFrameCase{
                "UnknownFormat",
                R"("pixelFormat": "Fancy12", "unknownPixelFormat": true, "width": 64, "height": 8, "frameRate": 2000)",
                "", "ImageProcessor::CreateImage"},
            FailingFrameCase{"NoImageProcessor",
                             R"("pixelFormat": "BayerRG8", "width": 64, "height": 8, "frameRate": 2000)",
                             R"({ "call": "ImageProcessor::GetInstance", "times": 0 })", "ImageProcessor::GetInstance"},
            FailingFrameCase{"TransformFails",
                             R"("pixelFormat": "YUV422Packed", "width": 64, "height": 8, "frameRate": 2000)",
                             R"({ "call": "Image::TransformImage", "times": 0 })", "Image::TransformImage"})),
    transportAnd([](const FailingFrameCase& c, std::size_t) { return std::string(c.name); }));

// Errors of the frame path that recur, on a camera that stops sending: the stream's buffers are refused back
// (every QueueBuffer after the eight of the opening fails), so the stream starves after eight frames. The count
// of the repeats reaches the log by time, with no further frame and no stop.
TEST_P(DeliveryTest, RefusedBuffersAreSummarisedAndTheCountComesWithoutAStop) {
    if (!simulated()) {
        GTEST_SKIP() << "needs the eight buffers of one stream refused back; the fault counts the opening's queueing "
                        "of a simulated stream";
    }
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("Q1"), QStringLiteral(R"("width": 16, "height": 4, "frameRate": 200)"))},
                  QStringLiteral(R"({ "call": "Buffer::QueueBuffer", "nth": 9, "times": 0, "description": "no" })")),
        QStringLiteral("veyra Q1"));
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(8));
    const QStringList expected = sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("no"),
                                               QStringLiteral("Buffer::QueueBuffer"), QStringLiteral("BufferReady"))
                                 << QStringLiteral("The same SDK error again, 7 times since it was reported.  -  "
                                                   "CCameraVeyra::BufferReady");
    EXPECT_TRUE(m_log.waitFor(QtCriticalMsg, [&](const QStringList& lines) { return lines == expected; }))
        << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_frames.count(), 8u) << "the stream starved";
    cam.IStopCamera();
}

// A conversion that fails on every second frame, with one frame a software trigger: the frame after a failure
// reaching the host proves that failure was reported or counted.
class FrameErrorSessionTest : public DeliveryTest {
protected:
    ICameraObject& openFailingCamera() {
        return openCamera(
            simConfig({simDevice(QStringLiteral("S1"),
                                 QStringLiteral(R"("pixelFormat": "BayerRG8", "width": 16, "height": 4)"))},
                      QStringLiteral(R"({ "call": "Image::TransformImage", "nth": 2, "every": 2 })")),
            QStringLiteral("veyra S1"));
    }
    // Fires `triggers` software triggers; each frame that converts reaches the host.
    void trigger(ICameraObject& cam, int triggers) {
        for (int i = 0; i < triggers; ++i) {
            ASSERT_EQ(asVeyraCamera(&cam)->ISendSoftTrigger(), 1);
        }
    }
    static QStringList errorLines() {
        return sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("injected fault"),
                             QStringLiteral("Image::TransformImage"), QStringLiteral("BufferReady"));
    }
};

// After a stop and a start, the same error is the new session's first: three full lines again.
TEST_P(FrameErrorSessionTest, AfterAStopAndAStartTheSameErrorIsReportedInFullAgain) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsChosenFormat;
    }
    ICameraObject& cam = openFailingCamera();
    cam.m_nTriggerMode = SoftTrigger;
    ASSERT_EQ(cam.IStartCamera(), 1);
    trigger(cam, 3); // converted, failed, converted
    ASSERT_TRUE(m_frames.waitForFrames(2));
    cam.IStopCamera();
    ASSERT_EQ(cam.IStartCamera(), 1);
    trigger(cam, 2); // failed, converted
    ASSERT_TRUE(m_frames.waitForFrames(3));
    EXPECT_TRUE(m_log.waitFor(QtCriticalMsg, [](const QStringList& lines) { return lines.size() >= 6; }))
        << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
    cam.IStopCamera();
    EXPECT_EQ(m_log.texts(QtCriticalMsg), errorLines() << errorLines());
}

// A close writes the count still pending at once, instead of leaving it to the next session.
TEST_P(FrameErrorSessionTest, CloseWritesThePendingCount) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsChosenFormat;
    }
    ICameraObject& cam = openFailingCamera();
    cam.m_nTriggerMode = SoftTrigger;
    ASSERT_EQ(cam.IStartCamera(), 1);
    trigger(cam, 5); // converted, failed, converted, failed (a repeat), converted
    ASSERT_TRUE(m_frames.waitForFrames(3));
    cam.ICloseCamera();
    EXPECT_EQ(m_log.texts(QtCriticalMsg),
              errorLines() << QStringLiteral(
                  "The same SDK error again, 1 time since it was reported.  -  CCameraVeyra::BufferReady"));
}

TEST_P(DeliveryTest, TwoStreamsDeliverOneFrameAtATime) {
    if (!simulated()) {
        GTEST_SKIP() << "needs two streams at a thousand frames per second; the virtual camera has one at 25";
    }
    ICameraObject& cam =
        openCamera(cameraFile(QStringLiteral("D2"),
                              QStringLiteral(R"("streams": 2, "width": 32, "height": 4, "frameRate": 1000)")),
                   QStringLiteral("veyra D2"));
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> torn{0};
    m_frames.setAction([&](ICameraObject& object, const RecordedFrame& frame) {
        if (inside.fetch_add(1) != 0) {
            ++overlaps;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
        if (object.m_nFrameId.load() != frame.frameId || object.m_pImageData != frame.data) {
            ++torn;
        }
        inside.fetch_sub(1);
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(200));
    cam.IStopCamera();
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(torn.load(), 0);
}

// Formats other than mono and RGB8 reach the host as BGR8, in the converted image's memory.
using DeliveryConversionTest = OnTransportWith<const char*>;

TEST_P(DeliveryConversionTest, ArrivesAsBgr8WithTheBarsColours) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsChosenFormat << " (and shows no colour bars)";
    }
    ICameraObject& cam = openCamera(
        simConfig({simDevice(QStringLiteral("V1"),
                             QStringLiteral(R"("pixelFormat": "%1", "width": 64, "height": 8, "frameRate": 500)")
                                 .arg(QLatin1String(testCase())))}),
        QStringLiteral("veyra V1"));
    struct Bgr {
        int b, g, r;
    };
    std::vector<std::vector<Bgr>> seen; // per frame, the middle of each bar on row 4
    std::mutex seenMutex;
    m_frames.setAction([&](ICameraObject& object, const RecordedFrame& frame) {
        std::vector<Bgr> bars;
        for (int bar = 0; bar < 8; ++bar) {
            const unsigned char* pixel = frame.data + (4 * object.m_nWidth + bar * 8 + 4) * 3;
            bars.push_back({pixel[0], pixel[1], pixel[2]});
        }
        const std::lock_guard lock(seenMutex);
        seen.push_back(bars);
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(3));
    cam.IStopCamera();
    ASSERT_TRUE(m_log.texts(QtCriticalMsg).isEmpty())
        << m_log.texts(QtCriticalMsg).join(QLatin1Char('\n')).toStdString();
    const std::vector<const void*> memories = bufferMemories(devicesWithSerial("V1").front());
    for (const RecordedFrame& frame : m_frames.frames()) {
        EXPECT_EQ(std::find(memories.begin(), memories.end(), frame.data), memories.end()) << "converted, not in place";
    }
    // White, yellow, cyan, green, magenta, red, blue, black, as blue, green, red.
    const Bgr expected[8] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                             {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    constexpr int kTolerance = 12; // YUV rounding and demosaicing near nothing but bar interiors
    const std::lock_guard lock(seenMutex);
    for (int bar = 0; bar < 8; ++bar) {
        const Bgr& got = seen.back()[bar];
        EXPECT_NEAR(got.b, expected[bar].b, kTolerance) << "bar " << bar;
        EXPECT_NEAR(got.g, expected[bar].g, kTolerance) << "bar " << bar;
        EXPECT_NEAR(got.r, expected[bar].r, kTolerance) << "bar " << bar;
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, DeliveryConversionTest,
                         ::testing::Combine(::testing::ValuesIn(allTransports()),
                                            ::testing::Values("BayerRG8", "BayerGB8", "BayerBG12p", "BayerGR12Packed",
                                                              "YUV422Packed", "YUV422_8", "YUV411Packed",
                                                              "YUV444Packed", "BGR8Packed", "RGBa8",
                                                              "BayerRGB8Packed")),
                         transportAnd([](const char* format, std::size_t) { return std::string(format); }));

// Frames that the stream hands over while the start is still at work (here: a slow log handler holds it on the
// start's own success line) reach the host once the start returned: the host's first frame is the stream's first.
TEST_P(DeliveryTest, TheFirstFrameAfterAStartReachesTheHost) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsFrameIdControl;
    }
    ICameraObject& cam =
        openCamera(cameraFile(QStringLiteral("D1"), QStringLiteral(R"("width": 16, "height": 4, "frameRate": 50)")),
                   QStringLiteral("veyra D1"));
    // The camera keeps its own clock while the start holds the delivery: at 50 frames per second the 30 ms hold
    // takes one or two of the eight buffers, so no frame is lost for want of one even on a busy machine.
    static QtMessageHandler s_next = nullptr;
    s_next = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.startsWith(QLatin1String("Set auto trigger successful."))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        s_next(type, context, text);
    });
    cam.m_nTriggerMode = FreeRun;
    const int32_t started = cam.IStartCamera();
    qInstallMessageHandler(s_next);
    ASSERT_EQ(started, 1);
    ASSERT_TRUE(m_frames.waitForFrames(3));
    cam.IStopCamera();
    const std::vector<RecordedFrame> frames = m_frames.frames();
    EXPECT_EQ(frames[0].frameId, 0);
    EXPECT_EQ(frames[1].frameId, 1);
    EXPECT_EQ(lostFrames(devicesWithSerial("D1").front()), 0u);
}

// ---- stopping, closing and deleting from inside OnImageReady ------------------------------------------------

// Two fast simulated streams, or the virtual camera's one stream at 25 frames per second.
const QString kFastCamera = simConfig(
    {simDevice(QStringLiteral("C1"), QStringLiteral(R"("streams": 2, "width": 32, "height": 4, "frameRate": 1000)"))});

class DeliveryFromInsideTest : public DeliveryTest {
protected:
    [[nodiscard]] std::size_t streams() const { return simulated() ? 2 : 1; }
    ICameraObject& openFastCamera() { return openCamera(kFastCamera, cameraId(QStringLiteral("C1"))); }
};

TEST_P(DeliveryFromInsideTest, StopFromInsideTheCallbackEndsDeliveryAndAStartResumesIt) {
    ICameraObject& cam = openFastCamera();
    std::atomic<int> calls{0};
    m_frames.setAction([&](ICameraObject& object, const RecordedFrame&) {
        if (++calls == 1) {
            object.IStopCamera();
        }
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(1));
    // Every stream is stopped: nothing more arrives. A start from the host's thread brings frames back.
    EXPECT_FALSE(m_frames.waitForFrames(2, std::chrono::milliseconds(100)));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(cam.m_bRunning);
    EXPECT_EQ(cam.IStartCamera(), 1);
    EXPECT_TRUE(m_frames.waitForFrames(simulated() ? 20 : 4));
    cam.IStopCamera();
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

TEST_P(DeliveryFromInsideTest, CloseFromInsideTheCallbackReleasesEverythingSafely) {
    ICameraObject& cam = openFastCamera();
    std::atomic<int> calls{0};
    m_frames.setAction([&](ICameraObject& object, const RecordedFrame& frame) {
        if (++calls == 1) {
            object.ICloseCamera();
            // The frame being delivered stays readable until the call returns.
            static_cast<void>(*static_cast<volatile const unsigned char*>(frame.data));
        }
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(1));
    EXPECT_FALSE(m_frames.waitForFrames(2, std::chrono::milliseconds(100)));
    EXPECT_FALSE(cam.m_bOpened);
    // The delivered frame's buffer is freed once its delivery ends, after the call returned.
    sdk::Device* dev = device(QStringLiteral("C1"));
    ASSERT_NE(dev, nullptr);
    awaitStreamsIdle(dev);
    EXPECT_EQ(bufferListSizes(dev), std::vector<uint64_t>(streams(), 0));
    EXPECT_EQ(cam.IOpenCamera(), 1) << "the camera can be opened again";
    EXPECT_TRUE(m_log.texts(QtCriticalMsg).isEmpty());
}

TEST_P(DeliveryFromInsideTest, DeleteFromInsideTheCallbackEndsTheObjectSafely) {
    ICameraObject& cam = openFastCamera();
    std::atomic<int> calls{0};
    const CameraDeleteFunction destroy = m_module.destroy();
    m_frames.setAction([&](ICameraObject& object, const RecordedFrame&) {
        if (++calls == 1) {
            destroy(&object);
        }
    });
    cam.m_nTriggerMode = FreeRun;
    ASSERT_EQ(cam.IStartCamera(), 1);
    ASSERT_TRUE(m_frames.waitForFrames(1));
    static_cast<void>(m_camera.release()); // deleted by the callback
    EXPECT_FALSE(m_frames.waitForFrames(2, std::chrono::milliseconds(100)));
    EXPECT_EQ(calls.load(), 1);
    EXPECT_EQ(m_sim->trace(QStringLiteral("SystemList::ReleaseInstance")).size(), 1) << "the last object left";
}

TEST_P(DeliveryFromInsideTest, SoftTriggerModeAfterAStopDeliversTheTriggeredFrame) {
    ICameraObject& cam = openFastCamera();
    ASSERT_EQ(cam.IStartCamera(), 1); // line trigger; the camera's line is quiet
    cam.IStopCamera();
    cam.ISetSoftTriggerMode();
    EXPECT_TRUE(m_frames.waitForFrames(streams())) << "one frame on each stream for the trigger fired";
    EXPECT_FALSE(m_frames.waitForFrames(streams() + 1, std::chrono::milliseconds(200))) << "one trigger, one frame";
    cam.IStopCamera();
}

// What IGetFrameLayout says for each class of format, inside the callback; outside it, nothing. The virtual
// camera has its one format and size.
TEST_P(DeliveryTest, FrameLayoutDescribesWhatTheHostReceives) {
    struct Case {
        const char* cameraFormat;
        const char* received;
        uint64_t pitch; // for a 16 x 4 frame, or the virtual camera's 512 x 512
        uint64_t bytes;
    };
    const std::vector<Case> simulatedCases = {
        {"Mono8", "Mono8", 16, 64},      {"Mono12", "Mono12", 32, 128}, {"Mono12p", "Mono12p", 24, 96},
        {"RGB8Packed", "RGB8", 48, 192}, {"BayerRG8", "BGR8", 48, 192}, {"YUV422Packed", "BGR8", 48, 192},
    };
    const std::vector<Case> virtualCases = {{"Mono8", "Mono8", 512, uint64_t{512} * 512}};
    const uint64_t width = simulated() ? 16 : kVirtualWidth;
    const uint64_t height = simulated() ? 4 : kVirtualHeight;
    for (const Case& c : simulated() ? simulatedCases : virtualCases) {
        SCOPED_TRACE(c.cameraFormat);
        ICameraObject& cam =
            openCamera(cameraFile(QStringLiteral("L1"),
                                  QStringLiteral(R"("pixelFormat": "%1", "width": 16, "height": 4, "frameRate": 500)")
                                      .arg(QLatin1String(c.cameraFormat))),
                       cameraId(QStringLiteral("L1")));
        std::mutex mutex;
        VeyraFrameLayout seen;
        int32_t answer = -1;
        m_frames.setAction([&](ICameraObject& object, const RecordedFrame&) {
            VeyraFrameLayout layout;
            const int32_t result = asVeyraCamera(&object)->IGetFrameLayout(&layout);
            const std::lock_guard lock(mutex);
            answer = result;
            seen = layout;
        });
        cam.m_nTriggerMode = FreeRun;
        ASSERT_EQ(cam.IStartCamera(), 1);
        ASSERT_TRUE(m_frames.waitForFrames(1));
        cam.IStopCamera();
        VeyraFrameLayout outside;
        EXPECT_EQ(asVeyraCamera(&cam)->IGetFrameLayout(&outside), 0) << "outside OnImageReady";
        EXPECT_EQ(outside.width, 0u);
        const std::lock_guard lock(mutex);
        EXPECT_EQ(answer, 1);
        EXPECT_STREQ(seen.pixelFormat, c.received);
        EXPECT_STREQ(seen.cameraPixelFormat, c.cameraFormat);
        EXPECT_EQ(seen.width, width);
        EXPECT_EQ(seen.height, height);
        EXPECT_EQ(seen.linePitch, c.pitch);
        EXPECT_EQ(seen.byteSize, c.bytes);
        cam.ICloseCamera();
        m_frames.setAction({});
        m_frames.clear();
    }
    VeyraFrameLayout shortRecord;
    shortRecord.recordSize = 8;
    EXPECT_EQ(asVeyraCamera(m_camera.get())->IGetFrameLayout(&shortRecord), 0);
    EXPECT_EQ(asVeyraCamera(m_camera.get())->IGetFrameLayout(nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(Producers, DeliveryTest, ::testing::ValuesIn(allTransports()), transportName);
INSTANTIATE_TEST_SUITE_P(Producers, DeliveryFromInsideTest, ::testing::ValuesIn(allTransports()), transportName);
INSTANTIATE_TEST_SUITE_P(Producers, FrameErrorSessionTest, ::testing::ValuesIn(allTransports()), transportName);

} // namespace
} // namespace vxcam::test
