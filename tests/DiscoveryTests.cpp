// Listing the reachable cameras through the module, as a host does, on every transport that needs no hardware.
#include "tests/support/TransportFixture.h"

#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

// Lists the cameras of `json` (or the virtual camera) with a fresh object; the log of the listing alone lands in
// `m_log`.
template <typename Fixture>
class Listing : public Fixture {
protected:
    QStringList listCameras(const QString& json) { return this->camera(json).IEnumAvailableCameras(); }
};

using DiscoveryTest = Listing<OnTransport>;

// Why the simulated producer alone serves a test: the virtual producer has one camera on one interface of one
// system, and its lists always answer.
constexpr const char* kNeedsSimulatedTopology =
    "needs a topology that only the simulated camera file describes; the virtual producer always lists its one "
    "camera";
// Why the GenTL transport does not serve it: one producer is one system there, and no GenTL list answers null.
constexpr const char* kNeedsWholeFile = "needs several systems or lists that answer null, which GenTL does not have";

const QString kTwoSystems = QStringLiteral(R"({ "systems": [
  { "id": "simA", "interfaces": [
      { "id": "a0", "devices": [ { "serial": "A1" }, { "serial": "A2" }, { "serial": "A1", "repeatedSerial": true } ] },
      { "id": "a1", "devices": [ { "serial": "A2", "repeatedSerial": true } ] } ] },
  { "id": "simB", "interfaces": [ { "id": "b0", "devices": [ { "serial": "B1" } ] } ] } ],
  "faults": [ %1 ] })");

// What a walk meets on one transport: the cameras in walk order, the interface lists refreshed, the number of
// device lists refreshed.
struct Walk {
    QString json;
    QStringList listed;
    QStringList interfaceRefreshes;
    int deviceRefreshes;
};

// Two simulated systems with a serial on two paths (through GenTL: one system), or the virtual producer's one
// system and camera.
Walk walkOn(const Transport& transport) {
    if (transport.simulated && !transport.wholeFile) {
        // Through GenTL, the file's interfaces are those of the producer's one system, in the file's order.
        return {kTwoSystems.arg(QString()),
                {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"), QStringLiteral("veyra A1"),
                 QStringLiteral("veyra A2"), QStringLiteral("veyra B1")},
                {QStringLiteral("InterfaceList::Refresh\tvxcam-sim\t100")},
                3};
    }
    if (transport.simulated) {
        return {
            kTwoSystems.arg(QString()),
            {QStringLiteral("veyra A1"), QStringLiteral("veyra A2"), QStringLiteral("veyra A1"),
             QStringLiteral("veyra A2"), QStringLiteral("veyra B1")},
            {QStringLiteral("InterfaceList::Refresh\tsimA\t100"), QStringLiteral("InterfaceList::Refresh\tsimB\t100")},
            3};
    }
    return {simConfig({}),
            {QStringLiteral("veyra ") + QLatin1String(kVirtualSerial)},
            {QStringLiteral("InterfaceList::Refresh\tAravis-Virtual\t100")},
            1};
}

TEST_P(DiscoveryTest, ListsEveryPathInWalkOrderWithDuplicates) {
    const Walk walk = walkOn(GetParam());
    EXPECT_EQ(listCameras(walk.json), walk.listed);
    EXPECT_TRUE(m_log.lines().empty());
    // Every list is refreshed with timeout 100 each time the walk reaches it.
    EXPECT_EQ(m_sim->trace(QStringLiteral("InterfaceList::Refresh")), walk.interfaceRefreshes);
    EXPECT_EQ(m_sim->trace(QStringLiteral("DeviceList::Refresh")).size(), walk.deviceRefreshes);
    EXPECT_EQ(m_sim->trace(QStringLiteral("DeviceList::Refresh")).filter(QStringLiteral("\t100")).size(),
              walk.deviceRefreshes);
    // Open systems and interfaces are not opened again.
    m_sim->clearTrace();
    EXPECT_EQ(m_camera->IEnumAvailableCameras().size(), walk.listed.size());
    EXPECT_TRUE(m_sim->trace(QStringLiteral("System::Open")).isEmpty());
    EXPECT_TRUE(m_sim->trace(QStringLiteral("Interface::Open")).isEmpty());
    EXPECT_EQ(m_sim->trace(QStringLiteral("DeviceList::Refresh")).size(), walk.deviceRefreshes);
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

using DiscoveryWalkFaultTest = Listing<OnTransportWith<WalkFaultCase>>;

TEST_P(DiscoveryWalkFaultTest, HidesOnlyWhatIsBehindTheFailure) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedTopology << " (the failures hide parts of two systems)";
    }
    if (!wholeFile()) {
        GTEST_SKIP() << kNeedsWholeFile;
    }
    const WalkFaultCase& c = testCase();
    const QString fault = QStringLiteral(R"({ "call": "%1", "match": "%2", "nth": %3, "description": "broken" })")
                              .arg(QLatin1String(c.call), QLatin1String(c.match))
                              .arg(c.nth);
    EXPECT_EQ(listCameras(kTwoSystems.arg(fault)), c.listed);
    EXPECT_EQ(m_log.texts(QtCriticalMsg), sdkErrorLines(QStringLiteral("RuntimeException"), QStringLiteral("broken"),
                                                        QLatin1String(c.call), QLatin1String(c.method)));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiscoveryWalkFaultTest,
    ::testing::Combine(::testing::ValuesIn(allTransports()),
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
                                          QStringLiteral("veyra A1"), QStringLiteral("veyra A2")}})),
    transportAnd([](const WalkFaultCase& c, std::size_t) { return std::string(c.name); }));

