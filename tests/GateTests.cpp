// The facade's call gate and shared checks, through a producer built only for these tests: a new producer gets
// the trace, the injected faults, the open states, the feature checks and the buffer-status rule without
// writing any of them.
#include "sdk/Sdk.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/core/Producer.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vxcam::test {
namespace {

// ---- the test producer: one system, interface, device (with typed features) and stream ----------------

class BareNode final : public sdk::Node {
public:
    BareNode(const sdk::CallSite& device, std::string name, sdk::NodeType type,
             sdk::AccessMode access = sdk::AccessMode::ReadWrite)
        : Node(device, std::move(name), type), m_access(access) {}

    sdk::NodeMap* entries = nullptr; // an enumeration's entries
    int64_t integer = 4;
    bool flag = false;
    double number = 1.5;
    std::string text = "A";
    int executed = 0;

protected:
    sdk::AccessMode doGetAccessMode() override { return m_access; }
    void doExecute() override { ++executed; }
    void doSetString(const std::string& value) override { text = value; }
    std::string doGetString() override { return text; }
    void doSetDouble(double value) override { number = value; }
    double doGetDouble() override { return number; }
    double doGetDoubleMin() override { return 0.0; }
    double doGetDoubleMax() override { return 10.0; }
    void doSetInt(int64_t value) override { integer = value; }
    int64_t doGetInt() override { return integer; }
    int64_t doGetIntMin() override { return 2; }
    int64_t doGetIntMax() override { return 64; }
    int64_t doGetIntInc() override { return 2; }
    void doSetBool(bool value) override { flag = value; }
    bool doGetBool() override { return flag; }
    sdk::NodeMap* doGetEnumNodeList() override { return entries; }

private:
    sdk::AccessMode m_access;
};

class BareNodeMap final : public sdk::NodeMap {
public:
    BareNodeMap(sdk::core::CallGate& gate, std::string name) : NodeMap(gate, std::move(name)) {}
    std::map<std::string, std::unique_ptr<BareNode>, std::less<>> nodes;

    [[nodiscard]] BareNode* find(std::string_view name) const {
        const auto found = nodes.find(name);
        return found == nodes.end() ? nullptr : found->second.get();
    }

protected:
    sdk::Node* doFindNode(std::string_view name) override { return find(name); }
    uint64_t doGetNodeCount() override { return nodes.size(); }
};

// A stream whose "transport" is the test: it fills and hands over buffers when the test says so.
class BareStream final : public sdk::DataStream {
public:
    BareStream(sdk::core::CallGate& gate, std::string name) : DataStream(gate, std::move(name)) {}
    using DataStream::HandOver;

    // Takes the oldest queued buffer, describes a frame with `status` into it and hands it over.
    HandOver send(sdk::BufferStatus status, uint64_t frameId) {
        sdk::Buffer* buffer = queue.front();
        queue.pop_front();
        sdk::core::FrameDescription frame;
        frame.width = 4;
        frame.height = 2;
        frame.frameId = frameId;
        frame.pixelFormat = "Mono8";
        frame.status = status;
        frame.payloadSize = status == sdk::BufferStatus::Complete ? UINT64_MAX : 3;
        sdk::core::BufferAccess::describeFrame(*buffer, frame);
        return deliverBuffer(*buffer);
    }

