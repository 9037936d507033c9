// The simulated producer's configuration: which transports are offered, and what a bad file gives.
#include "sdk/Sdk.h"
#include "tests/support/LogCapture.h"
#include "tests/support/SimEnvironment.h"

#include <QDir>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

QStringList systemIds() {
    QStringList ids;
    sdk::SystemList* list = sdk::SystemList::GetInstance();
    if (list == nullptr) {
        return ids;
    }
    for (auto it = list->begin(); it != list->end(); ++it) {
        ids << QString::fromStdString(it->first);
    }
    return ids;
}

struct BadFileCase {
    const char* name;
    const char* content; // null: the file does not exist
    const char* problem; // a part of the warning that says what is wrong
};

// Names the case in test output instead of dumping its bytes.
std::ostream& operator<<(std::ostream& out, const BadFileCase& c) {
    return out << c.name;
}

class SimConfigBadFileTest : public ::testing::TestWithParam<BadFileCase> {};

TEST_P(SimConfigBadFileTest, GivesOneWarningAndNoSystems) {
    const BadFileCase& c = GetParam();
    SimEnvironment sim(QString::fromUtf8(c.content != nullptr ? c.content : ""));
    if (c.content == nullptr) {
        QFile::remove(sim.configPath());
    }
    LogCapture log;
    QStringList ids;
    EXPECT_NO_THROW(ids = systemIds());
    EXPECT_TRUE(ids.isEmpty());
    const QStringList warnings = log.texts(QtWarningMsg);
    ASSERT_EQ(warnings.size(), 1) << warnings.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(warnings.front().contains(sim.configPath())) << warnings.front().toStdString();
    EXPECT_TRUE(warnings.front().contains(QLatin1String(c.problem))) << warnings.front().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SimConfigBadFileTest,
    ::testing::Values(
        BadFileCase{"Missing", nullptr, "cannot be read"}, BadFileCase{"NotJson", R"({ "systems": [ )", "at offset 15"},
        BadFileCase{"TopLevelArray", "[1, 2]", "top level must be a JSON object"},
        BadFileCase{"SystemsNotArray", R"({ "systems": 3 })", "$.systems: expected an array"},
        BadFileCase{"WidthAsText",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "width": "640" } ] } ] } ] })",
                    "$.systems[0].interfaces[0].devices[0].width: expected an integer"},
        BadFileCase{"DeviceWithoutSerial",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "model": "X" } ] } ] } ] })",
                    "devices[0].serial: missing"},
        BadFileCase{"NegativeFrameRate",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "frameRate": -1 } ] } ] } ] })",
                    "frameRate: -1 is outside"},
        BadFileCase{
            "UnknownExposureFeature",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "exposure": { "feature": "Shutter" } } ] } ] } ] })",
            "exposure.feature"},
        BadFileCase{
            "IncompleteRatioAboveOne",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "incompleteRatio": 1.5 } ] } ] } ] })",
            "incompleteRatio: 1.5 is outside"},
        BadFileCase{"MisspelledDeviceKey",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "widht": 64 } ] } ] } ] })",
                    R"($.systems[0].interfaces[0].devices[0].widht: unknown key; did you mean "width"?)"},
        BadFileCase{
            "KeyInTheWrongCase",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "pixelformat": "RGB8" } ] } ] } ] })",
            R"(devices[0].pixelformat: unknown key; did you mean "pixelFormat"?)"},
        BadFileCase{"UnknownTopLevelKey", R"({ "sytems": [] })", R"($.sytems: unknown key; did you mean "systems"?)"},
        BadFileCase{
            "UnknownExposureKey",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "exposure": { "minimum": 1 } } ] } ] } ] })",
            "devices[0].exposure.minimum: unknown key; the keys here are feature, min, max, value"},
        BadFileCase{"MisspelledFaultKey", R"({ "faults": [ { "call": "Device::Open", "nht": 2 } ] })",
                    R"($.faults[0].nht: unknown key; did you mean "nth"?)"},
        BadFileCase{
            "UnknownPixelFormat",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "pixelFormat": "Mono9" } ] } ] } ] })",
            R"(devices[0].pixelFormat: "Mono9" is not a pixel format the SDK layer knows)"},
        BadFileCase{"EmptySerial", R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "" } ] } ] } ] })",
                    "devices[0].serial: is empty"},
        BadFileCase{"SerialWithABlank",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "SN 1001" } ] } ] } ] })",
                    R"(devices[0].serial: "SN 1001" holds a blank)"},
        BadFileCase{
            "DuplicateSerialAcrossSystems",
            R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A" } ] } ] },
                                      { "interfaces": [ { "devices": [ { "serial": "B" }, { "serial": "A" } ] } ] } ] })",
            R"($.systems[1].interfaces[0].devices[1].serial: "A" is the serial of $.systems[0].interfaces[0].devices[0].serial already)"},
        // 65535 x 65535 x 3 bytes: a frame no machine gives eight buffers of.
        BadFileCase{"FrameTooLargeForMemory",
                    R"({ "systems": [ { "interfaces": [ { "devices": [
                        { "serial": "A", "pixelFormat": "RGB8", "width": 65535, "height": 65535 } ] } ] } ] })",
                    "$.systems[0].interfaces[0].devices[0]: a 65535 x 65535 RGB8 frame needs 12884508675 bytes (12.0 "
                    "GiB) of memory, more than the 1073741824 bytes (1.0 GiB) the SDK layer gives one frame"},
        BadFileCase{"UnknownFormatTooLarge",
                    R"({ "systems": [ { "interfaces": [ { "devices": [ { "serial": "A", "pixelFormat": "Own9",
                        "unknownPixelFormat": true, "width": 65535, "height": 65535 } ] } ] } ] })",
                    "a 65535 x 65535 Own9 frame needs 4294836225 bytes"},
        BadFileCase{"FaultWithoutCall", R"({ "faults": [ { "nth": 1 } ] })", "$.faults[0].call: missing"},
        BadFileCase{"FaultNthZero", R"({ "faults": [ { "call": "Device::Open", "nth": 0 } ] })", "$.faults[0].nth"}),
    [](const auto& param) { return std::string(param.param.name); });

