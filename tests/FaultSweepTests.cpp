// The fault sweep: each host scenario runs once to record the SDK calls it makes, then once more for every one
// of those calls with that call failing. Whatever fails, the module must not crash, hang, leak or let an
// exception reach the host; it must not answer success where the camera says otherwise; each SDK error must be
// reported in its three lines, under one method; and the object (or a new one, after a delete) must close,
// open again and deliver.
//
// An idle object lives through each run, so that the shared system list, and the SDK session with the fault's
// call count, last from the first call to the last. VXCAM_SWEEP_STRIDE=N faults every Nth recorded call only (the slow
// sanitizer builds use it).
#include "contract/IVeyraCameraObject.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ModuleLoader.h"
#include "tests/support/SimEnvironment.h"
#include "tests/support/TransportFixture.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace vxcam::test {
namespace {

using namespace std::chrono_literals;

const QString kCamera = QStringLiteral(R"("width": 16, "height": 4, "frameRate": 1000, "lineRate": 1000)");

// The camera the scenarios use: the simulated "W1", or Aravis's virtual camera when the sweep runs on it.
bool g_onVirtualCamera = false;
QString sweptCamera() {
    return g_onVirtualCamera ? QStringLiteral("veyra ") + QLatin1String(kVirtualSerial) : QStringLiteral("veyra W1");
}
// A set-up offers the simulated cameras alone; the sweep on the virtual camera offers that one instead.
void offerSweptProducer() {
    if (g_onVirtualCamera) {
        qputenv("VXCAM_TRANSPORTS", kVirtualTransport.name);
    }
}

// One host with one camera object, checking every answer of success against what the camera does.
class Host {
public:
    Host(const ModuleLoader& module, const QString& cameraId, QStringList& contradictions)
        : m_module(module), m_contradictions(contradictions) {
        m_config.cameraId = cameraId;
        m_config.exposureTime = 100;
        m_camera = m_module.makeCamera(&m_config, &m_frames);
    }

    ICameraObject& camera() { return *m_camera; }
    void destroy() { m_camera.reset(); }
    [[nodiscard]] bool alive() const { return m_camera != nullptr; }

    void list() { static_cast<void>(m_camera->IEnumAvailableCameras()); }

    int32_t open() {
        const int32_t result = m_camera->IOpenCamera();
        claim(result != 1 || m_camera->m_bOpened, "IOpenCamera answered 1 with m_bOpened false");
        claim(result != 0 || !m_camera->m_bOpened, "IOpenCamera answered 0 with m_bOpened true");
        return result;
    }

    void close() {
        m_camera->ICloseCamera();
        claim(!m_camera->m_bOpened, "m_bOpened after ICloseCamera");
    }

    // A start that answers 1 with the camera running in a free-run mode must bring frames.
    int32_t start(int32_t mode) {
        m_camera->m_nTriggerMode = mode;
        const std::size_t before = m_frames.count();
        const int32_t result = m_camera->IStartCamera();
        if (result == 1 && m_camera->m_bRunning && (mode == FreeRun || mode == FreeRunResetFrameId)) {
            claim(m_frames.waitForFrames(before + 2, 3s), "IStartCamera answered 1, running, but no frame came");
        }
        return result;
    }

    void stop() {
        m_camera->IStopCamera();
        claim(!m_camera->m_bRunning, "m_bRunning after IStopCamera");
    }

    // A trigger taken by a camera in software-trigger mode must bring a frame.
    int32_t softTrigger() {
        const std::size_t before = m_frames.count();
        const int32_t result = asVeyraCamera(m_camera.get())->ISendSoftTrigger();
        if (result == 1 && m_camera->m_bRunning && m_camera->m_nAppliedTriggerMode == SoftTrigger) {
            claim(m_frames.waitForFrames(before + 1, 3s), "ISendSoftTrigger answered 1, but no frame came");
        }
        return result;
    }

    void setExposure(int32_t value) {
        CameraProperty property{1, value};
        static_cast<void>(m_camera->ISetProperty(&property));
    }

    // Closed, opened again and used: the object is whole whatever failed before. Only the calls before the
    // first recovery are faulted: a failure during the recovery itself proves nothing.
    void recover() {
        if (s_beforeRecovery) {
            s_beforeRecovery();
            s_beforeRecovery = nullptr;
        }
        m_camera->IStopCamera();
        m_camera->ICloseCamera();
        claim(open() == 1, "the object could not be opened again");
        claim(start(FreeRun) == 1 && m_camera->m_bRunning, "the object could not be started again");
        stop();
        close();
    }

    static inline std::function<void()> s_beforeRecovery; // set by the sweep for each run

private:
    void claim(bool holds, const char* what) {
        if (!holds) {
            m_contradictions << QLatin1String(what);
        }
    }

