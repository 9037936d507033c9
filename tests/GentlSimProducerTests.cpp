// vxcam-sim.cti through the GenTL C interface, as any GenTL consumer sees it: the library loaded by name, its
// systems, interfaces and devices listed and opened, features read and written through the device's port at the
// addresses its own GenICam description gives (parsed by Aravis's GenICam tree), buffers announced, queued,
// filled and handed over by new-buffer events, with the frame's information and pixels.
#include "sdk/Device.h"
#include "sdk/Interface.h"
#include "sdk/Node.h"
#include "sdk/SdkExceptions.h"
#include "sdk/System.h"
#include "sdk/SystemList.h"
#include "sdk/aravis/AravisObjects.h"
#include "sdk/gentl/GentlFunctions.h"
#include "sdk/gentl/GentlPortDevice.h"
#include "sdk/sim/SimPattern.h"
#include "tests/support/SimEnvironment.h"

#include <arv.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using sdk::gentl::GentlLibrary;
using vxcam::test::simConfig;
using vxcam::test::simDevice;
using vxcam::test::SimEnvironment;

constexpr uint64_t kWaitMs = 5000; // far beyond any frame time of the tests' cameras

std::string infoString(const std::function<GC_ERROR(INFO_DATATYPE*, void*, size_t*)>& get) {
    std::array<char, 256> text{};
    size_t size = text.size();
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (get(&type, text.data(), &size) != GC_ERR_SUCCESS || type != INFO_DATATYPE_STRING) {
        return "<failed>";
    }
    return text.data();
}

template <typename T>
T infoValue(const std::function<GC_ERROR(INFO_DATATYPE*, void*, size_t*)>& get) {
    T value{};
    size_t size = sizeof value;
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    EXPECT_EQ(get(&type, &value, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, sizeof value);
    return value;
}

// The library with its system open on a configuration of the test's; each test opens what it needs beyond.
class GentlSimProducer : public ::testing::Test {
protected:
    void open(const QString& json) {
        m_env = std::make_unique<SimEnvironment>(json);
        std::string error;
        m_lib = GentlLibrary::load(QStringLiteral(VXCAM_SIM_CTI), error);
        ASSERT_NE(m_lib, nullptr) << error;
        ASSERT_EQ(fn().TLOpen(&m_system), GC_ERR_SUCCESS) << lastError();
    }

    void TearDown() override {
        if (m_lib != nullptr && m_system != nullptr) {
            EXPECT_EQ(fn().TLClose(m_system), GC_ERR_SUCCESS) << lastError();
        }
        m_lib.reset();
        m_env.reset();
    }

    [[nodiscard]] const sdk::gentl::GentlFunctions& fn() const { return m_lib->fn(); }
    [[nodiscard]] std::string lastError() const { return m_lib != nullptr ? m_lib->lastError(0) : ""; }

    // Opens interface "if0" and the device `serial` on it, and the device's port.
    void openDevice(const char* serial) {
        ASSERT_EQ(fn().TLOpenInterface(m_system, "if0", &m_iface), GC_ERR_SUCCESS) << lastError();
        ASSERT_EQ(fn().IFOpenDevice(m_iface, serial, DEVICE_ACCESS_EXCLUSIVE, &m_device), GC_ERR_SUCCESS)
            << lastError();
        ASSERT_EQ(fn().DevGetPort(m_device, &m_port), GC_ERR_SUCCESS) << lastError();
    }

    // The port's GenICam description, read from where its URL says.
    [[nodiscard]] std::string description() const {
        std::array<char, 256> url{};
        size_t size = url.size();
        EXPECT_EQ(fn().GCGetPortURL(m_port, url.data(), &size), GC_ERR_SUCCESS);
        const std::string text = url.data();
        // "Local:name;address;length", hexadecimal.
        const size_t first = text.find(';');
        const size_t second = text.find(';', first + 1);
        EXPECT_EQ(text.rfind("Local:", 0), 0U) << text;
        const uint64_t address = std::stoull(text.substr(first + 1, second - first - 1), nullptr, 16);
        size_t length = std::stoull(text.substr(second + 1), nullptr, 16);
        std::string xml(length, '\0');
        EXPECT_EQ(fn().GCReadPort(m_port, address, xml.data(), &length), GC_ERR_SUCCESS) << lastError();
        return xml;
    }

    std::unique_ptr<SimEnvironment> m_env;
    std::shared_ptr<GentlLibrary> m_lib;
    TL_HANDLE m_system = nullptr;
    IF_HANDLE m_iface = nullptr;
    DEV_HANDLE m_device = nullptr;
    PORT_HANDLE m_port = nullptr;
};

// ---- listing and opening -----------------------------------------------------------------------------------------

TEST_F(GentlSimProducer, ListsTheFilesInterfacesAndDevicesWithTheirIdentity) {
    open(simConfig({simDevice("SN1001", R"("model": "VX-9")"), simDevice("SN1002")}));
    uint32_t interfaces = 0;
    ASSERT_EQ(fn().TLGetNumInterfaces(m_system, &interfaces), GC_ERR_SUCCESS);
    ASSERT_EQ(interfaces, 1U);
    std::array<char, 64> id{};
    size_t size = id.size();
    ASSERT_EQ(fn().TLGetInterfaceID(m_system, 0, id.data(), &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id.data(), "if0");
    EXPECT_EQ(size, 4U); // the terminator counts

    ASSERT_EQ(fn().TLOpenInterface(m_system, "if0", &m_iface), GC_ERR_SUCCESS);
    bool8_t changed = 1;
    ASSERT_EQ(fn().IFUpdateDeviceList(m_iface, &changed, 100), GC_ERR_SUCCESS);
    uint32_t devices = 0;
    ASSERT_EQ(fn().IFGetNumDevices(m_iface, &devices), GC_ERR_SUCCESS);
    ASSERT_EQ(devices, 2U);
    std::vector<std::string> ids;
    for (uint32_t i = 0; i < devices; ++i) {
        size = id.size();
        ASSERT_EQ(fn().IFGetDeviceID(m_iface, i, id.data(), &size), GC_ERR_SUCCESS);
        ids.emplace_back(id.data());
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"SN1001", "SN1002"}));
    const auto deviceInfo = [&](DEVICE_INFO_CMD cmd) {
        return infoString([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return fn().IFGetDeviceInfo(m_iface, "SN1001", cmd, t, b, s);
        });
    };
    EXPECT_EQ(deviceInfo(DEVICE_INFO_VENDOR), "Veyra");
    EXPECT_EQ(deviceInfo(DEVICE_INFO_MODEL), "VX-9");
    EXPECT_EQ(deviceInfo(DEVICE_INFO_SERIAL_NUMBER), "SN1001");
}

