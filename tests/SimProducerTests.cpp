// The simulated producer as the driver meets it: the object tree, the features, injected faults and the
// trace of every call.
#include "sdk/Sdk.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace vxcam::test {
namespace {

// The first device of the first interface of the first system, opened.
sdk::Device* firstDevice() {
    sdk::System* system = sdk::SystemList::GetInstance()->begin()->second;
    system->Open();
    sdk::InterfaceList* interfaces = system->GetInterfaces();
    interfaces->Refresh(100);
    sdk::Interface* iface = interfaces->begin()->second;
    iface->Open();
    sdk::DeviceList* devices = iface->GetDevices();
    devices->Refresh(100);
    return devices->begin()->second;
}

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
        { "id": "s0", "interfaces": [ { "id": "a", "devices": [ { "serial": "X1" }, { "serial": "X1" } ] },
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

} // namespace
} // namespace vxcam::test
