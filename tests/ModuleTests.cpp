// The module as a host sees it: loaded by name, objects made and freed through its exports, the shared
// system list joined and left, SDK errors reported in three critical lines.
#include "sdk/SystemList.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

class NullCallback final : public ICameraCallback {
public:
    void OnImageReady(ICameraObject* /*camera*/) override {}
};

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_module.loaded()) << m_module.errorString().toStdString(); }

    ModuleLoader::Camera makeCamera() { return m_module.makeCamera(&m_config, &m_callback); }

    static QString oneCamera(const QString& faults = {}) {
        return simConfig({simDevice(QStringLiteral("SN1001"))}, faults);
    }

    ModuleLoader m_module;
    CameraConfig m_config;
    NullCallback m_callback;
};

TEST_F(ModuleTest, CreateLogsTheWarningAndGivesObjectsWithStartValues) {
    SimEnvironment sim(oneCamera());
    LogCapture log;
    m_config.imageFormat = ImageFormatRgb24;
    auto camera = makeCamera();
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(log.texts(QtWarningMsg), QStringList{QStringLiteral("create veyra camera...")});
    for (const LogLine& line : log.lines()) {
        EXPECT_FALSE(line.hasContext) << line.text.toStdString();
    }
    EXPECT_EQ(camera->m_pConfig, &m_config);
    EXPECT_EQ(camera->m_pCallback, &m_callback);
    EXPECT_EQ(camera->m_nBitsPerPixel, 24);
    EXPECT_EQ(camera->m_nTriggerMode, 1);
    EXPECT_EQ(camera->m_nAppliedTriggerMode, 0);
    EXPECT_FALSE(camera->m_bOpened);
    EXPECT_FALSE(camera->m_bRunning);
    EXPECT_EQ(camera->m_pImageData, nullptr);
    EXPECT_TRUE(camera->IQueryFlagC());
    EXPECT_FALSE(camera->IQueryFlagA());
    EXPECT_EQ(camera->IQueryValue(), 0);
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty());
}

TEST_F(ModuleTest, EveryCreateMakesANewObject) {
    SimEnvironment sim(oneCamera());
    auto first = makeCamera();
    auto second = makeCamera();
    EXPECT_NE(first.get(), second.get());
}

TEST_F(ModuleTest, DeleteOfNullDoesNothing) {
    SimEnvironment sim(oneCamera());
    LogCapture log;
    m_module.destroy()(nullptr);
    EXPECT_TRUE(log.lines().empty());
    EXPECT_TRUE(sim.trace().isEmpty());
}

TEST_F(ModuleTest, ObjectsJoinTheSharedListAndTheLastOneReleasesIt) {
    SimEnvironment sim(oneCamera());
    auto first = makeCamera();
    auto second = makeCamera();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::GetInstance")).size(), 2);
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::Refresh")).size(), 2);
    EXPECT_EQ(sim.trace(QStringLiteral("ImageProcessor::GetInstance")).size(), 2);

    first.reset();
    EXPECT_TRUE(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).isEmpty());
    second.reset();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).size(), 1);

    // A third object after the release obtains and refreshes a fresh list.
    sim.clearTrace();
    auto third = makeCamera();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::GetInstance")).size(), 1);
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::Refresh")).size(), 1);
    third.reset();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).size(), 1);
}

TEST_F(ModuleTest, ConstructionOrderOfSdkCalls) {
    SimEnvironment sim(oneCamera());
    auto camera = makeCamera();
    QStringList calls;
    for (const QString& line : sim.trace()) {
        calls << line.section(QLatin1Char('\t'), 0, 0);
    }
    EXPECT_EQ(calls, (QStringList{QStringLiteral("SystemList::GetInstance"), QStringLiteral("SystemList::Refresh"),
                                  QStringLiteral("ImageProcessor::GetInstance")}));
}

// One fault per case: where it strikes, what the three lines say, and whether the faulty object joined.
struct JoinFaultCase {
    const char* name;
    const char* call;
    int nth;
    const char* method;
};

