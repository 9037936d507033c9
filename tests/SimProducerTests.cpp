// The simulated producer as the driver meets it: the object tree, the features, injected faults and the
// trace of every call.
#include "sdk/Sdk.h"
#include "tests/support/GrabbingStream.h"
#include "tests/support/SdkInspection.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

// Runs `call` and returns the description of the SDK error it raised, or "" when it raised none.
template <typename Call>
std::string sdkError(Call&& call) {
    try {
        call();
    } catch (const sdk::Exceptions::IException& error) {
        return error.GetErrorDescription().str();
    }
    return {};
}

TEST(SimProducer, TreeFollowsTheFile) {
    SimEnvironment sim(QStringLiteral(R"({ "systems": [
        { "id": "s0", "interfaces": [ { "id": "a", "devices": [ { "serial": "X1" }, { "serial": "X1", "repeatedSerial": true } ] },
                                      { "id": "b", "devices": [ { "serial": "Y2", "model": "VX-9", "streams": 2 } ] } ] } ] })"));
    sdk::System* system = (*sdk::SystemList::GetInstance())["s0"];
    EXPECT_FALSE(system->IsOpen());
    system->Open();
    EXPECT_TRUE(system->IsOpen());
    sdk::InterfaceList* interfaces = system->GetInterfaces();
    interfaces->Refresh(100);
    QStringList found;
    for (auto it = interfaces->begin(); it != interfaces->end(); ++it) {
        it->second->Open();
        sdk::DeviceList* devices = it->second->GetDevices();
        devices->Refresh(100);
        for (auto dev = devices->begin(); dev != devices->end(); ++dev) {
            EXPECT_EQ((*devices)[dev->first], dev->second);
            found << QString::fromStdString(it->first + ":" + dev->second->GetSerialNumber().str());
        }
    }
    EXPECT_EQ(found, (QStringList{QStringLiteral("a:X1"), QStringLiteral("a:X1"), QStringLiteral("b:Y2")}));
    EXPECT_FALSE(sdkError([&] { static_cast<void>((*interfaces)["nope"]); }).empty());
}

TEST(SimProducer, FeaturesOfADevice) {
    SimEnvironment sim(simConfig(
        {simDevice(QStringLiteral("SN1"),
                   QStringLiteral(R"("pixelFormat": "BayerRG8", "triggerSources": ["Line0", "SoftwareTrigger"],
                                               "exposure": { "feature": "ExposureTimeAbs", "min": 20.9, "max": 100.7, "value": 50 },
                                               "absent": ["AcquisitionAbort"])"))}));
    sdk::Device* device = firstDevice();
    EXPECT_FALSE(sdkError([&] { static_cast<void>(device->GetRemoteNodeList()); }).empty()) << "needs an open device";
    device->Open();
    sdk::NodeMap* features = device->GetRemoteNodeList();
    for (const char* name : {"PixelFormat", "TriggerMode", "TriggerSource", "TriggerSoftware", "AcquisitionStart",
                             "AcquisitionStop", "ExposureTimeAbs"}) {
        EXPECT_TRUE(features->GetNodePresent(name)) << name;
    }
    EXPECT_FALSE(features->GetNodePresent("AcquisitionAbort"));
    EXPECT_FALSE(features->GetNodePresent("ExposureTime"));
    EXPECT_FALSE(sdkError([&] { static_cast<void>(device->GetRemoteNode("AcquisitionAbort")); }).empty());

    EXPECT_EQ(device->GetRemoteNode("PixelFormat")->GetString().str(), "BayerRG8");
    sdk::NodeMap* sources = device->GetRemoteNode("TriggerSource")->GetEnumNodeList();
    EXPECT_TRUE(sources->GetNodePresent("SoftwareTrigger"));
    EXPECT_FALSE(sources->GetNodePresent("Software"));
    EXPECT_NE(sdkError([&] { device->GetRemoteNode("TriggerSource")->SetString("Software"); }), "");
    device->GetRemoteNode("TriggerMode")->SetString("On");
    EXPECT_EQ(device->GetRemoteNode("TriggerMode")->GetString().str(), "On");

    sdk::Node* exposure = device->GetRemoteNode("ExposureTimeAbs");
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMin(), 20.9);
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMax(), 100.7);
    exposure->SetDouble(100.7);
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 100.7);
    EXPECT_NE(sdkError([&] { exposure->SetDouble(100.8); }), "");
    EXPECT_NE(sdkError([&] { exposure->SetDouble(-1.0); }), "");
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 100.7);
    EXPECT_NE(sdkError([&] { device->GetRemoteNode("TriggerMode")->Execute(); }), "") << "not a command";
}

