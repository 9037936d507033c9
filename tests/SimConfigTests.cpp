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
        BadFileCase{"FaultWithoutCall", R"({ "faults": [ { "nth": 1 } ] })", "$.faults[0].call: missing"},
        BadFileCase{"FaultNthZero", R"({ "faults": [ { "call": "Device::Open", "nth": 0 } ] })", "$.faults[0].nth"}),
    [](const auto& param) { return std::string(param.param.name); });

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
