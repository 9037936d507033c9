// What the tool answers to bad input and to failing cameras: one documented exit code per kind of failure, an
// error that names what was wrong, and never a crash.
#include "tests/host/ToolSandbox.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

// Cameras for the cases below: A1 and A2 are healthy; the others fail in the way their name says.
QString cameras() {
    return simConfig(
        {simDevice(QStringLiteral("A1"), QStringLiteral(R"("width": 64, "height": 32, "frameRate": 100)")),
         simDevice(QStringLiteral("A2"), QStringLiteral(R"("width": 64, "height": 32, "frameRate": 100)")),
         simDevice(QStringLiteral("BUSY")),
         simDevice(QStringLiteral("NOTRIGGER"), QStringLiteral(R"("absent": ["TriggerMode"])")),
         simDevice(QStringLiteral("NOSOFT"), QStringLiteral(R"("frameRate": 0, "absent": ["TriggerSoftware"])")),
         simDevice(QStringLiteral("SLOW"), QStringLiteral(R"("width": 64, "height": 32, "frameRate": 5)")),
         simDevice(QStringLiteral("DARK"), QStringLiteral(R"("frameRate": 0, "lineRate": 0)"))},
        QStringLiteral(R"({ "call": "Device::Open", "match": "BUSY", "times": 0, "description": "device busy" })"));
}

struct UsageCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* errorMentions; // in standard error; empty: nothing to look for
};

std::ostream& operator<<(std::ostream& out, const UsageCase& c) {
    return out << c.name;
}

QStringList grabArgs(std::initializer_list<const char*> rest) {
    QStringList arguments{QStringLiteral("grab")};
    for (const char* argument : rest) {
        arguments << QString::fromUtf8(argument);
    }
    return arguments;
}

class UsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageTest, ExitsWithItsCodeAndNamesTheProblem) {
    const UsageCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(cameras());
    const ToolResult result = sandbox.run(c.arguments);
    ASSERT_TRUE(result.finished && !result.crashed) << result.describe().toStdString();
    EXPECT_EQ(result.exitCode, c.exitCode) << result.describe().toStdString();
    EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.errorMentions))) << result.describe().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    BadUsage, UsageTest,
    ::testing::Values(
        UsageCase{"NoCommand", {}, kUsage, "no command"},
        UsageCase{"UnknownCommand", {QStringLiteral("frobnicate")}, kUsage, "unknown command 'frobnicate'"},
        UsageCase{"EmptyCommand", {QString()}, kUsage, "unknown command ''"},
        UsageCase{"OptionBeforeCommand", {QStringLiteral("--json"), QStringLiteral("list")}, kUsage, "--json"},
        UsageCase{"UnknownOption", grabArgs({"--camera", "A1", "--bogus"}), kUsage, "bogus"},
        UsageCase{"UnexpectedArgument", grabArgs({"A1"}), kUsage, "unexpected argument 'A1'"},
        UsageCase{"NoCamera", grabArgs({"--frames", "3"}), kUsage, "--camera"},
        UsageCase{"CameraWithoutValue", grabArgs({"--camera"}), kUsage, "--camera"},
        UsageCase{"EmptyCamera", grabArgs({"--camera", ""}), kUsage, "--camera needs a value"},
        UsageCase{"FramesNotANumber", grabArgs({"--camera", "A1", "--frames", "abc"}), kUsage, "--frames 'abc'"},
        UsageCase{"FramesZero", grabArgs({"--camera", "A1", "--frames", "0"}), kUsage, "--frames '0'"},
        UsageCase{"FramesEmpty", grabArgs({"--camera", "A1", "--frames="}), kUsage, "--frames ''"},
        UsageCase{"FramesTooMany", grabArgs({"--camera", "A1", "--frames", "99999999999999999999"}), kUsage,
                  "--frames '99999999999999999999'"},
        UsageCase{"TriggerUnknown", grabArgs({"--camera", "A1", "--trigger", "sideways"}), kUsage,
                  "--trigger 'sideways'"},
        UsageCase{"DurationNegative", grabArgs({"--camera", "A1", "--duration", "-1"}), kUsage, "--duration '-1'"},
        UsageCase{"DurationInfinite", grabArgs({"--camera", "A1", "--duration", "1e400"}), kUsage,
                  "--duration '1e400'"},
        UsageCase{"TimeoutZero", grabArgs({"--camera", "A1", "--timeout", "0"}), kUsage, "--timeout '0'"},
        UsageCase{"ExposureZero", grabArgs({"--camera", "A1", "--exposure", "0"}), kUsage, "--exposure '0'"},
        UsageCase{"ExposureBeyond32Bits", grabArgs({"--camera", "A1", "--exposure", "2147483648"}), kUsage,
                  "--exposure '2147483648'"},
        UsageCase{"PixelFormatNotAName", grabArgs({"--camera", "A1", "--pixel-format", "Bayer RG8"}), kUsage,
                  "--pixel-format 'Bayer RG8' is not a pixel format name"},
        UsageCase{"PixelFormatEmpty", grabArgs({"--camera", "A1", "--pixel-format", ""}), kUsage,
                  "--pixel-format needs a value"},
        UsageCase{"PacketSizeZero", grabArgs({"--camera", "A1", "--packet-size", "0"}), kUsage, "--packet-size '0'"},
        UsageCase{"PacketSizeBeyond16Bits", grabArgs({"--camera", "A1", "--packet-size", "65536"}), kUsage,
                  "--packet-size '65536'"},
        UsageCase{"PacketSizeNotANumber", grabArgs({"--camera", "A1", "--packet-size", "jumbo"}), kUsage,
                  "--packet-size 'jumbo'"},
        UsageCase{"EveryWithoutSave", grabArgs({"--camera", "A1", "--every", "2"}), kUsage, "--every"},
        UsageCase{"EveryZero", grabArgs({"--camera", "A1", "--save", "out", "--every", "0"}), kUsage, "--every '0'"},
        UsageCase{"ListTakesNoArgument", {QStringLiteral("list"), QStringLiteral("extra")}, kUsage, "extra"},
        UsageCase{"DemoOutEmpty", {QStringLiteral("demo"), QStringLiteral("--out"), QString()}, kUsage, "--out"},
        UsageCase{"InfoWithoutCamera", {QStringLiteral("info")}, kUsage, "info needs a CAMERA"},
        UsageCase{"InfoWithTwoCameras",
                  {QStringLiteral("info"), QStringLiteral("A1"), QStringLiteral("A2")},
                  kUsage,
                  "unexpected argument 'A2'"},
        UsageCase{"ViewWithoutDisplay", {QStringLiteral("view")}, kUsage, "'vxcam view' needs a display"},
        UsageCase{"CheckUnknownInterface",
                  {QStringLiteral("check"), QStringLiteral("--interface"), QStringLiteral("nosuch0")},
                  kUsage,
                  "no network interface 'nosuch0'"},
        UsageCase{"CheckTakesNoArgument", {QStringLiteral("check"), QStringLiteral("eth0")}, kUsage, "eth0"},
        UsageCase{"ViewShotWithoutQuit",
                  {QStringLiteral("view"), QStringLiteral("--window-shot"), QStringLiteral("w.png")},
                  kUsage,
                  "--window-shot only applies with --quit-after"}));

INSTANTIATE_TEST_SUITE_P(
    FailingCameras, UsageTest,
    ::testing::Values(
        UsageCase{"UnknownCameraListsTheKnownOnes", grabArgs({"--camera", "veyra NOPE"}), kCameraUnavailable,
                  "unknown camera 'veyra NOPE'; the module lists: veyra A1, veyra A2, veyra BUSY"},
        UsageCase{"UnknownNonAsciiCamera", grabArgs({"--camera", "veyra \xC3\xBC"}), kCameraUnavailable,
                  "unknown camera 'veyra \xC3\xBC'"},
        UsageCase{"CameraDoesNotOpen", grabArgs({"--camera", "BUSY"}), kCameraUnavailable,
                  "'veyra BUSY' is listed but did not open"},
        UsageCase{"StartFails", grabArgs({"--camera", "NOTRIGGER"}), kStartFailed,
                  "did not start in trigger mode freerun"},
        UsageCase{"SoftwareTriggerRefused", grabArgs({"--camera", "NOSOFT", "--trigger", "soft"}), kStartFailed,
                  "refused software trigger 1"},
        UsageCase{"NoFrameForTheTimeout",
                  grabArgs({"--camera", "DARK", "--trigger", "line", "--frames", "2", "--timeout", "0.3"}),
                  kTooFewFrames, "only 0 of 2 frames arrived"},
        UsageCase{"NoFrameInTheDuration", grabArgs({"--camera", "DARK", "--duration", "0.3"}), kTooFewFrames,
                  "no frame arrived"},
        UsageCase{"FewerFramesThanAskedInTheDuration",
                  grabArgs({"--camera", "SLOW", "--frames", "100", "--duration", "0.3"}), kTooFewFrames,
                  "of 100 frames arrived"},
        UsageCase{"ModuleMissing",
                  {QStringLiteral("list"), QStringLiteral("--module-dir"), QStringLiteral("nowhere")},
                  kModuleUnusable,
                  "cannot load the camera module vxCam_160"},
        UsageCase{"SaveFolderIsAFile", grabArgs({"--camera", "A1", "--save", "cameras.json/out"}), kOutputFailed,
                  "cannot create the folder"}));