TEST(SimProducer, FaultsStrikeTheNthMatchingCallForTheirTimes) {
    // Device::Open of SN2 fails on its 2nd and 3rd call; SN1's calls do not count.
    SimEnvironment sim(simConfig(
        {simDevice(QStringLiteral("SN1")), simDevice(QStringLiteral("SN2"))},
        QStringLiteral(
            R"({ "call": "Device::Open", "nth": 2, "times": 2, "match": "SN2", "description": "device busy" })")));
    sdk::System* system = sdk::SystemList::GetInstance()->begin()->second;
    system->Open();
    system->GetInterfaces()->Refresh(100);
    sdk::Interface* iface = system->GetInterfaces()->begin()->second;
    iface->Open();
    iface->GetDevices()->Refresh(100);
    sdk::Device* sn1 = (*iface->GetDevices())["if0/dev0"];
    sdk::Device* sn2 = (*iface->GetDevices())["if0/dev1"];
    const auto openClose = [](sdk::Device* device) {
        return sdkError([&] {
            device->Open();
            device->Close();
        });
    };
    EXPECT_EQ(openClose(sn2), "");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(openClose(sn1), "");
    }
    EXPECT_EQ(openClose(sn2), "device busy");
    EXPECT_EQ(openClose(sn2), "device busy");
    EXPECT_EQ(openClose(sn2), "");

    try {
        sn2->Open();
        sn2->Open();
        FAIL() << "a second Open must raise";
    } catch (const sdk::Exceptions::IException& error) {
        EXPECT_STREQ(error.GetFunctionName().get(), "Device::Open");
    }
}

