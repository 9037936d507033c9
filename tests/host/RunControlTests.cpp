// How a grab ends and what it says on the way: interruption, timeouts, folders it cannot write, usage errors
// asked for as JSON, frames the module cannot deliver, and large frames saved at speed.
#include "tests/host/ToolSandbox.h"

#include <QImage>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <csignal>
#include <ostream>
#include <signal.h> // kill(): the tests send the tool the signals a user's terminal or a service manager sends

namespace vxcam::test {
namespace {

using namespace exit_code;

QString steadyCamera(const QString& serial) {
    return simConfig({simDevice(serial, QStringLiteral(R"("width": 64, "height": 32, "frameRate": 100)"))});
}

// ---- interruption ----------------------------------------------------------------------------------------

struct SignalCase {
    const char* name;
    int signal;
    QStringList limit;
};

std::ostream& operator<<(std::ostream& out, const SignalCase& c) {
    return out << c.name;
}

class Interruption : public ::testing::TestWithParam<SignalCase> {};

// Whether the grab was to end by a frame count or a duration, Ctrl-C and SIGTERM stop the camera, print the
// summary so far and exit with the same code.
TEST_P(Interruption, StopsTheCameraPrintsTheSummaryAndExitsWith130) {
    const SignalCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(steadyCamera(QStringLiteral("I1")));
    QStringList arguments{QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("I1"),
                          QStringLiteral("--json")};
    arguments << c.limit;
    const std::unique_ptr<QProcess> process = sandbox.start(arguments);
    ASSERT_TRUE(process);
    // The tool says on standard error when the camera runs; the signal comes after that.
    process->setReadChannel(QProcess::StandardError);
    QString early;
    while (!early.contains(QLatin1String("grabbing from")) && process->waitForReadyRead(30000)) {
        early += QString::fromUtf8(process->readAllStandardError());
    }
    ASSERT_TRUE(early.contains(QLatin1String("grabbing from"))) << early.toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), c.signal), 0);

    ToolResult result = ToolSandbox::finish(*process);
    result.err.prepend(early);
    ASSERT_TRUE(result.finished && !result.crashed) << result.describe().toStdString();
    EXPECT_EQ(result.exitCode, kInterrupted) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_TRUE(summary.value(QStringLiteral("interrupted")).toBool()) << result.out.toStdString();
    EXPECT_EQ(summary.value(QStringLiteral("exitCode")).toInt(), kInterrupted);
    EXPECT_TRUE(summary.value(QStringLiteral("result")).toString().startsWith(QLatin1String("interrupted")));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, Interruption,
    ::testing::Values(
        SignalCase{"CtrlCDuringFrameCount", SIGINT, {QStringLiteral("--frames"), QStringLiteral("100000000")}},
        SignalCase{"CtrlCDuringDuration", SIGINT, {QStringLiteral("--duration"), QStringLiteral("3600")}},
        SignalCase{"TermDuringFrameCount", SIGTERM, {QStringLiteral("--frames"), QStringLiteral("100000000")}},
        SignalCase{"TermDuringDuration", SIGTERM, {QStringLiteral("--duration"), QStringLiteral("3600")}}),
    [](const ::testing::TestParamInfo<SignalCase>& param) { return std::string(param.param.name); });

// ---- timeouts and folders --------------------------------------------------------------------------------

// --timeout counts with --duration too: a camera that stops sending ends the run long before the hour is up.
TEST(RunLimits, TimeoutAppliesAlongsideADuration) {
    ToolSandbox sandbox;
    sandbox.useCameras(
        simConfig({simDevice(QStringLiteral("D1"), QStringLiteral(R"("frameRate": 0, "lineRate": 0)"))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("D1"),
                                           QStringLiteral("--duration"), QStringLiteral("3600"),
                                           QStringLiteral("--timeout"), QStringLiteral("0.3")});
    ASSERT_TRUE(result.finished) << result.describe().toStdString();
    EXPECT_EQ(result.exitCode, kTooFewFrames) << result.describe().toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("none came for 0.3 s"))) << result.err.toStdString();
}

