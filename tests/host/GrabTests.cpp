// The tool end to end on simulated cameras: listing, grabbing in every trigger mode, the summary's counts, the
// exposure write and the contact sheet.
#include "tests/host/ColourBars.h"
#include "tests/host/ToolSandbox.h"

#include <QFileInfo>
#include <QJsonArray>
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

TEST(ListCommand, WithoutSimulatedCamerasListsNothingAndSaysWhy) {
    const ToolSandbox sandbox;
    const ToolResult result = sandbox.run({QStringLiteral("list")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.contains(QLatin1String("VXCAM_SIM_CONFIG"))) << result.err.toStdString();
}

// ---- trigger modes ---------------------------------------------------------------------------------------

// Each camera delivers only in the mode under test: the rates of the other modes are zero, and the idle case
// has every rate up so that any started acquisition would show.
struct ModeCase {
    const char* trigger;
    const char* rates;
    QStringList limit;
    int64_t frames;
    int64_t softwareTriggers;
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
        EXPECT_EQ(number(summary, "firstFrameId"), 40);
        EXPECT_EQ(number(summary, "lastFrameId"), 40 + c.frames - 1);
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
                 0},
        ModeCase{"line", R"("frameRate": 0, "lineRate": 100)", {QStringLiteral("--frames"), QStringLiteral("5")}, 5, 0},
        ModeCase{"soft", R"("frameRate": 0, "lineRate": 0)", {QStringLiteral("--frames"), QStringLiteral("5")}, 5, 5},
        ModeCase{"idle",
                 R"("frameRate": 100, "lineRate": 100)",
                 {QStringLiteral("--duration"), QStringLiteral("0.3")},
                 0,
                 0}));

// ---- the summary's counts --------------------------------------------------------------------------------

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

TEST(GrabExposure, ShowsTheModulesRefusalOfAnExposureOutOfRange) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("X2"), QStringLiteral(R"("width": 64, "height": 32,
        "frameRate": 100, "exposure": { "feature": "ExposureTimeAbs", "min": 10, "max": 500 })"))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("X2"),
                                           QStringLiteral("--exposure"), QStringLiteral("2500"),
                                           QStringLiteral("--frames"), QStringLiteral("1")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String("Invalid exposure time value:2500"))) << result.err.toStdString();
}

// ---- contact sheet ---------------------------------------------------------------------------------------

TEST(GrabContactSheet, ShowsEachSampledFrameWithItsBars) {
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("S1"), QStringLiteral(R"("pixelFormat": "RGB8",
        "width": 96, "height": 24, "frameRate": 100)"))}));
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
    for (const int y : bandMiddles(sheet, background)) {
        const std::vector<Colour> runs = colourRuns(sheet, y, background);
        ASSERT_FALSE(runs.empty());
        ASSERT_EQ(runs.size() % bars.size(), 0U) << "row " << y;
        for (std::size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i], bars[i % bars.size()]) << "row " << y << ", run " << i;
        }
        tiles += static_cast<int>(runs.size() / bars.size());
    }
    EXPECT_EQ(tiles, sampled.size());
}

} // namespace
} // namespace vxcam::test