TEST_P(DiscoveryTest, ListsThatAnswerNullAreSkippedSilently) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedTopology << " (lists that answer null)";
    }
    if (!wholeFile()) {
        GTEST_SKIP() << kNeedsWholeFile;
    }
    const QString json = QStringLiteral(R"({ "systems": [
        { "id": "s0", "nullInterfaceList": true, "interfaces": [ { "devices": [ { "serial": "HIDDEN" } ] } ] },
        { "id": "s1", "interfaces": [ { "id": "i0", "nullDeviceList": true,
                                        "devices": [ { "serial": "HIDDEN", "repeatedSerial": true } ] },
                                     { "id": "i1", "devices": [ { "serial": "SEEN" } ] } ] } ] })");
    EXPECT_EQ(listCameras(json), QStringList{QStringLiteral("veyra SEEN")});
    EXPECT_TRUE(m_log.lines().empty());
}

TEST_P(DiscoveryTest, NothingReachableGivesAnEmptyListAndNoLog) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedTopology << " (no camera at all)";
    }
    for (const char* json :
         {R"({ })", R"({ "systems": [ { } ] })", R"({ "systems": [ { "interfaces": [ { } ] } ] })"}) {
        EXPECT_TRUE(listCameras(QString::fromLatin1(json)).isEmpty()) << json;
        EXPECT_TRUE(m_log.lines().empty()) << json;
    }
}

TEST_P(DiscoveryTest, WithoutASystemListDiscoveryAsksAgainWithoutCounting) {
    if (!simulated()) {
        GTEST_SKIP() << kNeedsSimulatedTopology << " (a session without a system list)";
    }
    if (!wholeFile()) {
        GTEST_SKIP() << kNeedsWholeFile;
    }
    EXPECT_TRUE(listCameras(QStringLiteral(R"({ "nullSystemList": true })")).isEmpty());
    EXPECT_TRUE(m_log.lines().empty());
    EXPECT_EQ(m_sim->trace(QStringLiteral("SystemList::GetInstance")).size(), 1) << "the listing asks again";
    EXPECT_TRUE(m_sim->trace(QStringLiteral("SystemList::Refresh")).isEmpty());
}

TEST_P(DiscoveryTest, IdentifierIsTheFamilyWordOneBlankAndTheSerialAsItStands) {
    if (!simulated()) {
        GTEST_SKIP() << "the serials under test (empty, with blanks, non-ASCII) are written into the simulated "
                        "camera file; the virtual camera's \"1\" is listed by ListsEveryPathInWalkOrderWithDuplicates";
    }
    const QString odd = QStringLiteral(R"("oddSerial": true)");
    const QString json = simConfig({simDevice(QString(), odd), simDevice(QStringLiteral("with blank"), odd),
                                    simDevice(QStringLiteral(" lead"), odd), simDevice(QStringLiteral("Ünï-%1"))});
    EXPECT_EQ(listCameras(json), (QStringList{QStringLiteral("veyra "), QStringLiteral("veyra with blank"),
                                              QStringLiteral("veyra  lead"), QStringLiteral("veyra Ünï-%1")}));
}

INSTANTIATE_TEST_SUITE_P(Producers, DiscoveryTest, ::testing::ValuesIn(allTransports()), transportName);

} // namespace
} // namespace vxcam::test
