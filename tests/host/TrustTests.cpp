// What a user must be able to trust from the first run: a full disk is reported frame by frame and leaves no
// broken picture behind, lost frames and a used folder are explained, a camera file with a mistake or a frame
// no machine can hold is refused with its reason, and --json answers every failure.
#include "tests/host/ToolSandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

QStringList grab(const char* camera, std::initializer_list<const char*> rest) {
    QStringList arguments{QStringLiteral("grab"), QStringLiteral("--camera"), QLatin1String(camera)};
    for (const char* argument : rest) {
        arguments << QString::fromUtf8(argument);
    }
    return arguments;
}

// Every file in `folder` by name, with its size.
QMap<QString, qint64> filesIn(const QString& folder) {
    QMap<QString, qint64> files;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        files.insert(file.fileName(), file.size());
    }
    return files;
}

// ---- a disk that fills up ----------------------------------------------------------------------------------

// The 320 x 240 colour bars make PNG files of about 1.9 KiB and a contact sheet of about 6.5 KiB.
struct FullDiskCase {
    const char* name;
    int limitKiB;
    int framesSaved;
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const FullDiskCase& c) {
    return out << c.name;
}

class FullDisk : public ::testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, CountsEveryPictureNotWrittenAndLeavesNoBrokenFile) {
    const FullDiskCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("D1"), QStringLiteral(R"("pixelFormat": "RGB8",
        "width": 320, "height": 240, "frameRate": 200)"))}));
    sandbox.limitFileSize(c.limitKiB);
    const ToolResult result = sandbox.run(grab("D1", {"--frames", "6", "--save", "out", "--json"}));
    ASSERT_TRUE(result.finished && !result.crashed) << result.describe().toStdString();
    EXPECT_EQ(result.exitCode, kOutputFailed) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_TRUE(summary.value(QStringLiteral("result")).toString().contains(QLatin1String(c.mentions)))
        << result.out.toStdString();
    const QJsonObject saved = summary.value(QStringLiteral("saved")).toObject();
    EXPECT_EQ(saved.value(QStringLiteral("framesNotSaved")).toInt(-1), 6 - c.framesSaved);

    // What the summary lists is exactly what lies on the disk: whole pictures under their names, nothing else.
    const QMap<QString, qint64> files = filesIn(sandbox.path(QStringLiteral("out")));
    const QJsonArray listed = saved.value(QStringLiteral("files")).toArray();
    EXPECT_EQ(listed.size(), c.framesSaved);
    EXPECT_EQ(files.size(), c.framesSaved) << QStringList(files.keys()).join(QLatin1Char(' ')).toStdString();
    for (const QJsonValue& entry : listed) {
        const QString name = QFileInfo(entry.toObject().value(QStringLiteral("file")).toString()).fileName();
        ASSERT_TRUE(files.contains(name)) << name.toStdString();
        EXPECT_FALSE(QImage(sandbox.path(QStringLiteral("out/") + name)).isNull()) << name.toStdString();
    }
    EXPECT_TRUE(saved.value(QStringLiteral("contactSheet")).isNull());
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FullDisk,
    ::testing::Values(FullDiskCase{"NoPictureFits", 1, 0, "6 of the frames to save not saved: cannot write"},
                      // The frames fit; the larger contact sheet fails at its final flush.
                      FullDiskCase{"OnlyTheContactSheetFails", 4, 6, "contact-sheet.png"}),
    [](const ::testing::TestParamInfo<FullDiskCase>& param) { return std::string(param.param.name); });

// ---- frames lost, and a folder used before -------------------------------------------------------------------

