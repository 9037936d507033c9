// The tool end to end on simulated cameras: listing, grabbing in every trigger mode, the summary's counts, the
// exposure write and the contact sheet.
#include "tests/host/ColourBars.h"
#include "tests/host/ToolSandbox.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

int64_t number(const QJsonObject& object, const char* key) {
    return static_cast<int64_t>(object.value(QLatin1String(key)).toDouble(-1.0));
}

// ---- list ------------------------------------------------------------------------------------------------

QString twoSystems() {
    return QStringLiteral(R"({ "systems": [
  { "id": "simA", "interfaces": [ { "id": "if0", "devices": [ { "serial": "A1" }, { "serial": "A2" } ] } ] },
  { "id": "simB", "interfaces": [ { "id": "if0", "devices": [ { "serial": "B1" } ] } ] } ] })");
}

TEST(ListCommand, PrintsEveryListedCameraOneALineAndAsJson) {
    ToolSandbox sandbox;
    sandbox.useCameras(twoSystems());
    const QStringList expected{QStringLiteral("veyra A1"), QStringLiteral("veyra A2"), QStringLiteral("veyra B1")};

    const ToolResult text = sandbox.run({QStringLiteral("list")});
    ASSERT_EQ(text.exitCode, kSuccess) << text.describe().toStdString();
    EXPECT_EQ(text.out, expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));

    const ToolResult json = sandbox.run({QStringLiteral("list"), QStringLiteral("--json")});
    ASSERT_EQ(json.exitCode, kSuccess) << json.describe().toStdString();
    EXPECT_EQ(json.json().value(QStringLiteral("cameras")).toArray(), QJsonArray::fromStringList(expected));
}

// No camera at all fails the run, whether no file is named, the file is missing or it is broken; the module's
// own warning names the file.
struct NoCameraCase {
    const char* name;
    const char* fileText; // written as the camera file; null: no file named at all
    const char* named;    // the file VXCAM_SIM_CONFIG names, when not the written one
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const NoCameraCase& c) {
    return out << c.name;
}

class ListWithoutCameras : public ::testing::TestWithParam<NoCameraCase> {};

TEST_P(ListWithoutCameras, FailsAndSaysWhy) {
    const NoCameraCase& c = GetParam();
    ToolSandbox sandbox;
    if (c.fileText != nullptr) {
        sandbox.useCameras(QString::fromUtf8(c.fileText));
    }
    if (c.named != nullptr) {
        sandbox.setVariable(QStringLiteral("VXCAM_SIM_CONFIG"), sandbox.path(QLatin1String(c.named)));
    }
    for (const bool json : {false, true}) {
        QStringList arguments{QStringLiteral("list")};
        if (json) {
            arguments << QStringLiteral("--json");
        }
        const ToolResult result = sandbox.run(arguments);
        EXPECT_EQ(result.exitCode, kCameraUnavailable) << result.describe().toStdString();
        EXPECT_TRUE(result.err.contains(QLatin1String(c.mentions))) << result.describe().toStdString();
        if (json) {
            EXPECT_EQ(result.json().value(QStringLiteral("cameras")).toArray(), QJsonArray());
            EXPECT_EQ(result.json().value(QStringLiteral("exitCode")).toInt(), kCameraUnavailable);
        } else {
            EXPECT_TRUE(result.out.isEmpty()) << result.out.toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ListWithoutCameras,
    ::testing::Values(NoCameraCase{"NoFileNamed", nullptr, nullptr, "VXCAM_SIM_CONFIG"},
                      NoCameraCase{"FileMissing", nullptr, "missing.json", "missing.json"},
                      NoCameraCase{"FileBroken", R"({ "systems": [ { "id": )", nullptr, "cameras.json"},
                      NoCameraCase{"NoDevices", R"({ "systems": [] })", nullptr, "no camera found"}),
    [](const ::testing::TestParamInfo<NoCameraCase>& param) { return std::string(param.param.name); });

// ---- which camera --camera names ---------------------------------------------------------------------------

// Two systems, each with a camera whose serial differs only in case, and one serial both systems carry.
QString matchingCameras() {
    return QStringLiteral(R"({ "systems": [
  { "id": "simA", "interfaces": [ { "id": "if0", "devices": [
      { "serial": "SN10", "frameRate": 100, "width": 32, "height": 16 },
      { "serial": "sn10", "frameRate": 100, "width": 32, "height": 16 },
      { "serial": "TWIN", "frameRate": 100, "width": 32, "height": 16 } ] } ] },
  { "id": "simB", "interfaces": [ { "id": "if0", "devices": [
      { "serial": "TWIN", "repeatedSerial": true, "frameRate": 100, "width": 32, "height": 16 } ] } ] } ] })");
}

