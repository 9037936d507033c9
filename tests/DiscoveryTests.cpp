// Listing the reachable cameras through the module, as a host does.
#include "tests/support/ModuleFixture.h"

#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

class DiscoveryTest : public ModuleFixture {
protected:
    // Lists the cameras of `json` with a fresh object; the log of the listing alone lands in `m_log`.
    QStringList listCameras(const QString& json) { return camera(json).IEnumAvailableCameras(); }
};

const QString kTwoSystems = QStringLiteral(R"({ "systems": [
  { "id": "simA", "interfaces": [
      { "id": "a0", "devices": [ { "serial": "A1" }, { "serial": "A2" }, { "serial": "A1" } ] },
      { "id": "a1", "devices": [ { "serial": "A2" } ] } ] },
  { "id": "simB", "interfaces": [ { "id": "b0", "devices": [ { "serial": "B1" } ] } ] } ],
  "faults": [ %1 ] })");

TEST_F(DiscoveryTest, ListsEveryPathInWalkOrderWithDuplicates) {
    EXPECT_EQ(listCameras(kTwoSystems.arg(QString())),
              (QStringList{QStringLiteral("veyra A1"), QStringLiteral("veyra A2"), QStringLiteral("veyra A1"),
                           QStringLiteral("veyra A2"), QStringLiteral("veyra B1")}));
    EXPECT_TRUE(m_log.lines().empty());
    // Every list is refreshed with timeout 100 each time the walk reaches it.
    EXPECT_EQ(m_sim->trace(QStringLiteral("InterfaceList::Refresh")),
              (QStringList{QStringLiteral("InterfaceList::Refresh\tsimA\t100"),
                           QStringLiteral("InterfaceList::Refresh\tsimB\t100")}));
    EXPECT_EQ(m_sim->trace(QStringLiteral("DeviceList::Refresh")).size(), 3);
    // Open systems and interfaces are not opened again.
    m_sim->clearTrace();
    EXPECT_EQ(m_camera->IEnumAvailableCameras().size(), 5);
    EXPECT_TRUE(m_sim->trace(QStringLiteral("System::Open")).isEmpty());
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Interface::Open")).isEmpty());
    EXPECT_EQ(m_sim->trace(QStringLiteral("DeviceList::Refresh")).size(), 3);
}

// A failing step hides what lies behind it, and names itself in the three lines.
struct WalkFaultCase {
    const char* name;
    const char* call;  // the SDK call that fails
    const char* match; // on this object
    int nth;
    const char* method; // the driver routine that reports it
    QStringList listed;
};

std::ostream& operator<<(std::ostream& out, const WalkFaultCase& c) {
    return out << c.name;
}

class DiscoveryWalkFaultTest : public DiscoveryTest, public ::testing::WithParamInterface<WalkFaultCase> {};

TEST_P(DiscoveryWalkFaultTest, HidesOnlyWhatIsBehindTheFailure) {
    const WalkFaultCase& c = GetParam();
    const QString fault = QStringLiteral(R"({ "call": "%1", "match": "%2", "nth": %3, "description": "broken" })")
                              .arg(QLatin1String(c.call), QLatin1String(c.match))
                              .arg(c.nth);
    EXPECT_EQ(listCameras(kTwoSystems.arg(fault)), c.listed);
    EXPECT_EQ(m_log.texts(QtCriticalMsg), sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("broken"),
                                                        QLatin1String(c.call), QLatin1String(c.method)));
}