// Frames the camera numbered that never came: the run still succeeds, but says how many, why and what to do.
TEST(LostFrames, AreExplainedInTheResult) {
    ToolSandbox sandbox;
    // Half of the frames arrive with packets lost and never reach the host: gaps in the frame IDs.
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("L1"), QStringLiteral(R"("width": 64, "height": 32,
        "frameRate": 500, "incompleteRatio": 0.5)"))}));
    const ToolResult json = sandbox.run(grab("L1", {"--frames", "40", "--save", "out", "--json"}));
    ASSERT_EQ(json.exitCode, kSuccess) << json.describe().toStdString();
    const QJsonObject summary = json.json();
    ASSERT_GT(summary.value(QStringLiteral("framesLost")).toInt(), 0) << json.out.toStdString();
    EXPECT_EQ(summary.value(QStringLiteral("result")).toString(), QStringLiteral("ok"));
    const QString warning = summary.value(QStringLiteral("warning")).toString();
    EXPECT_TRUE(warning.contains(QLatin1String("lost (gaps in the frame IDs): the camera's buffers ran out")))
        << warning.toStdString();
    EXPECT_TRUE(warning.contains(QLatin1String("--every K"))) << warning.toStdString();

    const ToolResult text = sandbox.run(grab("L1", {"--frames", "40"}));
    ASSERT_EQ(text.exitCode, kSuccess) << text.describe().toStdString();
    EXPECT_TRUE(text.out.contains(QLatin1String("result         ok, but "))) << text.out.toStdString();
    // Without saving, the stream's own counts decide: these frames were torn on the way, not left without a buffer.
    EXPECT_TRUE(text.out.contains(QLatin1String("lost (gaps in the frame IDs): the link loses packets")))
        << text.out.toStdString();
}

TEST(UsedFolder, IsNamedWithThePicturesItHeld) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("U1"), QStringLiteral(R"("width": 64, "height": 32,
        "frameRate": 200)"))}));
    const ToolResult first = sandbox.run(grab("U1", {"--frames", "5", "--save", "out", "--json"}));
    ASSERT_EQ(first.exitCode, kSuccess) << first.describe().toStdString();
    EXPECT_EQ(first.json().value(QStringLiteral("saved")).toObject().value(QStringLiteral("earlierPictures")).toInt(-1),
              0);

    const ToolResult second = sandbox.run(grab("U1", {"--frames", "2", "--save", "out", "--json"}));
    ASSERT_EQ(second.exitCode, kSuccess) << second.describe().toStdString();
    EXPECT_EQ(
        second.json().value(QStringLiteral("saved")).toObject().value(QStringLiteral("earlierPictures")).toInt(-1), 5);
    EXPECT_TRUE(second.err.contains(QLatin1String("holds 5 frame pictures of an earlier run")))
        << second.err.toStdString();
}

// ---- the module's first failure ends a grab that gets no frame -----------------------------------------------

// A format the module cannot convert fails every frame: the grab ends on that cause, not after its timeout.
TEST(UndeliverableFrames, EndTheGrabAtTheModulesFirstFailure) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("F1"), QStringLiteral(R"("pixelFormat": "Own12",
        "unknownPixelFormat": true, "width": 64, "height": 32, "frameRate": 100)"))}));
    const ToolResult result = sandbox.run(grab("F1", {"--frames", "3", "--json"})); // the default timeout: 5 s
    EXPECT_EQ(result.exitCode, kTooFewFrames) << result.describe().toStdString();
    const QString outcome = result.json().value(QStringLiteral("result")).toString();
    EXPECT_TRUE(outcome.contains(QLatin1String(R"(unknown pixel format "Own12")"))) << outcome.toStdString();
    EXPECT_TRUE(outcome.contains(QLatin1String("none came within 1 s of the module's first failure")))
        << outcome.toStdString();
}

// ---- camera files the SDK layer refuses ------------------------------------------------------------------------

struct BadCameraFileCase {
    const char* name;
    const char* device; // the device entry's members besides its serial "B1"
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const BadCameraFileCase& c) {
    return out << c.name;
}

class BadCameraFile : public ::testing::TestWithParam<BadCameraFileCase> {};