struct MatchCase {
    const char* given;
    const char* opened; // the identifier the summary names; null: refused
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const MatchCase& c) {
    return out << c.given;
}

class CameraMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(CameraMatching, FamilyWordInAnyCaseSerialExactlyBareSerialWhenUnique) {
    const MatchCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(matchingCameras());
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QString::fromUtf8(c.given),
                     QStringLiteral("--frames"), QStringLiteral("1"), QStringLiteral("--json")});
    if (c.opened != nullptr) {
        ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
        EXPECT_EQ(result.json().value(QStringLiteral("camera")).toString(), QString::fromUtf8(c.opened));
    } else {
        EXPECT_EQ(result.exitCode, kCameraUnavailable) << result.describe().toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(c.mentions))) << result.err.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Identifiers, CameraMatching,
                         ::testing::Values(MatchCase{"veyra SN10", "veyra SN10", ""},
                                           MatchCase{"VEYRA sn10", "veyra sn10", ""},
                                           MatchCase{"Veyra SN10", "veyra SN10", ""},
                                           MatchCase{"SN10", "veyra SN10", ""}, MatchCase{"sn10", "veyra sn10", ""},
                                           MatchCase{"veyra Sn10", nullptr, "unknown camera 'veyra Sn10'"},
                                           MatchCase{"Sn10", nullptr, "unknown camera 'Sn10'"},
                                           MatchCase{"TWIN", nullptr, "'TWIN' names 2 listed cameras"},
                                           MatchCase{"veyra TWIN", "veyra TWIN", ""},
                                           MatchCase{"other SN10", nullptr, "unknown camera 'other SN10'"}));

// ---- trigger modes ---------------------------------------------------------------------------------------

// Each camera delivers only in the mode under test: the rates of the other modes are zero, and the idle case
// has every rate up so that any started acquisition would show. The camera counts its frames from 40; in
// freerun-reset the host's frame IDs count from 0 at the start.
struct ModeCase {
    const char* trigger;
    const char* rates;
    QStringList limit;
    int64_t frames;
    int64_t softwareTriggers;
    int64_t firstFrameId = 40;
};

std::ostream& operator<<(std::ostream& out, const ModeCase& c) {
    return out << c.trigger;
}

class GrabModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(GrabModeTest, DeliversExactlyTheAskedFramesInThatModeOnly) {
    const ModeCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("M1"), QStringLiteral(R"("width": 64, "height": 32,
        "firstFrameId": 40, %1)")
                                                                      .arg(QLatin1String(c.rates)))}));
    QStringList arguments{QStringLiteral("grab"),      QStringLiteral("--camera"), QStringLiteral("veyra M1"),
                          QStringLiteral("--trigger"), QLatin1String(c.trigger),   QStringLiteral("--json")};
    arguments << c.limit;

    const ToolResult result = sandbox.run(arguments);
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(summary.value(QStringLiteral("trigger")).toString(), QLatin1String(c.trigger));
    EXPECT_EQ(number(summary, "framesReceived"), c.frames);
    EXPECT_EQ(number(summary, "softwareTriggers"), c.softwareTriggers);
    if (c.frames > 0) {
        EXPECT_EQ(number(summary, "firstFrameId"), c.firstFrameId);
        EXPECT_EQ(number(summary, "lastFrameId"), c.firstFrameId + c.frames - 1);
        EXPECT_EQ(number(summary, "framesLost"), 0);
    } else {
        EXPECT_TRUE(summary.value(QStringLiteral("firstFrameId")).isNull());
    }
    // Off a terminal the live progress line stays away.
    EXPECT_FALSE(result.err.contains(QLatin1Char('\r'))) << result.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Modes, GrabModeTest,
    ::testing::Values(
        ModeCase{
            "freerun", R"("frameRate": 100, "lineRate": 0)", {QStringLiteral("--frames"), QStringLiteral("5")}, 5, 0},
        ModeCase{"freerun-reset",
                 R"("frameRate": 100, "lineRate": 0)",
                 {QStringLiteral("--frames"), QStringLiteral("5")},
                 5,
                 0,
                 0},
        ModeCase{"line", R"("frameRate": 0, "lineRate": 100)", {QStringLiteral("--frames"), QStringLiteral("5")}, 5, 0},
        ModeCase{"soft", R"("frameRate": 0, "lineRate": 0)", {QStringLiteral("--frames"), QStringLiteral("5")}, 5, 5},
        ModeCase{"idle",
                 R"("frameRate": 100, "lineRate": 100)",
                 {QStringLiteral("--duration"), QStringLiteral("0.3")},
                 0,
                 0}));