// ---- help ------------------------------------------------------------------------------------------------

struct HelpCase {
    QStringList arguments;
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const HelpCase& c) {
    return out << c.arguments.join(QLatin1Char(' ')).toStdString();
}

class HelpTest : public ::testing::TestWithParam<HelpCase> {};

TEST_P(HelpTest, PrintsTheCommandsHelpAndSucceeds) {
    const HelpCase& c = GetParam();
    const ToolSandbox sandbox;
    const ToolResult result = sandbox.run(c.arguments);
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String(c.mentions))) << result.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    EveryCommand, HelpTest,
    ::testing::Values(HelpCase{{QStringLiteral("--help")}, "Usage: vxcam COMMAND"},
                      HelpCase{{QStringLiteral("help")}, "Usage: vxcam COMMAND"},
                      HelpCase{{QStringLiteral("list"), QStringLiteral("--help")}, "Usage: vxcam list"},
                      HelpCase{{QStringLiteral("grab"), QStringLiteral("-h")}, "Usage: vxcam grab"},
                      HelpCase{{QStringLiteral("help"), QStringLiteral("grab")}, "Usage: vxcam grab"},
                      // Help wins over options that would fail, so that it is always reachable.
                      HelpCase{{QStringLiteral("grab"), QStringLiteral("--frames"), QStringLiteral("0"),
                                QStringLiteral("--help")},
                               "Usage: vxcam grab"},
                      HelpCase{{QStringLiteral("demo"), QStringLiteral("--help")}, "Usage: vxcam demo"},
                      HelpCase{{QStringLiteral("info"), QStringLiteral("--help")}, "Usage: vxcam info"},
                      HelpCase{{QStringLiteral("check"), QStringLiteral("--help")}, "Usage: vxcam check"},
                      // The viewer's help needs no display.
                      HelpCase{{QStringLiteral("view"), QStringLiteral("--help")}, "Usage: vxcam view"}));

// `vxcam check` on this machine: whatever the settings, the answer is consistent: a status for every check, the
// exit code 9 exactly when a setting is to change, and the same in text and JSON.
TEST(CheckCommand, AnswersConsistentlyInTextAndJson) {
    const ToolSandbox sandbox;
    const ToolResult json = sandbox.run({QStringLiteral("check"), QStringLiteral("--json")});
    ASSERT_TRUE(json.exitCode == kSuccess || json.exitCode == kSettingsToChange) << json.describe().toStdString();
    const QJsonObject summary = json.json();
    const QJsonArray checks = summary.value(QStringLiteral("checks")).toArray();
    ASSERT_FALSE(checks.isEmpty()) << json.describe().toStdString();
    int changes = 0;
    QStringList names;
    for (const QJsonValue check : checks) {
        const QString status = check.toObject().value(QStringLiteral("status")).toString();
        EXPECT_TRUE(status == QLatin1String("ok") || status == QLatin1String("change") ||
                    status == QLatin1String("unknown"))
            << status.toStdString();
        changes += status == QLatin1String("change") ? 1 : 0;
        names << check.toObject().value(QStringLiteral("name")).toString();
    }
    EXPECT_TRUE(names.contains(QStringLiteral("receive buffers")));
    EXPECT_TRUE(names.contains(QStringLiteral("packet sockets")));
    EXPECT_TRUE(names.contains(QStringLiteral("USB3 Vision device")));
    EXPECT_EQ(summary.value(QStringLiteral("changes")).toInt(), changes);
    EXPECT_EQ(json.exitCode, changes > 0 ? kSettingsToChange : kSuccess);
    EXPECT_EQ(summary.value(QStringLiteral("exitCode")).toInt(), json.exitCode);

    const ToolResult text = sandbox.run({QStringLiteral("check")});
    EXPECT_EQ(text.exitCode, json.exitCode);
    EXPECT_TRUE(text.out.contains(changes > 0 ? QStringLiteral("to change") : QStringLiteral("nothing to change")))
        << text.out.toStdString();
}

} // namespace
} // namespace vxcam::test