    std::deque<sdk::Buffer*> queue;
    bool grabbing = false;

protected:
    void doClose() override { grabbing = false; }
    uint64_t doGetBufferSize() override { return 8; }
    bool doGetIsGrabbing() override { return grabbing; }
    void doStartAcquisition() override { grabbing = true; }
    void doStopAcquisition() override { grabbing = false; }
    uint64_t doGetLostFrameCount() override { return 0; }
    void doQueueBuffer(sdk::Buffer& buffer) override { queue.push_back(&buffer); }
    void doWithdrawBuffer(sdk::Buffer& buffer) noexcept override {
        queue.erase(std::remove(queue.begin(), queue.end(), &buffer), queue.end());
    }
    uint64_t doGetQueuedCount() override { return queue.size(); }
};

class BareStreamList final : public sdk::DataStreamList {
public:
    BareStreamList(const sdk::CallSite& device, BareStream& stream) : DataStreamList(device), m_stream(stream) {}

protected:
    void doRefresh() override { m_entries = {{m_stream.GetID().str(), &m_stream}}; }

private:
    BareStream& m_stream;
};

class BareDevice final : public sdk::Device {
public:
    explicit BareDevice(sdk::core::CallGate& gate)
        : Device(gate, "gi/dev0", "GD1", "Bare"), features(gate, "GD1"), stream(gate, "GD1/0"), streams(site(), stream),
          modeEntries(gate, "GD1/Mode") {
        const auto add = [&](const char* name, sdk::NodeType type, sdk::AccessMode access) {
            features.nodes[name] = std::make_unique<BareNode>(site(), name, type, access);
        };
        using sdk::AccessMode;
        using sdk::NodeType;
        add("Width", NodeType::Integer, AccessMode::ReadOnly);
        add("Binning", NodeType::Integer, AccessMode::ReadWrite);
        add("ReverseX", NodeType::Boolean, AccessMode::ReadWrite);
        add("Gain", NodeType::Float, AccessMode::ReadWrite);
        add("DeviceUserID", NodeType::String, AccessMode::ReadWrite);
        add("Mode", NodeType::Enumeration, AccessMode::ReadWrite);
        add("Go", NodeType::Command, AccessMode::WriteOnly);
        add("Hidden", NodeType::Float, AccessMode::NotAvailable);
        for (const char* entry : {"A", "B"}) {
            modeEntries.nodes[entry] =
                std::make_unique<BareNode>(site(), entry, NodeType::EnumEntry, AccessMode::ReadOnly);
        }
        modeEntries.nodes["C"] = std::make_unique<BareNode>(site(), "C", NodeType::EnumEntry, AccessMode::NotAvailable);
        features.nodes["Mode"]->entries = &modeEntries;
    }

    BareNodeMap features;
    BareStream stream;
    BareStreamList streams;
    BareNodeMap modeEntries;

protected:
    sdk::NodeMap* doGetRemoteNodeList() override { return &features; }
    sdk::Node* doGetRemoteNode(std::string_view name) override { return features.find(name); }
    sdk::DataStreamList* doGetDataStreams() override { return &streams; }
};

class BareDeviceList final : public sdk::DeviceList {
public:
    BareDeviceList(const sdk::CallSite& iface, BareDevice& device) : DeviceList(iface), m_device(device) {}

protected:
    void doRefresh(uint64_t /*timeout*/) override { m_entries = {{m_device.GetID().str(), &m_device}}; }

private:
    BareDevice& m_device;
};

class BareInterface final : public sdk::Interface {
public:
    explicit BareInterface(sdk::core::CallGate& gate) : Interface(gate, "gi"), device(gate), devices(site(), device) {}
    BareDevice device;
    BareDeviceList devices;

protected:
    sdk::DeviceList* doGetDevices() override { return &devices; }
};

class BareInterfaceList final : public sdk::InterfaceList {
public:
    BareInterfaceList(const sdk::CallSite& system, BareInterface& iface) : InterfaceList(system), m_iface(iface) {}

protected:
    void doRefresh(uint64_t /*timeout*/) override { m_entries = {{"gi", &m_iface}}; }

private:
    BareInterface& m_iface;
};

class BareSystem final : public sdk::System {
public:
    explicit BareSystem(sdk::core::CallGate& gate)
        : System(gate, "gs", "Bare"), iface(gate), interfaces(site(), iface) {}
    BareInterface iface;
    BareInterfaceList interfaces;

protected:
    sdk::InterfaceList* doGetInterfaces() override { return &interfaces; }
};

class BareProducer final : public sdk::core::Producer {
public:
    explicit BareProducer(sdk::core::CallGate& gate) : system(gate) {}
    std::vector<std::pair<std::string, sdk::System*>> systems() override { return {{"gs", &system}}; }
    BareSystem system;
};

BareProducer* g_producer = nullptr; // the current session's; host thread only

std::unique_ptr<sdk::core::Producer> makeBareProducer(sdk::core::CallGate& gate) {
    auto producer = std::make_unique<BareProducer>(gate);
    g_producer = producer.get();
    return producer;
}

// The bare producer once more, under a name that is offered when VXCAM_TRANSPORTS is unset, after the producers
// ranked before it, while a test asks for it.
std::atomic<bool> g_offerBareByDefault{false};

bool offerBareByDefault() {
    return g_offerBareByDefault.load();
}

// Runs while the test program loads, where an exception could not be caught.
bool registerBareProducers() noexcept {
    try {
        return sdk::core::registerProducer("bare", &makeBareProducer) &&
               sdk::core::registerProducer("bare-offered", &makeBareProducer,
                                           sdk::core::DefaultOffer{5, &offerBareByDefault});
    } catch (...) {
        return false;
    }
}

const bool g_registered = registerBareProducers();

// ---- fixture ----------------------------------------------------------------------------------------------

// A session with only the bare producer, faults and trace from the session's configuration file.
class BareSession {
public:
    explicit BareSession(const QString& faults = QStringLiteral("[]"))
        : m_sim(QStringLiteral(R"({ "faults": %1 })").arg(faults)) {
        qputenv("VXCAM_TRANSPORTS", "bare");
        sdk::SystemList::ReleaseInstance();
        list = sdk::SystemList::GetInstance();
        system = &g_producer->system;
        device = &system->iface.device;
        stream = &device->stream;
    }
    ~BareSession() {
        sdk::SystemList::ReleaseInstance();
        qunsetenv("VXCAM_TRANSPORTS");
    }
    BareSession(const BareSession&) = delete;
    BareSession& operator=(const BareSession&) = delete;