// ---- the summary's counts --------------------------------------------------------------------------------

// The stream's own counts reach the summary with the likely cause when they are high: a camera that tears half
// its frames is a link that loses packets; a clean one has no cause.
TEST(GrabStreamStatistics, CountsTornFramesAndNamesTheLikelyCause) {
    struct Case {
        const char* name;
        const char* device;
        bool torn;
    };
    for (const Case& c : {Case{"clean", R"("frameRate": 200)", false},
                          Case{"torn", R"("frameRate": 200, "incompleteRatio": 0.5)", true}}) {
        ToolSandbox sandbox;
        sandbox.useCameras(simConfig({simDevice(QStringLiteral("S1"), QLatin1String(c.device))}));
        const ToolResult result =
            sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("S1"),
                         QStringLiteral("--frames"), QStringLiteral("20"), QStringLiteral("--json")});
        ASSERT_EQ(result.exitCode, kSuccess) << c.name << result.describe().toStdString();
        const QJsonObject stream = result.json().value(QStringLiteral("stream")).toObject();
        EXPECT_GE(number(stream, "framesCompleted"), 20) << c.name;
        const QJsonValue cause = stream.value(QStringLiteral("likelyCause"));
        if (c.torn) {
            EXPECT_GT(number(stream, "framesIncomplete"), 0) << c.name;
            EXPECT_TRUE(cause.toString().contains(QLatin1String("link loses packets"))) << c.name;
        } else {
            EXPECT_EQ(number(stream, "framesIncomplete"), 0) << c.name;
            EXPECT_TRUE(cause.isNull()) << c.name;
        }
        const ToolResult text = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("S1"),
                                             QStringLiteral("--frames"), QStringLiteral("20")});
        EXPECT_TRUE(text.out.contains(QRegularExpression(QStringLiteral("\nstream +\\d+ whole, \\d+ torn"))))
            << c.name << text.describe().toStdString();
        EXPECT_EQ(text.out.contains(QLatin1String("the link loses packets")), c.torn) << c.name;
    }
}

struct CountCase {
    const char* name;
    const char* device;
    const char* faults;
    int64_t frames;
    int64_t every;
    int64_t firstFrameId;
    int64_t lastFrameId;
    int64_t gaps;
    int64_t lost;
    std::vector<int64_t> savedFrameIds;
};

std::ostream& operator<<(std::ostream& out, const CountCase& c) {
    return out << c.name;
}

class GrabCountTest : public ::testing::TestWithParam<CountCase> {};

TEST_P(GrabCountTest, SummaryCountsFramesGapsAndSavedPictures) {
    const CountCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("C1"), QLatin1String(c.device))}, QLatin1String(c.faults)));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("C1"),
                                           QStringLiteral("--frames"), QString::number(c.frames),
                                           QStringLiteral("--save"), QStringLiteral("out"), QStringLiteral("--every"),
                                           QString::number(c.every), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(number(summary, "framesReceived"), c.frames);
    EXPECT_EQ(number(summary, "firstFrameId"), c.firstFrameId);
    EXPECT_EQ(number(summary, "lastFrameId"), c.lastFrameId);
    EXPECT_EQ(number(summary, "frameIdGaps"), c.gaps);
    EXPECT_EQ(number(summary, "framesLost"), c.lost);
    EXPECT_EQ(number(summary, "framesOutOfOrder"), 0);

    const QJsonArray files = summary.value(QStringLiteral("saved")).toObject().value(QStringLiteral("files")).toArray();
    std::vector<int64_t> savedIds;
    for (const QJsonValue file : files) {
        const QJsonObject saved = file.toObject();
        savedIds.push_back(number(saved, "frameId"));
        EXPECT_EQ(number(saved, "index") % c.every, 0);
        EXPECT_TRUE(QFileInfo::exists(sandbox.path(saved.value(QStringLiteral("file")).toString())));
    }
    EXPECT_EQ(savedIds, c.savedFrameIds);
}