    const ModuleLoader& m_module;
    QStringList& m_contradictions;
    CameraConfig m_config;
    FrameRecorder m_frames; // outlives the object, which may deliver until it is deleted
    ModuleLoader::Camera m_camera{nullptr, {nullptr}};
};

struct Scenario {
    const char* name;
    QStringList devices;
    std::function<void(const ModuleLoader&, QStringList&)> run;
    bool alsoVirtual = false; // the scenario needs nothing that only a simulated camera offers
};

QString exposureDevice(const char* feature) {
    return simDevice(QStringLiteral("W1"), kCamera + QStringLiteral(R"(, "exposure": { "feature": "%1", "min": 10, )"
                                                                    R"("max": 500, "value": 10 })")
                                                         .arg(QLatin1String(feature)));
}

void startStopClose(const ModuleLoader& module, QStringList& contradictions, int32_t mode) {
    Host host(module, sweptCamera(), contradictions);
    if (host.open() == 1) {
        host.start(mode);
        if (mode == SoftTrigger) {
            host.softTrigger();
            host.softTrigger();
        }
        host.stop();
        host.close();
    }
    host.recover();
}

std::vector<Scenario> scenarios() {
    const QStringList one{simDevice(QStringLiteral("W1"), kCamera)};
    std::vector<Scenario> all{
        {"List", one,
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             host.list();
             host.recover();
         }},
        {"OpenClose", one,
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             host.open();
             host.close();
             host.recover();
         }},
        {"LineTrigger", one, [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, LineTrigger); }},
        {"FreeRun", one, [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, FreeRun); }},
        {"FreeRunResetFrameId", one,
         [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, FreeRunResetFrameId); }},
        {"SoftTrigger", one, [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, SoftTrigger); }},
        {"Idle", one, [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, Idle); }},
        {"SoftTriggerMode", one,
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             if (host.open() == 1) {
                 host.start(LineTrigger);
                 host.camera().ISetSoftTriggerMode();
                 host.softTrigger();
                 host.stop();
             }
             host.recover();
         }},
        {"ExposureTime",
         {exposureDevice("ExposureTime")},
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             if (host.open() == 1) {
                 host.setExposure(250);
             }
             host.recover();
         }},
        {"ExposureTimeAbs",
         {exposureDevice("ExposureTimeAbs")},
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             if (host.open() == 1) {
                 host.setExposure(250);
                 host.setExposure(9);
             }
             host.recover();
         }},
        {"InitProperty",
         {exposureDevice("ExposureTimeAbs")},
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             if (host.open() == 1) {
                 host.camera().InitProperty();
             }
             host.recover();
         }},
        {"Conversion",
         {simDevice(QStringLiteral("W1"), kCamera + QStringLiteral(R"(, "pixelFormat": "BayerRG8")"))},
         [](const ModuleLoader& m, QStringList& c) { startStopClose(m, c, FreeRun); }},
        {"DeleteWhileRunning", one,
         [](const ModuleLoader& m, QStringList& c) {
             {
                 Host host(m, sweptCamera(), c);
                 if (host.open() == 1) {
                     host.start(FreeRun);
                 }
             } // deleted while running
             Host after(m, sweptCamera(), c);
             after.recover();
         }},
        {"TwoObjects",
         {simDevice(QStringLiteral("W1"), kCamera), simDevice(QStringLiteral("W2"), kCamera)},
         [](const ModuleLoader& m, QStringList& c) {
             Host second(m, QStringLiteral("veyra W2"), c);
             {
                 Host first(m, sweptCamera(), c);
                 if (first.open() == 1) {
                     first.start(FreeRun);
                 }
                 if (second.open() == 1) {
                     second.start(FreeRun);
                 }
             } // the first deleted while the second runs
             second.recover();
         }},
        {"OpenTwice", one,
         [](const ModuleLoader& m, QStringList& c) {
             Host host(m, sweptCamera(), c);
             host.open();
             host.open();
             host.start(FreeRun);
             host.stop();
             host.close();
             host.recover();
         }},
    };
    for (Scenario& scenario : all) {
        const std::string name = scenario.name;
        scenario.alsoVirtual = name == "List" || name == "OpenClose" || name == "LineTrigger" || name == "FreeRun" ||
                               name == "SoftTrigger" || name == "SoftTriggerMode" || name == "DeleteWhileRunning" ||
                               name == "OpenTwice";
    }
    return all;
}

std::vector<Scenario> virtualScenarios() {
    std::vector<Scenario> chosen;
    for (const Scenario& scenario : scenarios()) {
        if (scenario.alsoVirtual) {
            chosen.push_back(scenario);
        }
    }
    return chosen;
}