    [[nodiscard]] QStringList trace() const { return m_sim.trace(); }
    void clearTrace() const { m_sim.clearTrace(); }

    sdk::SystemList* list = nullptr;
    BareSystem* system = nullptr;
    BareDevice* device = nullptr;
    BareStream* stream = nullptr;

private:
    SimEnvironment m_sim;
};

// The SDK error `call` raised: "Type: description", or "" when it raised none.
std::string sdkError(const std::function<void()>& call) {
    try {
        call();
    } catch (const sdk::Exceptions::IException& error) {
        return error.GetType().str() + ": " + error.GetErrorDescription().str();
    }
    return {};
}

// ---- the gate -----------------------------------------------------------------------------------------------

struct GateCase {
    const char* call;
    const char* traceLine; // "object<TAB>args" as the trace shows it; null: not traced
    std::function<void(BareSession&)> run;
};

TEST(FacadeGate, EveryFacadeClassTracesAndFailsAsConfigured) {
    // One call of every facade class; each must raise its injected fault once, with a trace line marked "fault",
    // and pass the second time.
    const std::vector<GateCase> cases = {
        {"SystemList::Refresh", "-\t", [](BareSession& s) { s.list->Refresh(); }},
        {"System::Open", "gs\t", [](BareSession& s) { s.system->Open(); }},
        {"InterfaceList::Refresh", "gs\t100", [](BareSession& s) { s.system->GetInterfaces()->Refresh(100); }},
        {"Interface::Open", "gi\t", [](BareSession& s) { s.system->iface.Open(); }},
        {"DeviceList::Refresh", "gi\t7", [](BareSession& s) { s.system->iface.GetDevices()->Refresh(7); }},
        {"Device::Open", "GD1\t", [](BareSession& s) { s.device->Open(); }},
        {"DataStreamList::Refresh", "GD1\t", [](BareSession& s) { s.device->GetDataStreams()->Refresh(); }},
        {"NodeMap::GetNodePresent", "GD1\tGain",
         [](BareSession& s) { static_cast<void>(s.device->GetRemoteNodeList()->GetNodePresent("Gain")); }},
        {"Node::SetDouble", "GD1/Gain\t2.5", [](BareSession& s) { s.device->GetRemoteNode("Gain")->SetDouble(2.5); }},
        {"DataStream::Open", "GD1/0\t", [](BareSession& s) { s.stream->Open(); }},
        {"BufferList::GetQueuedCount", "GD1/0\t",
         [](BareSession& s) { static_cast<void>(s.stream->GetBufferList()->GetQueuedCount()); }},
        {"DataStream::RegisterNewBufferEventHandler", "GD1/0\tbind",
         [](BareSession& s) { s.stream->RegisterNewBufferEventHandler(nullptr, [](void*, sdk::Buffer*) {}); }},
        {"Buffer::QueueBuffer", nullptr,
         [](BareSession& s) { s.stream->GetBufferList()->begin()->second->QueueBuffer(); }},
        {"ImageProcessor::CreateImage", nullptr,
         [](BareSession& /*s*/) {
             unsigned char pixels[4] = {};
             sdk::ImageProcessor::GetInstance()->CreateImage(2, 2, "Mono8", pixels, sizeof pixels)->Release();
         }},
    };
    QStringList faults;
    for (const GateCase& c : cases) {
        faults << QStringLiteral(R"({ "call": "%1", "description": "%1 failed" })").arg(QLatin1String(c.call));
    }
    BareSession session(QLatin1Char('[') + faults.join(QLatin1Char(',')) + QLatin1Char(']'));
    // What the later calls need, made ready before the faults are counted; the two Open calls among them are
    // the ones the cases fail, so they are made here only after their own case.
    sdk::Buffer buffer;
    for (const GateCase& c : cases) {
        session.clearTrace();
        const std::string expected = std::string("RuntimeException: ") + c.call + " failed";
        EXPECT_EQ(sdkError([&] { c.run(session); }), expected) << c.call;
        EXPECT_EQ(sdkError([&] { c.run(session); }), "") << c.call << " fails only once";
        const QStringList trace = session.trace();
        if (c.traceLine == nullptr) {
            EXPECT_TRUE(trace.filter(QLatin1String(c.call)).isEmpty()) << c.call << " is a per-frame call";
        } else {
            const QString line = QLatin1String(c.call) + QLatin1Char('\t') + QLatin1String(c.traceLine);
            EXPECT_TRUE(trace.contains(line + QStringLiteral("\tfault")))
                << trace.join(QLatin1Char('\n')).toStdString();
            EXPECT_TRUE(trace.contains(line)) << trace.join(QLatin1Char('\n')).toStdString();
        }
        if (std::string(c.call) == "DataStream::Open") {
            session.stream->GetBufferList()->Add(&buffer); // for the buffer and queue cases that follow
        }
    }
    session.stream->RegisterNewBufferEventHandler(nullptr, nullptr);
    session.stream->GetBufferList()->RevokeBuffer(&buffer);
}

TEST(FacadeGate, UnusableFaultsAreWarnedAboutOnceWhateverTheProducers) {
    LogCapture log;
    BareSession session(QStringLiteral(R"([ { "nth": 0 } ])"));
    session.device->Open();
    const QStringList warnings = log.texts(QtWarningMsg);
    ASSERT_EQ(warnings.size(), 1) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(warnings.front().contains(QStringLiteral("$.faults[0].call: missing")))
        << warnings.front().toStdString();
}

// ---- what the facade checks for every producer --------------------------------------------------------------

TEST(FacadeGate, OpenStatesAreKeptByTheFacade) {
    BareSession session;
    EXPECT_EQ(sdkError([&] { static_cast<void>(session.device->GetRemoteNodeList()); }),
              "NotAvailableException: device GD1 is not open");
    EXPECT_EQ(sdkError([&] { session.device->Close(); }), "NotAvailableException: device GD1 is not open");
    session.device->Open();
    EXPECT_TRUE(session.device->IsOpen());
    EXPECT_EQ(sdkError([&] { session.device->Open(); }), "ResourceException: device GD1 is already open");
    EXPECT_EQ(sdkError([&] { static_cast<void>(session.device->GetRemoteNode("Nope")); }),
              "NotFoundException: device GD1 has no feature 'Nope'");
    sdk::Buffer buffer;
    EXPECT_EQ(sdkError([&] { session.stream->GetBufferList()->Add(&buffer); }),
              "NotAvailableException: data stream GD1/0 is not open");
    EXPECT_EQ(sdkError([&] { session.stream->StartAcquisitionContinuous(); }),
              "NotAvailableException: data stream GD1/0 is not open");
    EXPECT_EQ(session.device->GetSerialNumber().str(), "GD1");
    EXPECT_EQ(session.device->GetModel().str(), "Bare");
    EXPECT_EQ(session.system->GetTLType().str(), "Bare");
}

struct FeatureCase {
    const char* label;
    std::function<void(sdk::Device&)> call;
    const char* error; // "" for none
};

std::ostream& operator<<(std::ostream& out, const FeatureCase& c) {
    return out << c.label;
}

class FeatureAccessTest : public ::testing::TestWithParam<FeatureCase> {};

TEST_P(FeatureAccessTest, TypeAccessAndLimitsAreCheckedBeforeTheProducer) {
    BareSession session;
    session.device->Open();
    EXPECT_EQ(sdkError([&] { GetParam().call(*session.device); }), GetParam().error);
}

sdk::Node& feature(sdk::Device& device, const char* name) {
    return *device.GetRemoteNode(name);
}

INSTANTIATE_TEST_SUITE_P(
    Features, FeatureAccessTest,
    ::testing::Values(
        FeatureCase{"ReadOnlyIntegerReads", [](sdk::Device& d) { EXPECT_EQ(feature(d, "Width").GetInt(), 4); }, ""},
        FeatureCase{"ReadOnlyIntegerRefusesAWrite", [](sdk::Device& d) { feature(d, "Width").SetInt(8); },
                    "AccessDeniedException: feature 'Width' is not writable"},
        FeatureCase{"IntegerOnItsIncrement",
                    [](sdk::Device& d) {
                        feature(d, "Binning").SetInt(6);
                        EXPECT_EQ(feature(d, "Binning").GetString().str(), "6");
                    },
                    ""},
        FeatureCase{"IntegerOffItsIncrement", [](sdk::Device& d) { feature(d, "Binning").SetInt(5); },
                    "OutOfRangeException: value 5 of feature 'Binning' is not 2 plus a multiple of 2"},
        FeatureCase{"IntegerAboveItsMaximum", [](sdk::Device& d) { feature(d, "Binning").SetInt(66); },
                    "OutOfRangeException: value 66 of feature 'Binning' is outside 2..64"},
        FeatureCase{"Boolean",
                    [](sdk::Device& d) {
                        feature(d, "ReverseX").SetBool(true);
                        EXPECT_TRUE(feature(d, "ReverseX").GetBool());
                        EXPECT_EQ(feature(d, "ReverseX").GetString().str(), "true");
                    },
                    ""},
        FeatureCase{"BooleanIsNotAFloat", [](sdk::Device& d) { feature(d, "ReverseX").SetDouble(1.0); },
                    "AccessDeniedException: feature 'ReverseX' is a boolean feature, not a floating-point feature"},
        FeatureCase{"FloatOutsideItsLimits", [](sdk::Device& d) { feature(d, "Gain").SetDouble(10.5); },
                    "OutOfRangeException: value 10.5 of feature 'Gain' is outside 0..10"},
        FeatureCase{"UnavailableFeatureRefusesEveryUse",
                    [](sdk::Device& d) {
                        EXPECT_FALSE(feature(d, "Hidden").IsAvailable());
                        static_cast<void>(feature(d, "Hidden").GetDouble());
                    },
                    "NotAvailableException: feature 'Hidden' is not available now"},
        FeatureCase{"StringFeature",
                    [](sdk::Device& d) {
                        feature(d, "DeviceUserID").SetString("left camera");
                        EXPECT_EQ(feature(d, "DeviceUserID").GetString().str(), "left camera");
                    },
                    ""},
        FeatureCase{"EnumerationEntry", [](sdk::Device& d) { feature(d, "Mode").SetString("B"); }, ""},
        FeatureCase{"EnumerationUnknownEntry", [](sdk::Device& d) { feature(d, "Mode").SetString("Z"); },
                    "InvalidArgumentException: feature 'Mode' has no entry 'Z'"},
        FeatureCase{"EnumerationEntryNotAvailable", [](sdk::Device& d) { feature(d, "Mode").SetString("C"); },
                    "InvalidArgumentException: feature 'Mode' has no entry 'C'"},
        FeatureCase{"CommandCannotBeRead", [](sdk::Device& d) { static_cast<void>(feature(d, "Go").GetString()); },
                    "AccessDeniedException: feature 'Go' is a command, not an enumeration"},
        FeatureCase{"CommandExecutes",
                    [](sdk::Device& d) {
                        feature(d, "Go").Execute();
                        EXPECT_TRUE(feature(d, "Go").IsWritable());
                        EXPECT_FALSE(feature(d, "Go").IsReadable());
                    },
                    ""}),
    [](const auto& param) { return std::string(param.param.label); });

// ---- buffer status --------------------------------------------------------------------------------------------

struct Received {
    std::vector<uint64_t> frameIds;
    std::vector<sdk::BufferStatus> statuses;
};

void recordAndRequeue(void* owner, sdk::Buffer* buffer) {
    auto& received = *static_cast<Received*>(owner);
    received.frameIds.push_back(buffer->GetFrameID());
    received.statuses.push_back(buffer->GetStatus());
    buffer->QueueBuffer();
}

TEST(FacadeGate, OnlyCompleteBuffersReachTheHandlerAndTheOthersGoBack) {
    BareSession session;
    BareStream& stream = *session.stream;
    stream.Open();
    std::vector<std::unique_ptr<sdk::Buffer>> pool;
    for (int i = 0; i < 8; ++i) {
        pool.push_back(std::make_unique<sdk::Buffer>());
        stream.GetBufferList()->Add(pool.back().get());
        pool.back()->QueueBuffer();
    }
    Received received;
    // Unbound: nothing is delivered, the buffer goes back.
    EXPECT_EQ(stream.send(sdk::BufferStatus::Complete, 0), BareStream::HandOver::Unbound);
    stream.RegisterNewBufferEventHandler(&received, &recordAndRequeue);
    const sdk::BufferStatus statuses[] = {sdk::BufferStatus::Complete, sdk::BufferStatus::Incomplete,
                                          sdk::BufferStatus::Failed, sdk::BufferStatus::Complete,
                                          sdk::BufferStatus::Incomplete};
    for (uint64_t id = 1; id <= 100; ++id) {
        static_cast<void>(stream.send(statuses[id % 5], id));
    }
    // Ids 1..100 cycle through the five statuses: 40 complete frames arrive, 60 are counted and requeued.
    EXPECT_EQ(received.frameIds.size(), 40u);
    for (std::size_t i = 0; i < received.frameIds.size(); ++i) {
        EXPECT_EQ(received.statuses[i], sdk::BufferStatus::Complete) << "frame " << received.frameIds[i];
        EXPECT_TRUE(received.frameIds[i] % 5 == 0 || received.frameIds[i] % 5 == 3) << received.frameIds[i];
    }
    EXPECT_EQ(stream.GetIncompleteFrameCount(), 60u);
    EXPECT_EQ(stream.GetBufferList()->GetQueuedCount(), 8u) << "the pool keeps its eight buffers";
    EXPECT_EQ(stream.GetBufferList()->size(), 8u);
    stream.RegisterNewBufferEventHandler(nullptr, nullptr);
    for (const auto& buffer : pool) {
        stream.GetBufferList()->RevokeBuffer(buffer.get());
    }
}

TEST(FacadeGate, BufferKnowsItsFormatCodeAndKeepsItsNameAfterTheSession) {
    sdk::Buffer buffer;
    std::string_view name; // a view of the name the buffer handed out, kept past the String that carried it
    {
        BareSession session;
        session.stream->Open();
        session.stream->GetBufferList()->Add(&buffer);
        buffer.QueueBuffer();
        session.stream->RegisterNewBufferEventHandler(nullptr, [](void*, sdk::Buffer*) {});
        ASSERT_EQ(session.stream->send(sdk::BufferStatus::Complete, 9), BareStream::HandOver::Delivered);
        EXPECT_EQ(buffer.GetPixelFormatCode(), 0x01080001u);
        EXPECT_EQ(buffer.GetPayloadSize(), 8u);
        EXPECT_EQ(buffer.GetLinePitch(), 4u);
        name = buffer.GetPixelFormat().view();
        session.stream->RegisterNewBufferEventHandler(nullptr, nullptr);
    }
    // The session, and with it the stream, is gone: the buffer lost its memory, and an unknown name that a
    // transport reported stays readable for as long as the process lives.
    EXPECT_EQ(buffer.GetMemPtr(), nullptr);
    EXPECT_EQ(name, "Mono8");
    const char* unknown = sdk::core::internPixelFormatName(std::string("Coord3D_ABC32f"));
    EXPECT_STREQ(unknown, "Coord3D_ABC32f");
    EXPECT_EQ(unknown, sdk::core::internPixelFormatName("Coord3D_ABC32f"));
}

// ---- what a session is set up with --------------------------------------------------------------------------

QStringList systemIds(sdk::SystemList* list) {
    QStringList ids;
    for (auto it = list->begin(); it != list->end(); ++it) {
        ids << QString::fromStdString(it->first);
    }
    return ids;
}

TEST(SessionSetup, AProducerOfferedByDefaultIsBuiltInItsRankWithoutTheTransportsNamingIt) {
    SimEnvironment sim(QStringLiteral(R"({ "systems": [ { "id": "simA" } ] })"));
    qunsetenv("VXCAM_TRANSPORTS");
    g_offerBareByDefault = true;
    sdk::SystemList* list = sdk::SystemList::GetInstance();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(systemIds(list),
              (QStringList{QStringLiteral("Aravis-U3V"), QStringLiteral("simA"), QStringLiteral("gs")}));
    // Its offer is asked again when the next session opens.
    g_offerBareByDefault = false;
    sdk::SystemList::ReleaseInstance();
    list = sdk::SystemList::GetInstance();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(systemIds(list), (QStringList{QStringLiteral("Aravis-U3V"), QStringLiteral("simA")}));
}

struct WithheldListCase {
    const char* transports;
    bool listOffered;
};

TEST(SessionSetup, OnlyABuiltSimulatedProducerWithholdsTheSystemList) {
    SimEnvironment sim(QStringLiteral(R"({ "nullSystemList": true, "systems": [ { "id": "simA" } ] })"));
    const WithheldListCase cases[] = {{"bare", true}, {"bare,sim", false}, {"sim,bare", false}, {"sim", false}};
    for (const WithheldListCase& c : cases) {
        sdk::SystemList::ReleaseInstance();
        qputenv("VXCAM_TRANSPORTS", c.transports);
        EXPECT_EQ(sdk::SystemList::GetInstance() != nullptr, c.listOffered) << c.transports;
    }
}

TEST(SessionSetup, ATraceFileThatCannotBeOpenedIsWarnedAboutOnceAndCallsStillPass) {
    LogCapture log;
    BareSession session(QStringLiteral(R"([ { "call": "Device::Open", "nth": 2 } ])"));
    sdk::SystemList::ReleaseInstance();
    const QString unopenable = QStringLiteral("/nonexistent-folder-of-vxcam-tests/trace.tsv");
    qputenv("VXCAM_SIM_TRACE", unopenable.toLocal8Bit());
    log.clear();
    ASSERT_NE(sdk::SystemList::GetInstance(), nullptr);
    BareDevice& device = g_producer->system.iface.device;
    EXPECT_EQ(sdkError([&] { device.Open(); }), "");
    device.Close();
    EXPECT_EQ(sdkError([&] { device.Open(); }), "RuntimeException: injected fault") << "faults work without a trace";
    std::vector<LogLine> warnings;
    for (const LogLine& line : log.lines()) {
        if (line.type == QtWarningMsg) {
            warnings.push_back(line);
        }
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings.front().category, QStringLiteral("vxcam.sim"));
    EXPECT_EQ(warnings.front().text,
              QStringLiteral("cannot open the trace file %1 for appending; calls are not traced").arg(unopenable));
}

// ---- the frame path's gate across sessions ------------------------------------------------------------------

// A thread that outlives sessions, as a host's or a pool's thread does; runs what it is given, in order.
class LongLivedThread {
public:
    LongLivedThread() : m_thread([this] { run(); }) {}
    ~LongLivedThread() {
        {
            const std::lock_guard lock(m_mutex);
            m_bStopping = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    LongLivedThread(const LongLivedThread&) = delete;
    LongLivedThread& operator=(const LongLivedThread&) = delete;

    // What `work` answered on this thread; "timed out" when it did not finish within ten seconds.
    std::string call(std::function<std::string()> work) {
        std::packaged_task<std::string()> task(std::move(work));
        std::future<std::string> answer = task.get_future();
        {
            const std::lock_guard lock(m_mutex);
            m_tasks.push_back(std::move(task));
        }
        m_wake.notify_one();
        if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            return "timed out";
        }
        return answer.get();
    }

private:
    void run() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_bStopping || !m_tasks.empty(); });
            if (m_tasks.empty()) {
                return;
            }
            std::packaged_task<std::string()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex m_mutex; // guards m_tasks and m_bStopping
    std::condition_variable m_wake;
    std::deque<std::packaged_task<std::string()>> m_tasks;
    bool m_bStopping = false;
    std::thread m_thread; // last: starts once the rest is built
};