// The largest frame the SDK layer takes is accepted; a format of the camera's own, an odd serial and one camera
// on two paths are accepted where the file says they are meant.
TEST(SimConfig, FramesUpToTheLimitAndDeclaredOddCamerasAreAccepted) {
    SimEnvironment sim(QStringLiteral(R"({ "systems": [ { "id": "simA", "interfaces": [ { "devices": [
        { "serial": "BIG", "pixelFormat": "Mono8", "width": 32768, "height": 32768 },
        { "serial": "OWN", "pixelFormat": "Own12", "unknownPixelFormat": true },
        { "serial": "with blank", "oddSerial": true },
        { "serial": "", "oddSerial": true },
        { "serial": "BIG", "repeatedSerial": true } ] } ] } ] })"));
    LogCapture log;
    EXPECT_EQ(systemIds(), QStringList{QStringLiteral("simA")});
    EXPECT_TRUE(log.texts(QtWarningMsg).isEmpty()) << log.texts(QtWarningMsg).join(QLatin1Char('\n')).toStdString();
}

TEST(SimConfig, SystemsAreOfferedInFileOrder) {
    SimEnvironment sim(QStringLiteral(R"({ "systems": [ { "id": "simB" }, { "id": "simA" }, { } ] })"));
    EXPECT_EQ(systemIds(), (QStringList{QStringLiteral("simB"), QStringLiteral("simA"), QStringLiteral("sim2")}));
}

TEST(SimConfig, TransportsComeFromTheEnvironment) {
    SimEnvironment sim(QStringLiteral(R"({ "systems": [ { "id": "simA" } ] })"));
    struct Case {
        const char* transports; // null: unset
        bool withConfig;
        QStringList ids;
        int warnings;
    };
    const std::vector<Case> cases = {
        // Unset: USB3 Vision (never GigE Vision, whose discovery would broadcast), then the simulation.
        {nullptr, true, {QStringLiteral("Aravis-U3V"), QStringLiteral("simA")}, 0},
        {nullptr, false, {QStringLiteral("Aravis-U3V")}, 0},
        {"virtual,sim", true, {QStringLiteral("Aravis-Virtual"), QStringLiteral("simA")}, 0},
        {"sim", true, {QStringLiteral("simA")}, 0},
        {"", true, {}, 0},
        {"carrier-pigeon,sim", true, {QStringLiteral("simA")}, 1},
        {" sim , sim ", true, {QStringLiteral("simA")}, 1},
    };
    for (const Case& c : cases) {
        sdk::SystemList::ReleaseInstance();
        if (c.transports != nullptr) {
            qputenv("VXCAM_TRANSPORTS", c.transports);
        } else {
            qunsetenv("VXCAM_TRANSPORTS");
        }
        if (c.withConfig) {
            qputenv("VXCAM_SIM_CONFIG", sim.configPath().toLocal8Bit());
        } else {
            qunsetenv("VXCAM_SIM_CONFIG");
        }
        LogCapture log;
        EXPECT_EQ(systemIds(), c.ids) << (c.transports != nullptr ? c.transports : "(unset)");
        EXPECT_EQ(log.texts(QtWarningMsg).size(), c.warnings) << (c.transports != nullptr ? c.transports : "(unset)");
    }
}

TEST(SimConfig, NullSystemListIsAnsweredUntilReleased) {
    SimEnvironment sim(QStringLiteral(R"({ "nullSystemList": true, "systems": [ { "id": "simA" } ] })"));
    EXPECT_EQ(sdk::SystemList::GetInstance(), nullptr);
    EXPECT_EQ(sdk::SystemList::GetInstance(), nullptr);
}

TEST(SimConfig, ConfigurationIsReadAgainAfterARelease) {
    SimEnvironment first(QStringLiteral(R"({ "systems": [ { "id": "one" } ] })"));
    EXPECT_EQ(systemIds(), QStringList{QStringLiteral("one")});
    SimEnvironment second(QStringLiteral(R"({ "systems": [ { "id": "two" } ] })"));
    EXPECT_EQ(systemIds(), QStringList{QStringLiteral("two")});
}

} // namespace
} // namespace vxcam::test
