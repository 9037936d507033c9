// `vxcam info` reports what the SDK layer says of a camera and what a host receives from it; `--version` names
// the tool's version and the module it found.
#include "tests/host/ToolSandbox.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

struct InfoCase {
    const char* serial;
    const char* device; // extra members of the simulated camera
    const char* pixelFormat;
    const char* received; // the layout a host receives
    int width;
    int height;
    QStringList triggerSources;
    const char* exposureFeature;
    double exposureMin;
    double exposureMax;
};

std::ostream& operator<<(std::ostream& out, const InfoCase& c) {
    return out << c.serial;
}

QString infoCameras() {
    return simConfig({simDevice(QStringLiteral("BAYER1"), QStringLiteral(R"("model": "VX-B", "pixelFormat": "BayerRG8",
             "width": 64, "height": 32)")),
                      simDevice(QStringLiteral("MONO1"), QStringLiteral(R"("model": "VX-M", "pixelFormat": "Mono12",
             "width": 48, "height": 16, "triggerSources": ["Line0", "Line1", "SoftwareTrigger"],
             "exposure": { "feature": "ExposureTimeAbs", "min": 20, "max": 90000, "value": 100 })"))});
}

class InfoCommand : public ::testing::TestWithParam<InfoCase> {};

TEST_P(InfoCommand, ReportsTheCamerasFeaturesAndWhatAHostReceives) {
    const InfoCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(infoCameras());
    const ToolResult result = sandbox.run({QStringLiteral("info"), QLatin1String(c.serial), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject info = result.json();
    EXPECT_EQ(info.value(QStringLiteral("camera")).toString(), QStringLiteral("veyra %1").arg(QLatin1String(c.serial)));
    EXPECT_EQ(info.value(QStringLiteral("serial")).toString(), QLatin1String(c.serial));
    EXPECT_EQ(info.value(QStringLiteral("pixelFormat")).toString(), QLatin1String(c.pixelFormat));
    EXPECT_EQ(info.value(QStringLiteral("pixelFormats")).toArray(), QJsonArray{QLatin1String(c.pixelFormat)});
    EXPECT_EQ(info.value(QStringLiteral("triggerSources")).toArray(), QJsonArray::fromStringList(c.triggerSources));
    const QJsonObject exposure = info.value(QStringLiteral("exposure")).toObject();
    EXPECT_EQ(exposure.value(QStringLiteral("feature")).toString(), QLatin1String(c.exposureFeature));
    EXPECT_EQ(exposure.value(QStringLiteral("min")).toDouble(), c.exposureMin);
    EXPECT_EQ(exposure.value(QStringLiteral("max")).toDouble(), c.exposureMax);
    const QJsonObject frame = info.value(QStringLiteral("frame")).toObject();
    EXPECT_EQ(frame.value(QStringLiteral("width")).toInt(), c.width);
    EXPECT_EQ(frame.value(QStringLiteral("height")).toInt(), c.height);
    EXPECT_EQ(frame.value(QStringLiteral("layout")).toString(), QLatin1String(c.received));
    EXPECT_TRUE(info.value(QStringLiteral("problems")).toArray().isEmpty()) << result.out.toStdString();

    // The text form says the same for people.
    const ToolResult text = sandbox.run({QStringLiteral("info"), QLatin1String(c.serial)});
    ASSERT_EQ(text.exitCode, kSuccess) << text.describe().toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("%1 x %2").arg(c.width).arg(c.height))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QLatin1String(c.exposureFeature))) << text.out.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Cameras, InfoCommand,
                         ::testing::Values(InfoCase{"BAYER1", "", "BayerRG8", "BGR8", 64, 32,
                                                    QStringList{QStringLiteral("Line0"), QStringLiteral("Software")},
                                                    "ExposureTime", 10.0, 1000000.0},
                                           InfoCase{"MONO1", "", "Mono12", "Mono12", 48, 16,
                                                    QStringList{QStringLiteral("Line0"), QStringLiteral("Line1"),
                                                                QStringLiteral("SoftwareTrigger")},
                                                    "ExposureTimeAbs", 20.0, 90000.0}));

TEST(InfoCommandFailures, AnUnknownCameraIsReportedInTextAndJson) {
    ToolSandbox sandbox;
    sandbox.useCameras(infoCameras());
    const ToolResult text = sandbox.run({QStringLiteral("info"), QStringLiteral("NOPE")});
    EXPECT_EQ(text.exitCode, kCameraUnavailable) << text.describe().toStdString();
    EXPECT_TRUE(text.err.contains(QLatin1String("unknown camera 'NOPE'"))) << text.err.toStdString();
    const ToolResult json = sandbox.run({QStringLiteral("info"), QStringLiteral("NOPE"), QStringLiteral("--json")});
    EXPECT_EQ(json.exitCode, kCameraUnavailable);
    EXPECT_EQ(json.json().value(QStringLiteral("exitCode")).toInt(), kCameraUnavailable) << json.out.toStdString();
}

TEST(VersionOption, NamesTheToolsVersionAndTheModule) {
    const ToolSandbox sandbox;
    const ToolResult result = sandbox.run({QStringLiteral("--version")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_TRUE(result.out.startsWith(QLatin1String("vxcam 0."))) << result.out.toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("libvxCam_160"))) << result.out.toStdString();

    const ToolResult missing =
        sandbox.run({QStringLiteral("--version"), QStringLiteral("--module-dir"), QStringLiteral("nowhere")});
    EXPECT_EQ(missing.exitCode, kModuleUnusable) << missing.describe().toStdString();
    EXPECT_TRUE(missing.out.startsWith(QLatin1String("vxcam 0."))) << missing.out.toStdString();
}

} // namespace
} // namespace vxcam::test