// The SDK calls a scenario makes, as its trace records them: call names, in order.
QStringList recordedCalls(const Scenario& scenario, const ModuleLoader& module) {
    const SimEnvironment sim(simConfig(scenario.devices));
    offerSweptProducer();
    QStringList contradictions;
    QStringList calls;
    Host::s_beforeRecovery = [&] {
        for (const QString& line : sim.trace()) {
            calls << line.section(QLatin1Char('\t'), 0, 0);
        }
    };
    {
        const Host anchor(module, QString(), contradictions); // keeps one SDK session for the whole run
        scenario.run(module, contradictions);
    }
    EXPECT_TRUE(contradictions.isEmpty()) << "without a fault: " << contradictions.join(QLatin1Char(';')).toStdString();
    return calls;
}

// Every critical line belongs to a report of three lines with one method, or counts repeats of one.
QString badReport(const QStringList& critical) {
    static const char* const kPrefixes[] = {"ExceptionType:     ", "ErrorDescription:  ", "in function:       "};
    int i = 0;
    while (i < critical.size()) {
        if (critical.at(i).startsWith(QLatin1String("The same SDK error again"))) {
            ++i;
            continue;
        }
        if (i + 3 > critical.size()) {
            return QStringLiteral("a report cut short: ") + critical.at(i);
        }
        const QString suffix = critical.at(i).section(QLatin1String(" - CCameraVeyra::"), -1);
        for (int line = 0; line < 3; ++line) {
            const QString& text = critical.at(i + line);
            if (!text.startsWith(QLatin1String(kPrefixes[line])) ||
                !text.endsWith(QLatin1String(" - CCameraVeyra::") + suffix) || suffix.isEmpty()) {
                return QStringLiteral("not a three-line report: ") + text;
            }
        }
        i += 3;
    }
    return {};
}

class FaultSweep : public ::testing::TestWithParam<Scenario> {
protected:
    static void SetUpTestSuite() { QLoggingCategory::setFilterRules(QStringLiteral("vxcam.driver.frame.debug=false")); }
};

// The same scenarios on Aravis's virtual camera, whose stream and delivery thread end with the device; the
// faults come from the same file, through the session every producer shares.
class VirtualFaultSweep : public FaultSweep {
protected:
    void SetUp() override { g_onVirtualCamera = true; }
    void TearDown() override { g_onVirtualCamera = false; }
};

void sweep(const Scenario& scenario) {
    ModuleLoader module;
    ASSERT_TRUE(module.loaded()) << module.errorString().toStdString();
    const QStringList calls = recordedCalls(scenario, module);
    ASSERT_FALSE(calls.isEmpty());

    const char* strideText = std::getenv("VXCAM_SWEEP_STRIDE");
    const int stride = strideText != nullptr && std::atoi(strideText) > 0 ? std::atoi(strideText) : 1;
    std::map<QString, int> seen;
    int faulted = 0;
    for (int index = 0; index < calls.size(); ++index) {
        const QString& call = calls.at(index);
        const int nth = ++seen[call];
        if (index % stride != 0) {
            continue;
        }
        ++faulted;
        const std::string where = call.toStdString() + " #" + std::to_string(nth);
        SCOPED_TRACE(where);
        LogCapture log;
        const SimEnvironment sim(simConfig(
            scenario.devices,
            QStringLiteral(R"({ "call": "%1", "nth": %2, "description": "swept fault" })").arg(call).arg(nth)));
        offerSweptProducer();
        QStringList contradictions;
        bool fired = false;
        Host::s_beforeRecovery = [&] {
            for (const QString& line : sim.trace()) {
                fired = fired || line.count(QLatin1Char('\t')) >= 3;
            }
        };
        {
            const Host anchor(module, QString(), contradictions);
            scenario.run(module, contradictions);
        }
        EXPECT_TRUE(contradictions.isEmpty()) << contradictions.join(QLatin1Char(';')).toStdString();
        const QStringList critical = log.texts(QtCriticalMsg);
        EXPECT_EQ(badReport(critical), QString()) << badReport(critical).toStdString();
        if (fired) {
            EXPECT_FALSE(critical.filter(QStringLiteral("in function:        %1  - ").arg(call)).isEmpty())
                << "the failure of " << where << " was not reported";
        }
    }
    std::printf("%s: %d calls faulted (of %d recorded)\n", scenario.name, faulted, static_cast<int>(calls.size()));
}

TEST_P(FaultSweep, EveryRecordedCallFailedOnce) {
    sweep(GetParam());
}

TEST_P(VirtualFaultSweep, EveryRecordedCallFailedOnce) {
    sweep(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultSweep, ::testing::ValuesIn(scenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& scenario) {
                             return std::string(scenario.param.name);
                         });
INSTANTIATE_TEST_SUITE_P(Scenarios, VirtualFaultSweep, ::testing::ValuesIn(virtualScenarios()),
                         [](const ::testing::TestParamInfo<Scenario>& scenario) {
                             return std::string(scenario.param.name);
                         });

} // namespace
} // namespace vxcam::test