// A folder that exists but takes no file is found out before the camera starts.
TEST(RunLimits, AnUnwritableSaveFolderEndsTheRunBeforeTheGrab) {
    ToolSandbox sandbox;
    sandbox.useCameras(steadyCamera(QStringLiteral("W1")));
    // /proc takes no new file, not even from root.
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("W1"),
                                           QStringLiteral("--save"), QStringLiteral("/proc")});
    EXPECT_EQ(result.exitCode, kOutputFailed) << result.describe().toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("cannot write into the folder '/proc'"))) << result.err.toStdString();
    EXPECT_FALSE(result.err.contains(QLatin1String("grabbing from"))) << result.err.toStdString();
}

// ---- JSON on usage errors ----------------------------------------------------------------------------------

class JsonUsageError : public ::testing::TestWithParam<QStringList> {};

TEST_P(JsonUsageError, PrintsTheErrorAsJsonOnStandardOutput) {
    const ToolSandbox sandbox;
    const ToolResult result = sandbox.run(GetParam());
    EXPECT_EQ(result.exitCode, kUsage) << result.describe().toStdString();
    const QJsonObject answer = result.json();
    EXPECT_EQ(answer.value(QStringLiteral("exitCode")).toInt(), kUsage) << result.out.toStdString();
    EXPECT_FALSE(answer.value(QStringLiteral("result")).toString().isEmpty()) << result.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Commands, JsonUsageError,
    ::testing::Values(QStringList{QStringLiteral("grab"), QStringLiteral("--json")},
                      QStringList{QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("A"),
                                  QStringLiteral("--frames"), QStringLiteral("0"), QStringLiteral("--json")},
                      QStringList{QStringLiteral("list"), QStringLiteral("--json"), QStringLiteral("--bogus")},
                      QStringList{QStringLiteral("info"), QStringLiteral("--json")},
                      QStringList{QStringLiteral("frobnicate"), QStringLiteral("--json")}));

// ---- frames the module cannot deliver ----------------------------------------------------------------------

// A pixel format the module cannot convert loses every frame inside the module; the tool names that cause once,
// in its result, instead of only "no frame came".
TEST(UndeliverableFrames, TheModulesReasonIsTheResult) {
    ToolSandbox sandbox;
    sandbox.useCameras(
        simConfig({simDevice(QStringLiteral("U1"), QStringLiteral(R"("pixelFormat": "Foo12", "unknownPixelFormat": true,
        "width": 64, "height": 32, "frameRate": 100)"))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("U1"),
                                           QStringLiteral("--frames"), QStringLiteral("3"), QStringLiteral("--timeout"),
                                           QStringLiteral("1"), QStringLiteral("--json")});
    EXPECT_EQ(result.exitCode, kTooFewFrames) << result.describe().toStdString();
    const QString outcome = result.json().value(QStringLiteral("result")).toString();
    EXPECT_TRUE(outcome.contains(QLatin1String(R"(unknown pixel format "Foo12")"))) << outcome.toStdString();
    EXPECT_EQ(result.err.count(QLatin1String("ErrorDescription")), 1) << result.err.toStdString();
}

// ---- large frames ------------------------------------------------------------------------------------------

// 4096 x 3000 at 30 frames per second: every frame asked for is saved, however long the pictures take to
// write, as long as the frames waiting fit the writer's memory budget.
TEST(LargeFrames, EveryFrameAskedForIsSavedAtFullSizeAndRate) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("L1"), QStringLiteral(R"("pixelFormat": "Mono8",
        "width": 4096, "height": 3000, "frameRate": 30)"))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("L1"),
                                           QStringLiteral("--frames"), QStringLiteral("15"), QStringLiteral("--save"),
                                           QStringLiteral("out"), QStringLiteral("--json")},
                                          std::chrono::minutes(5));
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject saved = result.json().value(QStringLiteral("saved")).toObject();
    EXPECT_EQ(saved.value(QStringLiteral("files")).toArray().size(), 15);
    EXPECT_EQ(saved.value(QStringLiteral("framesNotSaved")).toInt(), 0);
    const QImage first(sandbox.path(
        saved.value(QStringLiteral("files")).toArray().at(0).toObject().value(QStringLiteral("file")).toString()));
    EXPECT_EQ(first.size(), QSize(4096, 3000));
}

} // namespace
} // namespace vxcam::test
