// The tool on Aravis's in-process virtual camera (no network, no privileges): what it lists and reports of a
// GenICam camera that is not simulated by us, and pictures grabbed from it with the camera's own pattern in them.
#include "tests/host/ToolSandbox.h"

#include <QImage>
#include <QJsonArray>
#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

using namespace exit_code;

// Makes the tool offer the virtual camera alone (serial "1").
void offerTheVirtualCamera(ToolSandbox& sandbox) {
    sandbox.setVariable(QStringLiteral("VXCAM_TRANSPORTS"), QStringLiteral("virtual"));
}

TEST(VirtualCamera, ListedAndReportedAsTheCameraDescribesItself) {
    ToolSandbox sandbox;
    offerTheVirtualCamera(sandbox);
    const ToolResult list = sandbox.run({QStringLiteral("list")});
    ASSERT_EQ(list.exitCode, kSuccess) << list.describe().toStdString();
    EXPECT_EQ(list.out, QStringLiteral("veyra 1\n"));

    const ToolResult result = sandbox.run({QStringLiteral("info"), QStringLiteral("1"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject info = result.json();
    EXPECT_EQ(info.value(QStringLiteral("camera")).toString(), QStringLiteral("veyra 1"));
    EXPECT_EQ(info.value(QStringLiteral("serial")).toString(), QStringLiteral("1"));
    EXPECT_EQ(info.value(QStringLiteral("pixelFormat")).toString(), QStringLiteral("Mono8"));
    const QJsonArray formats = info.value(QStringLiteral("pixelFormats")).toArray();
    for (const char* format : {"Mono8", "RGB8", "BayerRG8"}) {
        EXPECT_TRUE(formats.contains(QLatin1String(format))) << format << " missing in " << result.out.toStdString();
    }
    EXPECT_EQ(info.value(QStringLiteral("triggerSources")).toArray(),
              (QJsonArray{QStringLiteral("Line0"), QStringLiteral("Software")}));
    const QJsonObject exposure = info.value(QStringLiteral("exposure")).toObject();
    EXPECT_EQ(exposure.value(QStringLiteral("feature")).toString(), QStringLiteral("ExposureTimeAbs"));
    EXPECT_EQ(exposure.value(QStringLiteral("min")).toDouble(), 10.0);
    EXPECT_EQ(exposure.value(QStringLiteral("max")).toDouble(), 10000000.0);
    const QJsonObject frame = info.value(QStringLiteral("frame")).toObject();
    EXPECT_EQ(frame.value(QStringLiteral("width")).toInt(), 512);
    EXPECT_EQ(frame.value(QStringLiteral("height")).toInt(), 512);
    EXPECT_EQ(frame.value(QStringLiteral("layout")).toString(), QStringLiteral("Mono8"));
    EXPECT_TRUE(info.value(QStringLiteral("problems")).toArray().isEmpty()) << result.out.toStdString();
}

// The number of pixels that break the virtual camera's diagonal ramp: each grey level one above its left and its
// upper neighbour's, counted modulo 255.
int pixelsOffTheRamp(const QImage& picture) {
    int off = 0;
    const unsigned char origin = picture.constScanLine(0)[0];
    for (int y = 0; y < picture.height(); ++y) {
        const unsigned char* line = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            if (line[x] != (origin + x + y) % 255) {
                ++off;
            }
        }
    }
    return off;
}

class VirtualCameraGrab : public ::testing::TestWithParam<const char*> {};

TEST_P(VirtualCameraGrab, SavesPicturesWithTheCamerasRampInThem) {
    ToolSandbox sandbox;
    offerTheVirtualCamera(sandbox);
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                     QStringLiteral("--trigger"), QLatin1String(GetParam()), QStringLiteral("--frames"),
                     QStringLiteral("3"), QStringLiteral("--save"), QStringLiteral("out"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(summary.value(QStringLiteral("framesReceived")).toInt(), 3);
    EXPECT_EQ(summary.value(QStringLiteral("frameIdGaps")).toInt(), 0);
    EXPECT_EQ(summary.value(QStringLiteral("cameraPixelFormat")).toString(), QStringLiteral("Mono8"));
    const QJsonArray files = summary.value(QStringLiteral("saved")).toObject().value(QStringLiteral("files")).toArray();
    ASSERT_EQ(files.size(), 3) << result.out.toStdString();
    for (const auto& entry : files) {
        const QString file = entry.toObject().value(QStringLiteral("file")).toString();
        SCOPED_TRACE(file.toStdString());
        const QImage picture(sandbox.path(file));
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.format(), QImage::Format_Grayscale8);
        EXPECT_EQ(picture.size(), QSize(512, 512));
        EXPECT_EQ(pixelsOffTheRamp(picture), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Triggers, VirtualCameraGrab, ::testing::Values("freerun", "soft"),
                         [](const auto& param) { return std::string(param.param); });

} // namespace
} // namespace vxcam::test