INSTANTIATE_TEST_SUITE_P(Faults, DiscoveryWalkFaultTest,
                         ::testing::Values(
                             WalkFaultCase{
                                 "SystemOpen", "System::Open", "simA", 1, "openSystem", {QStringLiteral("veyra B1")}},
                             WalkFaultCase{"GetInterfaces",
                                           "System::GetInterfaces",
                                           "simB",
                                           1,
                                           "getSystemInterfaces",
                                           {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"),
                                            QStringLiteral("veyra A1"), QStringLiteral("veyra A2")}},
                             WalkFaultCase{"InterfaceRefresh",
                                           "InterfaceList::Refresh",
                                           "simA",
                                           1,
                                           "getSystemInterfaces",
                                           {QStringLiteral("veyra B1")}},
                             WalkFaultCase{"InterfaceOpen",
                                           "Interface::Open",
                                           "a0",
                                           1,
                                           "openInterface",
                                           {QStringLiteral("veyra A2"), QStringLiteral("veyra B1")}},
                             WalkFaultCase{"GetDevices",
                                           "Interface::GetDevices",
                                           "a1",
                                           1,
                                           "getDevices",
                                           {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"),
                                            QStringLiteral("veyra A1"), QStringLiteral("veyra B1")}},
                             WalkFaultCase{"DeviceRefresh",
                                           "DeviceList::Refresh",
                                           "b0",
                                           1,
                                           "getDevices",
                                           {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"),
                                            QStringLiteral("veyra A1"), QStringLiteral("veyra A2")}},
                             // An error of the walk itself ends it: what was gathered is the answer.
                             WalkFaultCase{"ThirdSerial",
                                           "Device::GetSerialNumber",
                                           "",
                                           3,
                                           "IEnumAvailableCameras",
                                           {QStringLiteral("veyra A1"), QStringLiteral("veyra A2")}},
                             WalkFaultCase{"SecondSystemsInterfaceWalk",
                                           "InterfaceList::begin",
                                           "simB",
                                           1,
                                           "IEnumAvailableCameras",
                                           {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"),
                                            QStringLiteral("veyra A1"), QStringLiteral("veyra A2")}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(DiscoveryTest, ListsThatAnswerNullAreSkippedSilently) {
    const QString json = QStringLiteral(R"({ "systems": [
        { "id": "s0", "nullInterfaceList": true, "interfaces": [ { "devices": [ { "serial": "HIDDEN" } ] } ] },
        { "id": "s1", "interfaces": [ { "id": "i0", "nullDeviceList": true, "devices": [ { "serial": "HIDDEN" } ] },
                                     { "id": "i1", "devices": [ { "serial": "SEEN" } ] } ] } ] })");
    EXPECT_EQ(listCameras(json), QStringList{QStringLiteral("veyra SEEN")});
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_F(DiscoveryTest, NothingReachableGivesAnEmptyListAndNoLog) {
    for (const char* json :
         {R"({ })", R"({ "systems": [ { } ] })", R"({ "systems": [ { "interfaces": [ { } ] } ] })"}) {
        EXPECT_TRUE(listCameras(QString::fromLatin1(json)).isEmpty()) << json;
        EXPECT_TRUE(m_log.lines().empty()) << json;
    }
}

TEST_F(DiscoveryTest, WithoutASystemListDiscoveryAsksAgainWithoutCounting) {
    EXPECT_TRUE(listCameras(QStringLiteral(R"({ "nullSystemList": true })")).isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
    EXPECT_EQ(m_sim->trace(QStringLiteral("SystemList::GetInstance")).size(), 1) << "the listing asks again";
    EXPECT_TRUE(m_sim->trace(QStringLiteral("SystemList::Refresh")).isEmpty());
}

TEST_F(DiscoveryTest, IdentifierIsTheFamilyWordOneBlankAndTheSerialAsItStands) {
    const QString json = simConfig({simDevice(QString()), simDevice(QStringLiteral("with blank")),
                                    simDevice(QStringLiteral(" lead")), simDevice(QStringLiteral("Ünï-%1"))});
    EXPECT_EQ(listCameras(json), (QStringList{QStringLiteral("veyra "), QStringLiteral("veyra with blank"),
                                              QStringLiteral("veyra  lead"), QStringLiteral("veyra Ünï-%1")}));
}

} // namespace
} // namespace vxcam::test