TEST_F(GentlSimProducer, AskingTheSizeFirstThenTooSmallABufferIsRefusedWithTheSizeNeeded) {
    open(simConfig({simDevice("SN1001")}));
    size_t size = 0;
    ASSERT_EQ(fn().TLGetInterfaceID(m_system, 0, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 4U);
    std::array<char, 2> small{};
    size = small.size();
    EXPECT_EQ(fn().TLGetInterfaceID(m_system, 0, small.data(), &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 4U);
}

// Wrong calls get an error code and the producer's own description, never a crash.
TEST_F(GentlSimProducer, WrongCallsAreRefusedWithACodeAndADescription) {
    open(simConfig({simDevice("SN1001")}));
    openDevice("SN1001");
    DEV_HANDLE second = nullptr;
    EXPECT_EQ(fn().IFOpenDevice(m_iface, "SN1001", DEVICE_ACCESS_EXCLUSIVE, &second), GC_ERR_RESOURCE_IN_USE);
    EXPECT_NE(lastError().find("SN1001 is open already"), std::string::npos) << lastError();
    EXPECT_EQ(fn().IFOpenDevice(m_iface, "SN9999", DEVICE_ACCESS_EXCLUSIVE, &second), GC_ERR_INVALID_ID);

    int garbage = 0;
    uint32_t count = 0;
    EXPECT_EQ(fn().DevGetNumDataStreams(&garbage, &count), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(fn().DevGetNumDataStreams(m_iface, &count), GC_ERR_INVALID_HANDLE); // a handle of another kind
    EXPECT_EQ(fn().TLGetInterfaceID(m_system, 7, nullptr, nullptr), GC_ERR_INVALID_INDEX);

    // A closed device's handles are stale: its port goes with it.
    ASSERT_EQ(fn().DevClose(m_device), GC_ERR_SUCCESS);
    uint32_t value = 0;
    size_t size = sizeof value;
    EXPECT_EQ(fn().GCReadPort(m_port, 0x100, &value, &size), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(fn().DevClose(m_device), GC_ERR_INVALID_HANDLE);
}

// ---- features through the port -----------------------------------------------------------------------------------

// The description parsed by Aravis's GenICam tree, and each register read and written at the address it gives.
class GentlSimFeatures : public GentlSimProducer {
protected:
    void SetUp() override {
        open(simConfig({simDevice("SN1001", R"("pixelFormat": "BayerRG8", "width": 64, "height": 48,
            "triggerSources": ["Line0", "Software"], "readOnly": ["TriggerMode"],
            "unavailable": ["AcquisitionAbort"], "absent": ["TriggerSoftware"],
            "exposure": { "feature": "ExposureTimeAbs", "min": 20, "max": 5000, "value": 100 })")}));
        openDevice("SN1001");
        const std::string xml = description();
        m_gc = arv_gc_new(nullptr, xml.data(), xml.size());
        ASSERT_NE(m_gc, nullptr);
    }
    void TearDown() override {
        if (m_gc != nullptr) {
            g_object_unref(m_gc);
        }
        GentlSimProducer::TearDown();
    }

    // The address of the register behind `feature` (its pValue, or the feature itself when it is a register).
    uint64_t addressOf(const char* feature) {
        ArvGcNode* node = arv_gc_get_node(m_gc, feature);
        EXPECT_NE(node, nullptr) << feature;
        const std::string registerName = ARV_IS_GC_REGISTER(node) ? feature : std::string(feature) + "Reg";
        ArvGcNode* reg = arv_gc_get_node(m_gc, registerName.c_str());
        EXPECT_TRUE(reg != nullptr && ARV_IS_GC_REGISTER(reg)) << registerName;
        GError* error = nullptr;
        const guint64 address = arv_gc_register_get_address(ARV_GC_REGISTER(reg), &error);
        EXPECT_EQ(error, nullptr);
        g_clear_error(&error);
        return address;
    }

    GC_ERROR write(const char* feature, const void* data, size_t size) {
        return fn().GCWritePort(m_port, addressOf(feature), data, &size);
    }
    template <typename T>
    T read(const char* feature) {
        T value{};
        size_t size = sizeof value;
        EXPECT_EQ(fn().GCReadPort(m_port, addressOf(feature), &value, &size), GC_ERR_SUCCESS) << lastError();
        return value;
    }

    ArvGc* m_gc = nullptr;
};

TEST_F(GentlSimFeatures, TheDescriptionHasEveryFeatureWithItsTypeAndOnlyThose) {
    const struct {
        const char* name;
        GType type;
    } features[] = {
        {"Width", ARV_TYPE_GC_INT_REG_NODE},
        {"Height", ARV_TYPE_GC_INT_REG_NODE},
        {"PayloadSize", ARV_TYPE_GC_INT_REG_NODE},
        {"PixelFormat", ARV_TYPE_GC_ENUMERATION},
        {"TriggerMode", ARV_TYPE_GC_ENUMERATION},
        {"TriggerSource", ARV_TYPE_GC_ENUMERATION},
        {"AcquisitionStart", ARV_TYPE_GC_COMMAND},
        {"AcquisitionStop", ARV_TYPE_GC_COMMAND},
        {"AcquisitionAbort", ARV_TYPE_GC_COMMAND},
        {"ExposureTimeAbs", ARV_TYPE_GC_FLOAT_NODE},
        {"DeviceSerialNumber", ARV_TYPE_GC_STRING_REG_NODE},
        {"DeviceModelName", ARV_TYPE_GC_STRING_REG_NODE},
    };
    for (const auto& feature : features) {
        ArvGcNode* node = arv_gc_get_node(m_gc, feature.name);
        ASSERT_NE(node, nullptr) << feature.name;
        EXPECT_TRUE(G_TYPE_CHECK_INSTANCE_TYPE(node, feature.type))
            << feature.name << " is " << G_OBJECT_TYPE_NAME(node);
    }
    EXPECT_EQ(arv_gc_get_node(m_gc, "TriggerSoftware"), nullptr); // absent from this camera
    EXPECT_EQ(arv_gc_get_node(m_gc, "ExposureTime"), nullptr);    // this camera has the older name

    // Entries and their values as the registers hold them.
    GError* error = nullptr;
    const GSList* entries = arv_gc_enumeration_get_entries(ARV_GC_ENUMERATION(arv_gc_get_node(m_gc, "PixelFormat")));
    ASSERT_EQ(g_slist_length(const_cast<GSList*>(entries)), 1U); // NOLINT: GLib's signature
    ArvGcNode* entry = ARV_GC_NODE(entries->data);
    EXPECT_STREQ(arv_gc_feature_node_get_name(ARV_GC_FEATURE_NODE(entry)), "BayerRG8");
    const gint64 pfnc = arv_gc_enum_entry_get_value(ARV_GC_ENUM_ENTRY(entry), &error);
    ASSERT_EQ(error, nullptr);
    EXPECT_EQ(pfnc, 0x01080009); // PFNC BayerRG8
    EXPECT_EQ(read<uint32_t>("PixelFormat"), 0x01080009U);
}

TEST_F(GentlSimFeatures, RegistersHoldTheConfiguredImageAndIdentity) {
    EXPECT_EQ(read<uint32_t>("Width"), 64U);
    EXPECT_EQ(read<uint32_t>("Height"), 48U);
    EXPECT_EQ(read<uint64_t>("PayloadSize"), 64U * 48U);
    const auto serial = read<std::array<char, 64>>("DeviceSerialNumber");
    EXPECT_STREQ(serial.data(), "SN1001");
    EXPECT_DOUBLE_EQ(read<double>("ExposureTimeAbs"), 100.0);
}

TEST_F(GentlSimFeatures, WritesTheCameraRefusesKeepItsValueAndSayWhy) {
    const double accepted = 250.5;
    EXPECT_EQ(write("ExposureTimeAbs", &accepted, sizeof accepted), GC_ERR_SUCCESS) << lastError();
    EXPECT_DOUBLE_EQ(read<double>("ExposureTimeAbs"), 250.5);

    const struct {
        const char* feature;
        double exposure;
        uint32_t word;
        bool isExposure;
        GC_ERROR expected;
        const char* says;
    } cases[] = {
        {"ExposureTimeAbs", 10.0, 0, true, GC_ERR_INVALID_VALUE, "out of range"},
        {"ExposureTimeAbs", 1e9, 0, true, GC_ERR_INVALID_VALUE, "out of range"},
        {"ExposureTimeAbs", std::numeric_limits<double>::quiet_NaN(), 0, true, GC_ERR_INVALID_VALUE, "out of range"},
        {"TriggerMode", 0, 1, false, GC_ERR_ACCESS_DENIED, "read-only"},
        {"AcquisitionAbort", 0, 1, false, GC_ERR_ACCESS_DENIED, "not available"},
        {"TriggerSource", 0, 2, false, GC_ERR_INVALID_VALUE, "no entry 2"},
        {"Width", 0, 8, false, GC_ERR_ACCESS_DENIED, "read-only"},
    };
    for (const auto& c : cases) {
        const GC_ERROR result =
            c.isExposure ? write(c.feature, &c.exposure, sizeof c.exposure) : write(c.feature, &c.word, sizeof c.word);
        EXPECT_EQ(result, c.expected) << c.feature;
        EXPECT_NE(lastError().find(c.says), std::string::npos) << c.feature << ": " << lastError();
    }
    EXPECT_DOUBLE_EQ(read<double>("ExposureTimeAbs"), 250.5);
    EXPECT_EQ(read<uint32_t>("TriggerSource"), 0U);

    const uint32_t software = 1;
    EXPECT_EQ(write("TriggerSource", &software, sizeof software), GC_ERR_SUCCESS);
    EXPECT_EQ(read<uint32_t>("TriggerSource"), 1U);
    const uint16_t half = 1;
    size_t size = sizeof half;
    EXPECT_EQ(fn().GCWritePort(m_port, addressOf("TriggerSource"), &half, &size), GC_ERR_INVALID_PARAMETER);
    uint32_t nowhere = 0;
    size = sizeof nowhere;
    EXPECT_EQ(fn().GCReadPort(m_port, 0x7000000, &nowhere, &size), GC_ERR_INVALID_ADDRESS);
}

// ---- acquisition -----------------------------------------------------------------------------------------------

// A stream with buffers of the consumer's memory announced and queued, and its new-buffer event registered.
class GentlSimStream : public GentlSimProducer {
protected:
    static constexpr uint32_t kWidth = 32;
    static constexpr uint32_t kHeight = 8;

    void openStream(const QString& extra, size_t buffers = 4) {
        open(simConfig({simDevice("SN1001", QStringLiteral(R"("width": 32, "height": 8, "firstFrameId": 7)") +
                                                (extra.isEmpty() ? QString() : ", " + extra))}));
        openDevice("SN1001");
        ASSERT_EQ(fn().DevOpenDataStream(m_device, "Stream0", &m_stream), GC_ERR_SUCCESS) << lastError();
        const auto payload = infoValue<size_t>([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return fn().DSGetInfo(m_stream, STREAM_INFO_PAYLOAD_SIZE, t, b, s);
        });
        m_memory.resize(buffers, std::vector<unsigned char>(payload, 0xEE));
        for (auto& memory : m_memory) {
            BUFFER_HANDLE handle = nullptr;
            ASSERT_EQ(fn().DSAnnounceBuffer(m_stream, memory.data(), memory.size(), &memory, &handle), GC_ERR_SUCCESS);
            ASSERT_EQ(fn().DSQueueBuffer(m_stream, handle), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(fn().GCRegisterEvent(m_stream, EVENT_NEW_BUFFER, &m_event), GC_ERR_SUCCESS) << lastError();
    }

    void command(uint64_t address) {
        const uint32_t one = 1;
        size_t size = sizeof one;
        ASSERT_EQ(fn().GCWritePort(m_port, address, &one, &size), GC_ERR_SUCCESS) << lastError();
    }
    void startGrab() {
        ASSERT_EQ(fn().DSStartAcquisition(m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
        command(0x012C); // AcquisitionStart
    }

    GC_ERROR nextBuffer(EVENT_NEW_BUFFER_DATA& event, uint64_t timeout = kWaitMs) {
        size_t size = sizeof event;
        return fn().EventGetData(m_event, &event, &size, timeout);
    }
    template <typename T>
    T bufferInfo(BUFFER_HANDLE buffer, BUFFER_INFO_CMD cmd) {
        return infoValue<T>(
            [&](INFO_DATATYPE* t, void* b, size_t* s) { return fn().DSGetBufferInfo(m_stream, buffer, cmd, t, b, s); });
    }

    DS_HANDLE m_stream = nullptr;
    EVENT_HANDLE m_event = nullptr;
    std::vector<std::vector<unsigned char>> m_memory;
};

struct TriggerCase {
    const char* name;
    const char* config;   // extra members of the camera
    uint32_t triggerMode; // register values
    uint32_t sourceIndex;
    bool software; // fire one software trigger per frame
};

class GentlSimTriggerModes : public GentlSimStream, public ::testing::WithParamInterface<TriggerCase> {};

// Frames in every trigger mode, filled in place into the consumer's buffers with the camera's picture, numbered
// from the configured first ID, each buffer telling its frame.
TEST_P(GentlSimTriggerModes, FillsTheConsumersBuffersInPlaceWithNumberedPictures) {
    const TriggerCase& c = GetParam();
    openStream(QString::fromUtf8(c.config));
    size_t size = 4;
    ASSERT_EQ(fn().GCWritePort(m_port, 0x0124, &c.sourceIndex, &size), GC_ERR_SUCCESS) << lastError();
    ASSERT_EQ(fn().GCWritePort(m_port, 0x0120, &c.triggerMode, &size), GC_ERR_SUCCESS) << lastError();
    startGrab();

    std::vector<unsigned char> expected(size_t{kWidth} * kHeight);
    ASSERT_TRUE(sdk::sim::renderColourBars("Mono8", kWidth, kHeight, expected.data(), expected.size()));
    uint64_t lastTimestamp = 0;
    for (uint64_t frame = 0; frame < 3; ++frame) {
        if (c.software) {
            command(0x0128); // TriggerSoftware
        }
        EVENT_NEW_BUFFER_DATA event{};
        ASSERT_EQ(nextBuffer(event), GC_ERR_SUCCESS) << lastError();
        auto* memory = static_cast<std::vector<unsigned char>*>(event.pUserPointer);
        EXPECT_EQ(bufferInfo<void*>(event.BufferHandle, BUFFER_INFO_BASE), memory->data()); // no copy of ours
        EXPECT_EQ(*memory, expected);
        EXPECT_EQ(bufferInfo<uint64_t>(event.BufferHandle, BUFFER_INFO_FRAMEID), 7 + frame);
        EXPECT_EQ(bufferInfo<size_t>(event.BufferHandle, BUFFER_INFO_SIZE_FILLED), expected.size());
        EXPECT_EQ(bufferInfo<size_t>(event.BufferHandle, BUFFER_INFO_WIDTH), kWidth);
        EXPECT_EQ(bufferInfo<size_t>(event.BufferHandle, BUFFER_INFO_HEIGHT), kHeight);
        EXPECT_EQ(bufferInfo<uint64_t>(event.BufferHandle, BUFFER_INFO_PIXELFORMAT), 0x01080001U); // Mono8
        EXPECT_EQ(bufferInfo<uint64_t>(event.BufferHandle, BUFFER_INFO_PIXELFORMAT_NAMESPACE),
                  uint64_t{PIXELFORMAT_NAMESPACE_PFNC_32BIT});
        EXPECT_EQ(bufferInfo<bool8_t>(event.BufferHandle, BUFFER_INFO_IS_INCOMPLETE), 0);
        const auto timestamp = bufferInfo<uint64_t>(event.BufferHandle, BUFFER_INFO_TIMESTAMP_NS);
        EXPECT_GT(timestamp, lastTimestamp);
        lastTimestamp = timestamp;
        memory->assign(memory->size(), 0xEE);
        ASSERT_EQ(fn().DSQueueBuffer(m_stream, event.BufferHandle), GC_ERR_SUCCESS);
    }
    EXPECT_EQ(fn().DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
    EXPECT_EQ(infoValue<bool8_t>([&](INFO_DATATYPE* t, void* b, size_t* s) {
                  return fn().DSGetInfo(m_stream, STREAM_INFO_IS_GRABBING, t, b, s);
              }),
              0);
}

INSTANTIATE_TEST_SUITE_P(Modes, GentlSimTriggerModes,
                         ::testing::Values(TriggerCase{"FreeRun", R"("frameRate": 200)", 0, 0, false},
                                           TriggerCase{"Software", R"("frameRate": 0)", 1, 1, true},
                                           TriggerCase{"Line0", R"("lineRate": 200)", 1, 0, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(GentlSimStream, NoFrameWithoutTheCamerasAcquisitionStartOrWithAnotherTriggerSource) {
    openStream(R"("frameRate": 500, "triggerSources": ["Line0", "Software", "Line1"])");
    ASSERT_EQ(fn().DSStartAcquisition(m_stream, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    EVENT_NEW_BUFFER_DATA event{};
    EXPECT_EQ(nextBuffer(event, 50), GC_ERR_TIMEOUT); // the stream acquires, the camera does not
    const uint32_t on = 1;
    const uint32_t line1 = 2;
    size_t size = 4;
    ASSERT_EQ(fn().GCWritePort(m_port, 0x0124, &line1, &size), GC_ERR_SUCCESS);
    ASSERT_EQ(fn().GCWritePort(m_port, 0x0120, &on, &size), GC_ERR_SUCCESS);
    command(0x012C);
    EXPECT_EQ(nextBuffer(event, 50), GC_ERR_TIMEOUT); // nothing drives Line1
}

TEST_F(GentlSimStream, IncompleteFramesArriveShortAndSaySo) {
    openStream(R"("frameRate": 500, "incompleteRatio": 0.5)");
    startGrab();
    std::vector<bool> incomplete;
    for (int frame = 0; frame < 4; ++frame) {
        EVENT_NEW_BUFFER_DATA event{};
        ASSERT_EQ(nextBuffer(event), GC_ERR_SUCCESS) << lastError();
        const bool short_ = bufferInfo<bool8_t>(event.BufferHandle, BUFFER_INFO_IS_INCOMPLETE) != 0;
        incomplete.push_back(short_);
        EXPECT_EQ(bufferInfo<size_t>(event.BufferHandle, BUFFER_INFO_SIZE_FILLED),
                  short_ ? kWidth * kHeight * 3 / 4 : kWidth * kHeight);
        ASSERT_EQ(fn().DSQueueBuffer(m_stream, event.BufferHandle), GC_ERR_SUCCESS);
    }
    EXPECT_EQ(incomplete, (std::vector<bool>{false, true, false, true}));
}

TEST_F(GentlSimStream, ARestartNumbersFramesFromTheFirstIdAgain) {
    openStream(R"("frameRate": 500)");
    for (int run = 0; run < 2; ++run) {
        startGrab();
        EVENT_NEW_BUFFER_DATA event{};
        ASSERT_EQ(nextBuffer(event), GC_ERR_SUCCESS) << lastError();
        EXPECT_EQ(bufferInfo<uint64_t>(event.BufferHandle, BUFFER_INFO_FRAMEID), 7U) << "run " << run;
        ASSERT_EQ(fn().DSStopAcquisition(m_stream, ACQ_STOP_FLAGS_DEFAULT), GC_ERR_SUCCESS);
        command(0x0130); // AcquisitionStop
        ASSERT_EQ(fn().DSFlushQueue(m_stream, ACQ_QUEUE_ALL_TO_INPUT), GC_ERR_SUCCESS);
    }
}

TEST_F(GentlSimStream, QueuedBuffersCannotBeRevokedUntilDiscardedThenComeBackWithTheirPointers) {
    openStream({}, 2);
    BUFFER_HANDLE first = nullptr;
    ASSERT_EQ(fn().DSGetBufferID(m_stream, 0, &first), GC_ERR_SUCCESS);
    EXPECT_EQ(fn().DSQueueBuffer(m_stream, first), GC_ERR_RESOURCE_IN_USE);
    void* memory = nullptr;
    void* user = nullptr;
    EXPECT_EQ(fn().DSRevokeBuffer(m_stream, first, &memory, &user), GC_ERR_BUSY);
    ASSERT_EQ(fn().DSFlushQueue(m_stream, ACQ_QUEUE_ALL_DISCARD), GC_ERR_SUCCESS);
    ASSERT_EQ(fn().DSRevokeBuffer(m_stream, first, &memory, &user), GC_ERR_SUCCESS);
    EXPECT_EQ(memory, m_memory[0].data());
    EXPECT_EQ(user, m_memory.data()); // the private pointer: the vector that holds the memory
    EXPECT_EQ(fn().DSQueueBuffer(m_stream, first), GC_ERR_INVALID_HANDLE);
    EXPECT_EQ(infoValue<size_t>([&](INFO_DATATYPE* t, void* b, size_t* s) {
                  return fn().DSGetInfo(m_stream, STREAM_INFO_NUM_ANNOUNCED, t, b, s);
              }),
              1U);
}

// A consumer's thread waiting for a frame is answered by EventKill, and by the stream's close, at once.
TEST_F(GentlSimStream, AWaitForAFrameEndsOnKillAndOnClose) {
    openStream({});
    for (const bool close : {false, true}) {
        auto wait = std::async(std::launch::async, [this] {
            EVENT_NEW_BUFFER_DATA event{};
            return nextBuffer(event, GENTL_INFINITE);
        });
        // Whether the kill comes before the wait starts or during it, the wait ends with it.
        if (close) {
            ASSERT_EQ(fn().DSClose(m_stream), GC_ERR_SUCCESS);
        } else {
            ASSERT_EQ(fn().EventKill(m_event), GC_ERR_SUCCESS);
        }
        ASSERT_EQ(wait.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        const GC_ERROR result = wait.get();
        EXPECT_TRUE(result == GC_ERR_ABORT || (close && result == GC_ERR_INVALID_HANDLE)) << result;
    }
}

TEST_F(GentlSimStream, EveryStreamOfACameraDeliversItsOwnBuffers) {
    openStream(R"("frameRate": 500, "streams": 2)");
    DS_HANDLE second = nullptr;
    ASSERT_EQ(fn().DevOpenDataStream(m_device, "Stream1", &second), GC_ERR_SUCCESS) << lastError();
    std::vector<unsigned char> memory(size_t{kWidth} * kHeight);
    BUFFER_HANDLE buffer = nullptr;
    ASSERT_EQ(fn().DSAnnounceBuffer(second, memory.data(), memory.size(), nullptr, &buffer), GC_ERR_SUCCESS);
    ASSERT_EQ(fn().DSQueueBuffer(second, buffer), GC_ERR_SUCCESS);
    EVENT_HANDLE secondEvent = nullptr;
    ASSERT_EQ(fn().GCRegisterEvent(second, EVENT_NEW_BUFFER, &secondEvent), GC_ERR_SUCCESS);
    ASSERT_EQ(fn().DSStartAcquisition(second, ACQ_START_FLAGS_DEFAULT, GENTL_INFINITE), GC_ERR_SUCCESS);
    startGrab();
    EVENT_NEW_BUFFER_DATA event{};
    ASSERT_EQ(nextBuffer(event), GC_ERR_SUCCESS) << lastError();
    size_t size = sizeof event;
    ASSERT_EQ(fn().EventGetData(secondEvent, &event, &size, kWaitMs), GC_ERR_SUCCESS) << lastError();
    EXPECT_EQ(event.BufferHandle, buffer);
    EXPECT_EQ(fn().DSClose(second), GC_ERR_SUCCESS);
}

// ---- the modules' own node maps ----------------------------------------------------------------------------------

// The node map behind a module's handle (system, interface, device, stream), as a GenTL consumer reads it: its
// URL and description through the C interface, its features evaluated by Aravis's GenICam tree over the same
// handle's GCReadPort/GCWritePort, selectors included.
class GentlSimNodeMaps : public GentlSimStream {
protected:
    // Aravis's device over the node map of `handle`.
    sdk::aravis::GObjectPtr<ArvDevice> nodeMap(void* handle) {
        std::array<char, 256> url{};
        size_t size = url.size();
        EXPECT_EQ(fn().GCGetPortURL(handle, url.data(), &size), GC_ERR_SUCCESS) << lastError();
        const std::string text = url.data();
        const size_t first = text.find(';');
        const size_t second = text.find(';', first + 1);
        EXPECT_EQ(text.rfind("Local:", 0), 0U) << text;
        const uint64_t address = std::stoull(text.substr(first + 1, second - first - 1), nullptr, 16);
        size_t length = std::stoull(text.substr(second + 1), nullptr, 16);
        std::string xml(length, '\0');
        EXPECT_EQ(fn().GCReadPort(handle, address, xml.data(), &length), GC_ERR_SUCCESS) << lastError();
        std::string error;
        sdk::aravis::GObjectPtr<ArvDevice> device(sdk::gentl::newPortDevice(m_lib, handle, xml, error));
        EXPECT_NE(device, nullptr) << error;
        return device;
    }
    static std::string text(ArvDevice* device, const char* feature) {
        GError* error = nullptr;
        const char* value = arv_device_get_string_feature_value(device, feature, &error);
        std::string result = error == nullptr && value != nullptr ? value : std::string("<") + feature + " failed>";
        g_clear_error(&error);
        return result;
    }
    static int64_t number(ArvDevice* device, const char* feature) {
        GError* error = nullptr;
        const gint64 value = arv_device_get_integer_feature_value(device, feature, &error);
        EXPECT_EQ(error, nullptr) << feature << ": " << (error != nullptr ? error->message : "");
        g_clear_error(&error);
        return value;
    }
    static void select(ArvDevice* device, const char* selector, int64_t value) {
        GError* error = nullptr;
        arv_device_set_integer_feature_value(device, selector, value, &error);
        EXPECT_EQ(error, nullptr) << selector << ": " << (error != nullptr ? error->message : "");
        g_clear_error(&error);
    }
    std::string portModule(void* handle) {
        return infoString([&](INFO_DATATYPE* t, void* b, size_t* s) {
            return fn().GCGetPortInfo(handle, PORT_INFO_MODULE, t, b, s);
        });
    }
};

TEST_F(GentlSimNodeMaps, SystemAndInterfaceNameThemselvesAndSelectTheirChildren) {
    openStream(R"("streams": 2)");
    EXPECT_EQ(portModule(m_system), "TLSystem");
    const auto system = nodeMap(m_system);
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(text(system.get(), "TLID"), "vxcam-sim");
    EXPECT_EQ(text(system.get(), "TLVendorName"), "Veyra");
    EXPECT_EQ(text(system.get(), "TLModelName"), "simulated cameras");
    EXPECT_EQ(text(system.get(), "TLType"), "Custom");
    EXPECT_EQ(number(system.get(), "GenTLVersionMajor"), GENTL_VERSION_MAJOR);
    select(system.get(), "InterfaceSelector", 0);
    EXPECT_EQ(text(system.get(), "InterfaceID"), "if0");
    GError* error = nullptr;
    arv_device_set_integer_feature_value(system.get(), "InterfaceSelector", 1, &error);
    EXPECT_NE(error, nullptr) << "the system has one interface";
    g_clear_error(&error);

    EXPECT_EQ(portModule(m_iface), "TLInterface");
    const auto iface = nodeMap(m_iface);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(text(iface.get(), "InterfaceID"), "if0");
    EXPECT_EQ(number(iface.get(), "DeviceSelectorMax"), 0);
    EXPECT_EQ(text(iface.get(), "DeviceID"), "SN1001");

    EXPECT_EQ(portModule(m_device), "TLDevice");
    const auto device = nodeMap(m_device);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(text(device.get(), "DeviceID"), "SN1001");
    EXPECT_EQ(text(device.get(), "DeviceVendorName"), "Veyra");
    EXPECT_EQ(text(device.get(), "DeviceModelName"), "VX-1");
    EXPECT_EQ(text(device.get(), "DeviceSerialNumber"), "SN1001");
    EXPECT_EQ(number(device.get(), "DeviceAccessStatus"), DEVICE_ACCESS_STATUS_OPEN_READWRITE);
    select(device.get(), "DataStreamSelector", 1);
    EXPECT_EQ(text(device.get(), "DataStreamID"), "Stream1");
    select(device.get(), "DataStreamSelector", 0);
    EXPECT_EQ(text(device.get(), "DataStreamID"), "Stream0");
    // The camera's own port is another node map.
    EXPECT_EQ(portModule(m_port), "Device");
}

TEST_F(GentlSimNodeMaps, AStreamsNodeMapFollowsItsBuffersAndFrames) {
    openStream(R"("frameRate": 500)");
    EXPECT_EQ(portModule(m_stream), "TLDataStream");
    const auto stream = nodeMap(m_stream);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(text(stream.get(), "StreamID"), "Stream0");
    EXPECT_EQ(number(stream.get(), "StreamAnnouncedBufferCount"), 4);
    EXPECT_EQ(number(stream.get(), "StreamIsGrabbing"), 0);
    EXPECT_EQ(number(stream.get(), "PayloadSize"), int64_t{kWidth} * kHeight);
    startGrab();
    EXPECT_EQ(number(stream.get(), "StreamIsGrabbing"), 1);
    EVENT_NEW_BUFFER_DATA event{};
    ASSERT_EQ(nextBuffer(event), GC_ERR_SUCCESS) << lastError();
    EXPECT_GE(number(stream.get(), "StreamDeliveredFrameCount"), 1);
    // Read-only features refuse writes through the port.
    const uint32_t value = 7;
    size_t size = sizeof value;
    EXPECT_EQ(fn().GCWritePort(m_stream, 0x100, &value, &size), GC_ERR_ACCESS_DENIED);
}

// ---- the same camera through the SDK's "gentl" transport ----------------------------------------------------------

// The features as the SDK's facade gives them on the gentl transport: the description evaluated by Aravis's
// GenICam tree over the port, with the types, access modes and limits the file gives the camera.
TEST(GentlTransportFeatures, TypesAccessModesAndLimitsComeFromTheDescription) {
    SimEnvironment sim(simConfig({simDevice("SN7", R"("width": 64, "height": 48, "readOnly": ["TriggerMode"],
        "unavailable": ["AcquisitionAbort"], "absent": ["TriggerSoftware"],
        "exposure": { "feature": "ExposureTimeAbs", "min": 20, "max": 5000, "value": 100 })")}));
    qputenv("VXCAM_TRANSPORTS", "gentl");
    sdk::SystemList* systems = sdk::SystemList::GetInstance();
    ASSERT_NE(systems, nullptr);
    sdk::System* system = systems->begin()->second;
    EXPECT_EQ(system->GetID().str(), "vxcam-sim");
    system->Open();
    system->GetInterfaces()->Refresh(100);
    sdk::Interface* iface = system->GetInterfaces()->begin()->second;
    iface->Open();
    iface->GetDevices()->Refresh(100);
    sdk::Device* device = iface->GetDevices()->begin()->second;
    EXPECT_EQ(device->GetSerialNumber().str(), "SN7");
    device->Open();
    sdk::NodeMap* features = device->GetRemoteNodeList();

    sdk::Node* width = device->GetRemoteNode("Width");
    EXPECT_EQ(width->GetType(), sdk::NodeType::Integer);
    EXPECT_EQ(width->GetAccessMode(), sdk::AccessMode::ReadOnly);
    EXPECT_EQ(width->GetInt(), 64);
    EXPECT_EQ(device->GetRemoteNode("TriggerMode")->GetAccessMode(), sdk::AccessMode::ReadOnly);
    EXPECT_EQ(device->GetRemoteNode("AcquisitionAbort")->GetAccessMode(), sdk::AccessMode::NotAvailable);
    EXPECT_FALSE(features->GetNodePresent("TriggerSoftware"));
    EXPECT_EQ(device->GetRemoteNode("PixelFormat")->GetString().str(), "Mono8");
    sdk::Node* source = device->GetRemoteNode("TriggerSource");
    EXPECT_TRUE(source->GetEnumNodeList()->GetNodePresent("Software"));
    EXPECT_FALSE(source->GetEnumNodeList()->GetNodePresent("Line1"));
    source->SetString("Software");
    EXPECT_EQ(source->GetString().str(), "Software");

    sdk::Node* exposure = device->GetRemoteNode("ExposureTimeAbs");
    EXPECT_EQ(exposure->GetType(), sdk::NodeType::Float);
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMin(), 20.0);
    EXPECT_DOUBLE_EQ(exposure->GetDoubleMax(), 5000.0);
    exposure->SetDouble(250.0);
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 250.0);
    std::string refused;
    try {
        exposure->SetDouble(10.0);
    } catch (const sdk::Exceptions::IException& error) {
        refused = error.GetType().str();
    }
    EXPECT_EQ(refused, "OutOfRangeException");
    EXPECT_DOUBLE_EQ(exposure->GetDouble(), 250.0);
    device->Close();
}

} // namespace