INSTANTIATE_TEST_SUITE_P(
    Counts, GrabCountTest,
    ::testing::Values(
        CountCase{"Consecutive",
                  R"("width": 64, "height": 32, "frameRate": 100, "firstFrameId": 7)",
                  "",
                  6,
                  2,
                  7,
                  12,
                  0,
                  0,
                  {7, 9, 11}},
        // Frame IDs are the low 32 bits of the camera's counter: the step from 2^32 - 1 to 0 loses nothing.
        CountCase{"WrapAround",
                  R"("width": 64, "height": 32, "frameRate": 100, "firstFrameId": "4294967293")",
                  "",
                  6,
                  1,
                  4294967293,
                  2,
                  0,
                  0,
                  {4294967293, 4294967294, 4294967295, 0, 1, 2}},
        // The module drops a frame whose conversion fails: its ID never reaches the host.
        CountCase{"OneFrameDropped",
                  R"("pixelFormat": "BayerRG8", "width": 64, "height": 32, "frameRate": 100)",
                  R"({ "call": "Image::TransformImage", "nth": 3 })",
                  6,
                  1,
                  0,
                  6,
                  1,
                  1,
                  {0, 1, 3, 4, 5, 6}},
        CountCase{"TwoGaps",
                  R"("pixelFormat": "BayerRG8", "width": 64, "height": 32, "frameRate": 100)",
                  R"({ "call": "Image::TransformImage", "nth": 2, "times": 2 },
                     { "call": "Image::TransformImage", "nth": 6 })",
                  5,
                  4,
                  0,
                  7,
                  2,
                  3,
                  {0, 7}}));

// ---- exposure --------------------------------------------------------------------------------------------

TEST(GrabExposure, WritesTheExposureToTheCamera) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("X1"), QStringLiteral(R"("width": 64, "height": 32,
        "frameRate": 100)"))}));
    sandbox.setVariable(QStringLiteral("VXCAM_SIM_TRACE"), sandbox.path(QStringLiteral("trace.tsv")));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("X1"),
                                           QStringLiteral("--exposure"), QStringLiteral("2500"),
                                           QStringLiteral("--frames"), QStringLiteral("1"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_EQ(number(result.json(), "exposureUs"), 2500);
    QFile trace(sandbox.path(QStringLiteral("trace.tsv")));
    ASSERT_TRUE(trace.open(QIODevice::ReadOnly));
    const QString lines = QString::fromUtf8(trace.readAll());
    EXPECT_TRUE(lines.contains(QLatin1String("Node::SetDouble\tX1/ExposureTime\t2500"))) << lines.toStdString();
}

// A write the module answers false to fails the run before any frame is taken, in text and in JSON alike, with
// the module's reason where it gives one: a value outside "ExposureTimeAbs"'s limits, a value the camera itself
// refuses (an SDK error), and a camera without any exposure feature.
struct RefusedExposureCase {
    const char* name;
    const char* device; // JSON members of the camera
    const char* reason; // in the error message
};

std::ostream& operator<<(std::ostream& out, const RefusedExposureCase& c) {
    return out << c.name;
}

class GrabRefusedExposure : public ::testing::TestWithParam<RefusedExposureCase> {};