// Every command that looks for the camera says what is wrong with the file, where, and why; --json too.
TEST_P(BadCameraFile, IsRefusedWithItsPathAndReasonByEveryCommand) {
    const BadCameraFileCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("B1"), QLatin1String(c.device))}));
    const QList<QStringList> commands{
        {QStringLiteral("list")}, {QStringLiteral("info"), QStringLiteral("B1")}, grab("B1", {"--frames", "1"})};
    for (const QStringList& command : commands) {
        const ToolResult text = sandbox.run(command);
        EXPECT_EQ(text.exitCode, kCameraUnavailable) << text.describe().toStdString();
        EXPECT_TRUE(text.err.contains(QLatin1String(c.mentions))) << text.describe().toStdString();
        EXPECT_TRUE(text.err.contains(sandbox.path(QStringLiteral("cameras.json")))) << text.describe().toStdString();
        EXPECT_FALSE(text.err.contains(QLatin1String("need VXCAM_SIM_CONFIG"))) << text.describe().toStdString();

        const ToolResult json = sandbox.run(QStringList(command) << QStringLiteral("--json"));
        EXPECT_EQ(json.json().value(QStringLiteral("exitCode")).toInt(-1), kCameraUnavailable)
            << json.describe().toStdString();
        EXPECT_TRUE(json.json().value(QStringLiteral("result")).toString().contains(QLatin1String(c.mentions)))
            << json.describe().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mistakes, BadCameraFile,
    ::testing::Values(BadCameraFileCase{"FrameTooLarge", R"("pixelFormat": "RGB8", "width": 65535, "height": 65535)",
                                        "devices[0]: a 65535 x 65535 RGB8 frame needs 12884508675 bytes (12.0 GiB)"},
                      BadCameraFileCase{"MisspelledKey", R"("widht": 640)",
                                        R"(devices[0].widht: unknown key; did you mean "width"?)"},
                      BadCameraFileCase{"UnknownPixelFormat", R"("pixelFormat": "Mono9")",
                                        R"(devices[0].pixelFormat: "Mono9" is not a pixel format)"}),
    [](const ::testing::TestParamInfo<BadCameraFileCase>& param) { return std::string(param.param.name); });

// ---- --json answers every failure --------------------------------------------------------------------------------

struct JsonFailureCase {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const JsonFailureCase& c) {
    return out << c.name;
}

class JsonFailure : public ::testing::TestWithParam<JsonFailureCase> {};

TEST_P(JsonFailure, IsOneJsonObjectWithTheExitCodeAndTheReason) {
    const JsonFailureCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("J1"), QStringLiteral(R"("width": 64, "height": 32,
        "exposure": { "min": 10, "max": 500 })"))}));
    QFile(sandbox.path(QStringLiteral("taken"))).open(QIODevice::WriteOnly);
    const ToolResult result = sandbox.run(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.describe().toStdString();
    const QJsonObject answer = result.json();
    ASSERT_FALSE(answer.isEmpty()) << result.describe().toStdString();
    EXPECT_EQ(answer.value(QStringLiteral("exitCode")).toInt(-1), c.exitCode) << result.out.toStdString();
    EXPECT_TRUE(answer.value(QStringLiteral("result")).toString().contains(QLatin1String(c.mentions)))
        << result.out.toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String(c.mentions)) || c.exitCode == kSuccess) << result.err.toStdString();
}

QStringList args(std::initializer_list<const char*> list) {
    QStringList arguments;
    for (const char* argument : list) {
        arguments << QString::fromUtf8(argument);
    }
    return arguments;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, JsonFailure,
    ::testing::Values(
        JsonFailureCase{"ListWithoutModule", args({"list", "--json", "--module-dir", "nowhere"}), kModuleUnusable,
                        "vxCam_160"},
        JsonFailureCase{"GrabWithoutModule", args({"grab", "--camera", "J1", "--json", "--module-dir", "nowhere"}),
                        kModuleUnusable, "vxCam_160"},
        JsonFailureCase{"DemoWithoutModule", args({"demo", "--json", "--module-dir", "nowhere"}), kModuleUnusable,
                        "vxCam_160"},
        JsonFailureCase{"VersionWithoutModule", args({"--version", "--json", "--module-dir", "nowhere"}),
                        kModuleUnusable, "vxCam_160"},
        JsonFailureCase{"Version", args({"--version", "--json"}), kSuccess, "ok"},
        JsonFailureCase{"ViewHasNoJson", args({"view", "--json"}), kUsage, "view shows a window and prints no JSON"},
        JsonFailureCase{"SaveOntoAFile", args({"grab", "--camera", "J1", "--save", "taken", "--json"}), kOutputFailed,
                        "'taken' is a file, not a folder"},
        JsonFailureCase{"DemoOntoAFile", args({"demo", "--out", "taken", "--json"}), kOutputFailed,
                        "'taken' is a file, not a folder"},
        JsonFailureCase{"ExposureRefusedNamesTheRange",
                        args({"grab", "--camera", "J1", "--exposure", "2500", "--json"}), kSettingRefused,
                        "the camera takes 10 to 500 us"}),
    [](const ::testing::TestParamInfo<JsonFailureCase>& param) { return std::string(param.param.name); });

} // namespace
} // namespace vxcam::test