TEST(SimProducer, FaultWithTimesZeroStrikesEveryCallFromNth) {
    SimEnvironment sim(
        simConfig({simDevice(QStringLiteral("SN1"))},
                  QStringLiteral(R"({ "call": "Node::GetString", "nth": 2, "times": 0, "match": "PixelFormat",
                                                     "type": "AccessDeniedException", "description": "read failed" })")));
    sdk::Device* device = firstDevice();
    device->Open();
    EXPECT_EQ(device->GetRemoteNode("TriggerMode")->GetString().str(), "Off") << "other features do not match";
    EXPECT_EQ(device->GetRemoteNode("PixelFormat")->GetString().str(), "Mono8");
    for (int i = 0; i < 5; ++i) {
        try {
            static_cast<void>(device->GetRemoteNode("PixelFormat")->GetString());
            FAIL() << "call " << i + 2 << " must fail";
        } catch (const sdk::Exceptions::IException& error) {
            EXPECT_STREQ(error.GetType().get(), "AccessDeniedException");
            EXPECT_STREQ(error.GetErrorDescription().get(), "read failed");
            EXPECT_STREQ(error.GetFunctionName().get(), "Node::GetString");
        }
    }
}

TEST(SimProducer, RecurringFaultStrikesItsRunEveryPeriodFromNth) {
    // From the 3rd PixelFormat read on, two reads in a row fail every five: reads 3, 4, 8, 9, 13, 14.
    SimEnvironment sim(simConfig({simDevice(QStringLiteral("SN1"))},
                                 QStringLiteral(R"({ "call": "Node::GetString", "nth": 3, "times": 2, "every": 5,
                                                     "match": "PixelFormat" })")));
    sdk::Device* device = firstDevice();
    device->Open();
    std::vector<int> failed;
    for (int read = 1; read <= 15; ++read) {
        if (!sdkError([&] { static_cast<void>(device->GetRemoteNode("PixelFormat")->GetString()); }).empty()) {
            failed.push_back(read);
        }
    }
    EXPECT_EQ(failed, (std::vector<int>{3, 4, 8, 9, 13, 14}));
}

TEST(SimProducer, TraceHasOneLinePerCallWithObjectArgumentsAndFaults) {
    SimEnvironment sim(simConfig({simDevice(QStringLiteral("SN1"))},
                                 QStringLiteral(R"({ "call": "Node::SetString", "match": "TriggerSource" })")));
    sdk::Device* device = firstDevice();
    sim.clearTrace();
    device->Open();
    device->GetRemoteNode("TriggerMode")->SetString("On");
    EXPECT_NE(sdkError([&] { device->GetRemoteNode("TriggerSource")->SetString("Line0"); }), "");
    sdk::DataStreamList* streams = device->GetDataStreams();
    streams->Refresh();
    sdk::DataStream* stream = streams->begin()->second;
    stream->Open();
    auto buffer = std::make_unique<sdk::Buffer>();
    stream->GetBufferList()->Add(buffer.get());
    buffer->QueueBuffer();
    static_cast<void>(buffer->GetMemPtr());
    static_cast<void>(buffer->GetWidth());
    EXPECT_EQ(stream->GetBufferList()->RevokeBuffer(buffer.get()), buffer.get());
    EXPECT_EQ(sim.trace(), (QStringList{
                               QStringLiteral("Device::Open\tSN1\t"),
                               QStringLiteral("Device::GetRemoteNode\tSN1/TriggerMode\t"),
                               QStringLiteral("Node::SetString\tSN1/TriggerMode\tOn"),
                               QStringLiteral("Device::GetRemoteNode\tSN1/TriggerSource\t"),
                               QStringLiteral("Node::SetString\tSN1/TriggerSource\tLine0\tfault"),
                               QStringLiteral("Device::GetDataStreams\tSN1\t"),
                               QStringLiteral("DataStreamList::Refresh\tSN1\t"),
                               QStringLiteral("DataStreamList::begin\tSN1\t"),
                               QStringLiteral("DataStream::Open\tSN1/0\t"),
                               QStringLiteral("DataStream::GetBufferList\tSN1/0\t"),
                               QStringLiteral("BufferList::Add\tSN1/0\t"),
                               QStringLiteral("DataStream::GetBufferList\tSN1/0\t"),
                               QStringLiteral("BufferList::RevokeBuffer\tSN1/0\t"),
                           }));
}

TEST(SimProducer, BuffersGetMemoryForOneFrameAndLeaveTheirStreamSafely) {
    SimEnvironment sim(simConfig(
        {simDevice(QStringLiteral("SN1"), QStringLiteral(R"("pixelFormat": "Mono12p", "width": 101, "height": 3)"))}));
    sdk::Device* device = firstDevice();
    device->Open();
    sdk::DataStreamList* streams = device->GetDataStreams();
    streams->Refresh();
    sdk::DataStream* stream = streams->begin()->second;
    stream->Open();
    sdk::BufferList* buffers = stream->GetBufferList();

    sdk::Buffer loose;
    EXPECT_NE(sdkError([&] { loose.QueueBuffer(); }), "") << "a buffer of no stream cannot be queued";

    auto buffer = std::make_unique<sdk::Buffer>();
    buffers->Add(buffer.get());
    EXPECT_NE(buffer->GetMemPtr(), nullptr);
    EXPECT_EQ(buffer->GetMemSize(), (101u * 3u * 12u + 7u) / 8u);
    EXPECT_NE(sdkError([&] { buffers->Add(buffer.get()); }), "") << "announced twice";
    buffer->QueueBuffer();
    EXPECT_NE(sdkError([&] { buffer->QueueBuffer(); }), "") << "queued twice";
    EXPECT_EQ(buffers->GetQueuedCount(), 1u);

    // Destroying an announced buffer takes it out of the stream.
    buffer.reset();
    EXPECT_EQ(buffers->size(), 0u);
    EXPECT_EQ(buffers->GetQueuedCount(), 0u);
    EXPECT_NE(sdkError([&] { buffers->RevokeBuffer(&loose); }), "");
}

uint64_t idGaps(const std::vector<uint64_t>& ids) {
    uint64_t gaps = 0;
    for (std::size_t i = 1; i < ids.size(); ++i) {
        gaps += ids[i] - ids[i - 1] - 1;
    }
    return gaps;
}

// The simulated camera's clock and counts on the SDK's simulated producer, and the same camera served by
// vxcam-sim.cti through the gentl transport (the lost frames are then the producer's underrun count).
class SimCameraOn : public ::testing::TestWithParam<const char*> {
protected:
    // The session on the test's transport, for the camera of `json`.
    [[nodiscard]] std::unique_ptr<SimEnvironment> environment(const QString& json) const {
        auto sim = std::make_unique<SimEnvironment>(json);
        qputenv("VXCAM_TRANSPORTS", GetParam());
        return sim;
    }
};

TEST_P(SimCameraOn, KeepsItsClockWhileTheHostIsSlowAndCountsTheFramesItLost) {
    const auto sim = environment(simConfig({simDevice(
        QStringLiteral("SN1"), QStringLiteral(R"("width": 16, "height": 4, "frameRate": 50, "firstFrameId": 100)"))}));
    // 10 frames per second against the camera's 50.
    GrabbingStream grab(firstDevice(), HostPace{10, std::chrono::milliseconds(100)});
    ASSERT_TRUE(grab.waitForFrames(30));
    // Every frame the camera took reaches the host before the counts are read: a frame lost after the last one
    // delivered would leave no gap.
    ASSERT_TRUE(grab.stopCameraAndDrain());
    grab.stop();
    const std::vector<uint64_t> ids = grab.frameIds();
    const uint64_t lost = grab.stream().GetLostFrameCount();
    EXPECT_GT(lost, 0u) << "the eight buffers cannot cover a second of a host five times too slow";
    EXPECT_EQ(idGaps(ids), lost) << "every lost frame used up its frame ID";
    // The camera ran at its own rate through the slow second. Each buffer the host gave back during it was
    // filled at the camera's next tick, so the eight frames delivered after the ten slow ones carry IDs from
    // the whole second (about 50 in); a camera paced by the host would have reached 17. Twice that is the bound,
    // so that a busy machine does not fail the test.
    EXPECT_GE(ids.at(17) - ids.at(0), 34u);
    EXPECT_EQ(ids.front(), 100u);
    EXPECT_EQ(grab.stream().GetBufferList()->GetQueuedCount(), 8u) << "the pool keeps its eight buffers";
}

TEST_P(SimCameraOn, IncompleteFramesAreCountedAndNeverReachTheHandler) {
    // Every fourth frame (frame indices 3, 7, 11, ...) loses packets.
    const auto sim = environment(simConfig(
        {simDevice(QStringLiteral("SN1"),
                   QStringLiteral(R"("width": 16, "height": 4, "frameRate": 400, "incompleteRatio": 0.25)"))}));
    GrabbingStream grab(firstDevice());
    ASSERT_TRUE(grab.waitForFrames(40));
    grab.stop();
    const std::vector<uint64_t> ids = grab.frameIds();
    EXPECT_TRUE(grab.allComplete());
    for (const uint64_t id : ids) {
        EXPECT_NE(id % 4, 3u) << "frame " << id << " was incomplete";
    }
    const uint64_t incomplete = grab.stream().GetIncompleteFrameCount();
    EXPECT_GT(incomplete, 0u);
    // Each missing ID is accounted for; frames taken after the last delivered one may be counted too.
    EXPECT_GE(incomplete + grab.stream().GetLostFrameCount(), idGaps(ids));
    EXPECT_EQ(grab.stream().GetBufferList()->GetQueuedCount(), 8u) << "the pool keeps its eight buffers";
}

INSTANTIATE_TEST_SUITE_P(Transports, SimCameraOn, ::testing::Values("sim", "gentl"),
                         [](const auto& param) { return std::string(param.param); });

TEST(SimCamera, ListingAHugeCameraRendersNothing) {
    // The largest frame the SDK layer takes: 1 GiB (a larger one is refused by the file, see SimConfigTests).
    SimEnvironment sim(simConfig({simDevice(
        QStringLiteral("HUGE"), QStringLiteral(R"("pixelFormat": "Mono8", "width": 32768, "height": 32768)"))}));
    const uint64_t before = heapBytesInUse();
    sdk::Device* device = firstDevice();
    EXPECT_EQ(device->GetSerialNumber().str(), "HUGE");
    device->Open();
    EXPECT_EQ(device->GetRemoteNode("PayloadSize")->GetInt(), int64_t{32768} * 32768);
    device->Close();
    const uint64_t after = heapBytesInUse();
    EXPECT_LT(after - std::min(after, before), uint64_t{16} << 20U) << "the 1 GiB picture is not rendered to list";
}

TEST(SimCamera, FeaturesHaveTheirTypesAndAccessModes) {
    SimEnvironment sim(simConfig({simDevice(QStringLiteral("SN1"), QStringLiteral(R"("width": 64, "height": 8,
                                       "readOnly": ["ExposureTime"], "unavailable": ["TriggerSoftware"])"))}));
    sdk::Device* device = firstDevice();
    device->Open();
    EXPECT_EQ(device->GetRemoteNode("Width")->GetType(), sdk::NodeType::Integer);
    EXPECT_EQ(device->GetRemoteNode("Width")->GetInt(), 64);
    EXPECT_EQ(device->GetRemoteNode("PayloadSize")->GetInt(), 64 * 8);
    EXPECT_EQ(device->GetRemoteNode("DeviceModelName")->GetString().str(), "VX-1");
    EXPECT_EQ(sdkError([&] { device->GetRemoteNode("Height")->SetInt(8); }), "feature 'Height' is not writable");
    EXPECT_EQ(device->GetRemoteNode("ExposureTime")->GetAccessMode(), sdk::AccessMode::ReadOnly);
    EXPECT_DOUBLE_EQ(device->GetRemoteNode("ExposureTime")->GetDouble(), 5000.0);
    EXPECT_EQ(sdkError([&] { device->GetRemoteNode("ExposureTime")->SetDouble(100.0); }),
              "feature 'ExposureTime' is not writable");
    EXPECT_EQ(sdkError([&] { device->GetRemoteNode("TriggerSoftware")->Execute(); }),
              "feature 'TriggerSoftware' is not available now");
    EXPECT_EQ(device->GetRemoteNode("TriggerMode")->GetAccessMode(), sdk::AccessMode::ReadWrite);
}

} // namespace
} // namespace vxcam::test