TEST_P(GrabRefusedExposure, FailsTheRunWithTheReason) {
    const RefusedExposureCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("X2"), QLatin1String(c.device))}));
    const QStringList arguments{QStringLiteral("grab"),       QStringLiteral("--camera"), QStringLiteral("X2"),
                                QStringLiteral("--exposure"), QStringLiteral("2500"),     QStringLiteral("--frames"),
                                QStringLiteral("1")};
    const ToolResult text = sandbox.run(arguments);
    EXPECT_EQ(text.exitCode, kSettingRefused) << text.describe().toStdString();
    EXPECT_TRUE(text.err.contains(QLatin1String("refused the exposure 2500 us"))) << text.err.toStdString();
    EXPECT_TRUE(text.err.contains(QLatin1String(c.reason))) << text.err.toStdString();
    EXPECT_FALSE(text.out.contains(QLatin1String("result         ok"))) << text.out.toStdString();

    const ToolResult json = sandbox.run(QStringList(arguments) << QStringLiteral("--json"));
    EXPECT_EQ(json.exitCode, kSettingRefused) << json.describe().toStdString();
    EXPECT_EQ(json.json().value(QStringLiteral("exitCode")).toInt(), kSettingRefused);
    EXPECT_TRUE(json.json().value(QStringLiteral("result")).toString().contains(QLatin1String("refused")))
        << json.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, GrabRefusedExposure,
    ::testing::Values(RefusedExposureCase{"OutsideTheLimits",
                                          R"("width": 64, "height": 32, "frameRate": 100,
                               "exposure": { "feature": "ExposureTimeAbs", "min": 10, "max": 500 })",
                                          "Invalid exposure time value:2500."},
                      RefusedExposureCase{"RefusedByTheCamera",
                                          R"("width": 64, "height": 32, "frameRate": 100,
                               "exposure": { "feature": "ExposureTime", "min": 10, "max": 500 })",
                                          "refused the exposure 2500 us: "},
                      RefusedExposureCase{"NoExposureFeature",
                                          R"("width": 64, "height": 32, "frameRate": 100, "absent": ["ExposureTime"])",
                                          "no exposure feature"}),
    [](const ::testing::TestParamInfo<RefusedExposureCase>& param) { return std::string(param.param.name); });

// ---- contact sheet ---------------------------------------------------------------------------------------

// Tiles carry a strip with the camera and the frame ID in light text under the picture.
constexpr int kLabelHeight = 14;

bool holdsLightText(const QImage& sheet, int y) {
    for (int x = 0; x < sheet.width(); ++x) {
        const Colour c = colourAt(sheet, x, y);
        if (c.red > 200 && c.green > 200 && c.blue > 200) {
            return true;
        }
    }
    return false;
}

TEST(GrabContactSheet, ShowsEachSampledFrameWithItsBarsAndALabel) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("S1"), QStringLiteral(R"("pixelFormat": "RGB8",
        "width": 96, "height": 48, "frameRate": 100)"))}));
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("S1"),
                     QStringLiteral("--frames"), QStringLiteral("7"), QStringLiteral("--save"), QStringLiteral("out"),
                     QStringLiteral("--every"), QStringLiteral("3"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject saved = result.json().value(QStringLiteral("saved")).toObject();
    EXPECT_EQ(saved.value(QStringLiteral("files")).toArray().size(), 3);
    const QJsonArray sampled = saved.value(QStringLiteral("contactSheetFrames")).toArray();
    EXPECT_EQ(sampled.size(), 7);

    const QImage sheet(sandbox.path(saved.value(QStringLiteral("contactSheet")).toString()));
    ASSERT_FALSE(sheet.isNull());
    const Colour background = colourAt(sheet, 0, 0);
    std::vector<Colour> bars(kBars.begin(), kBars.end());
    int tiles = 0;
    std::vector<std::vector<Colour>> labelRows;
    for (const auto& [first, last] : bands(sheet, background)) {
        const int labelRow = last - kLabelHeight / 2;
        EXPECT_TRUE(holdsLightText(sheet, labelRow)) << "label row " << labelRow;
        labelRows.push_back(colourRuns(sheet, labelRow, background));
        const int y = (first + last - kLabelHeight) / 2;
        const std::vector<Colour> runs = colourRuns(sheet, y, background);
        ASSERT_FALSE(runs.empty());
        ASSERT_EQ(runs.size() % bars.size(), 0U) << "row " << y;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i], bars[i % bars.size()]) << "row " << y << ", run " << i;
        }
        tiles += static_cast<int>(runs.size() / bars.size());
    }
    EXPECT_EQ(tiles, sampled.size());
    // The rows of tiles show other frame IDs, so their labels differ.
    ASSERT_GE(labelRows.size(), 2U);
    EXPECT_NE(labelRows.front(), labelRows.back());
}

} // namespace
} // namespace vxcam::test