// Names the case in test output instead of dumping its bytes.
std::ostream& operator<<(std::ostream& out, const JoinFaultCase& c) {
    return out << c.name;
}

class ModuleJoinFaultTest : public ModuleTest, public ::testing::WithParamInterface<JoinFaultCase> {};

TEST_P(ModuleJoinFaultTest, SecondObjectFailsAndTheCountStaysRight) {
    const JoinFaultCase& c = GetParam();
    const QString fault =
        QStringLiteral(
            R"({ "call": "%1", "nth": %2, "description": "no transport layer", "type": "NotAvailableException" })")
            .arg(QLatin1String(c.call))
            .arg(c.nth);
    SimEnvironment sim(oneCamera(fault));
    auto first = makeCamera();
    LogCapture log;
    auto second = makeCamera();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(log.texts(QtCriticalMsg),
              sdkErrorLines(QStringLiteral("NotAvailableException"), QStringLiteral("no transport layer"),
                            QLatin1String(c.call), QLatin1String(c.method)));
    for (const LogLine& line : log.lines()) {
        EXPECT_FALSE(line.hasContext);
    }

    // Whatever failed, the first object's leaving is what releases the list, and only once.
    second.reset();
    EXPECT_TRUE(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).isEmpty());
    first.reset();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).size(), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, ModuleJoinFaultTest,
                         ::testing::Values(JoinFaultCase{"GetInstance", "SystemList::GetInstance", 2, "CCameraVeyra"},
                                           JoinFaultCase{"Refresh", "SystemList::Refresh", 2, "CCameraVeyra"},
                                           JoinFaultCase{"ImageProcessor", "ImageProcessor::GetInstance", 2,
                                                         "CCameraVeyra"}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(ModuleTest, ObjectThatNeverJoinedDoesNotReleaseTheListOfOthers) {
    // The second object's refresh fails; deleted first, it must leave the first object's list alone.
    SimEnvironment sim(oneCamera(QStringLiteral(R"({ "call": "SystemList::Refresh", "nth": 2 })")));
    auto joined = makeCamera();
    auto failed = makeCamera();
    failed.reset();
    EXPECT_TRUE(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).isEmpty());
    joined.reset();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).size(), 1);
}

TEST_F(ModuleTest, FailingReleaseIsReportedAndTheListIsObtainedAnewAfterwards) {
    SimEnvironment sim(oneCamera(QStringLiteral(
        R"({ "call": "SystemList::ReleaseInstance", "description": "still in use", "type": "ResourceException" })")));
    auto camera = makeCamera();
    {
        LogCapture log;
        camera.reset();
        EXPECT_EQ(log.texts(QtCriticalMsg),
                  sdkErrorLines(QStringLiteral("ResourceException"), QStringLiteral("still in use"),
                                QStringLiteral("SystemList::ReleaseInstance"), QStringLiteral("~CCameraVeyra")));
    }
    sim.clearTrace();
    auto next = makeCamera();
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::GetInstance")).size(), 1);
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::Refresh")).size(), 1);
}

TEST_F(ModuleTest, NullSystemListIsNeitherRefreshedNorCounted) {
    SimEnvironment sim(QStringLiteral(R"({ "nullSystemList": true })"));
    LogCapture log;
    auto camera = makeCamera();
    camera.reset();
    EXPECT_TRUE(log.texts(QtCriticalMsg).isEmpty());
    EXPECT_EQ(sim.trace(QStringLiteral("SystemList::GetInstance")).size(), 1);
    EXPECT_TRUE(sim.trace(QStringLiteral("SystemList::Refresh")).isEmpty());
    EXPECT_TRUE(sim.trace(QStringLiteral("SystemList::ReleaseInstance")).isEmpty());
}

TEST_F(ModuleTest, NullConfigurationRecordDoesNotCrash) {
    SimEnvironment sim(oneCamera());
    auto camera = m_module.makeCamera(nullptr, &m_callback);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->m_nBitsPerPixel, 0);
    EXPECT_EQ(camera->IOpenCamera(), 0);
}

} // namespace
} // namespace vxcam::test