// A 2x2 Mono8 frame made into an image and converted to BGR8; the SDK error of whichever step raised one.
std::string convertOneFrame() {
    return sdkError([] {
        unsigned char pixels[4] = {};
        sdk::Image* image = sdk::ImageProcessor::GetInstance()->CreateImage(2, 2, "Mono8", pixels, sizeof pixels);
        sdk::Image* converted = nullptr;
        try {
            converted = image->TransformImage("BGR8");
        } catch (...) {
            image->Release();
            throw;
        }
        converted->Release();
        image->Release();
    });
}

TEST(FrameGate, EveryThreadMeetsTheCurrentSessionsFaultsAcrossReleaseAndReacquire) {
    // Each step opens a session with its own faults (or none at all), and both a thread that lives through all
    // sessions and the test's own thread convert a frame in it: each must meet that session's faults, never
    // those of a session it saw before.
    struct Step {
        const char* faults; // null: no session is open
        const char* expected;
    };
    const Step steps[] = {
        {"[]", ""},
        {R"([ { "call": "ImageProcessor::CreateImage", "times": 0, "description": "create" } ])",
         "RuntimeException: create"},
        {nullptr, ""},
        {R"([ { "call": "Image::TransformImage", "match": "BGR8", "times": 0, "description": "transform" } ])",
         "RuntimeException: transform"},
        {"[]", ""},
    };
    LongLivedThread thread;
    for (const Step& step : steps) {
        std::unique_ptr<BareSession> session;
        if (step.faults != nullptr) {
            session = std::make_unique<BareSession>(QLatin1String(step.faults));
        }
        const char* label = step.faults != nullptr ? step.faults : "(no session)";
        EXPECT_EQ(thread.call(&convertOneFrame), step.expected) << label;
        EXPECT_EQ(convertOneFrame(), step.expected) << label;
        EXPECT_EQ(thread.call(&convertOneFrame), step.expected) << label << ", asked again";
    }
}

TEST(FrameGate, FrameCallsRaceSessionReleaseAndReacquire) {
    // Threads convert frames without pause while the test's thread ends and opens sessions. Every session has a
    // rule that never strikes, so that each frame call counts on its session's gate: a gate freed while a frame
    // call still uses it, or one shared without its lock, is what the sanitizer builds catch here.
    BareSession session(QStringLiteral(R"([ { "call": "ImageProcessor::CreateImage", "nth": 4000000000 },
                                            { "call": "Image::TransformImage", "nth": 4000000000 } ])"));
    constexpr int kThreads = 2;
    constexpr int kSessions = 40;
    std::atomic<bool> done{false};
    std::atomic<int> started{0};
    std::promise<void> allStarted;
    std::vector<std::future<std::string>> firstErrors; // each thread's first SDK error, or ""
    firstErrors.reserve(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        firstErrors.push_back(std::async(std::launch::async, [&] {
            std::string firstError;
            bool announced = false;
            while (!done.load()) {
                const std::string error = convertOneFrame();
                if (firstError.empty()) {
                    firstError = error;
                }
                if (!announced && ++started == kThreads) {
                    allStarted.set_value();
                }
                announced = true;
            }
            return firstError;
        }));
    }
    // Every early way out below still ends the threads first: a future of std::async waits for its thread.
    const bool allRunning = allStarted.get_future().wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    int sessionsCycled = 0;
    while (allRunning && sessionsCycled < kSessions) {
        sdk::SystemList::ReleaseInstance();
        if (sdk::SystemList::GetInstance() == nullptr) {
            break;
        }
        ++sessionsCycled;
    }
    done = true;
    EXPECT_TRUE(allRunning);
    EXPECT_EQ(sessionsCycled, kSessions);
    for (std::future<std::string>& firstError : firstErrors) {
        ASSERT_EQ(firstError.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(firstError.get(), "");
    }
}

} // namespace
} // namespace vxcam::test
