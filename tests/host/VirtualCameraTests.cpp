// The tool on Aravis's in-process virtual camera (no network, no privileges): what it lists and reports of a
// GenICam camera that is not simulated by us, and pictures grabbed from it with the camera's own pattern in them.
#include "tests/host/ToolSandbox.h"

#include <QImage>
#include <QJsonArray>
#include <gtest/gtest.h>

#include <ostream>

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

// The pixels that break the virtual camera's colour pattern, which, like its grey ramp, is constant along each
// anti-diagonal (it depends on x + y alone); and whether the picture holds colour at all.
struct ColourPattern {
    int offDiagonal = 0;
    bool coloured = false;
};

// Reads pixel by pixel: a whole-picture conversion would run on Qt's thread pool, whose hand-overs the thread
// sanitizer cannot see in the uninstrumented Qt.
ColourPattern colourPatternOf(const QImage& picture) {
    ColourPattern pattern;
    for (int y = 0; y + 1 < picture.height(); ++y) {
        for (int x = 0; x + 1 < picture.width(); ++x) {
            // (x + 1, y) and (x, y + 1) lie on one anti-diagonal.
            pattern.offDiagonal += picture.pixel(x + 1, y) == picture.pixel(x, y + 1) ? 0 : 1;
            const QRgb here = picture.pixel(x, y);
            pattern.coloured = pattern.coloured || qRed(here) != qGreen(here) || qRed(here) != qBlue(here);
        }
    }
    return pattern;
}

// --pixel-format: the virtual camera offers several formats and starts each open in Mono8, so a format that
// reaches the frames shows that the camera the module opened is the one the tool set up.
struct ChosenFormat {
    const char* pixelFormat;
    const char* receivedLayout; // as the module hands the frames over
};

std::ostream& operator<<(std::ostream& out, const ChosenFormat& c) {
    return out << c.pixelFormat;
}

class VirtualCameraPixelFormat : public ::testing::TestWithParam<ChosenFormat> {};

TEST_P(VirtualCameraPixelFormat, TheChosenFormatReachesTheFrames) {
    const ChosenFormat& c = GetParam();
    ToolSandbox sandbox;
    offerTheVirtualCamera(sandbox);
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                     QStringLiteral("--pixel-format"), QLatin1String(c.pixelFormat), QStringLiteral("--frames"),
                     QStringLiteral("2"), QStringLiteral("--save"), QStringLiteral("out"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(summary.value(QStringLiteral("framesReceived")).toInt(), 2);
    EXPECT_EQ(summary.value(QStringLiteral("cameraPixelFormat")).toString(), QLatin1String(c.pixelFormat));
    EXPECT_EQ(summary.value(QStringLiteral("received")).toObject().value(QStringLiteral("layout")).toString(),
              QLatin1String(c.receivedLayout))
        << result.out.toStdString();
    const QJsonArray files = summary.value(QStringLiteral("saved")).toObject().value(QStringLiteral("files")).toArray();
    ASSERT_EQ(files.size(), 2) << result.out.toStdString();
    if (QLatin1String(c.pixelFormat) == QLatin1String("RGB8")) {
        const QImage picture(sandbox.path(files.at(0).toObject().value(QStringLiteral("file")).toString()));
        ASSERT_FALSE(picture.isNull());
        EXPECT_EQ(picture.size(), QSize(512, 512));
        const ColourPattern pattern = colourPatternOf(picture);
        EXPECT_EQ(pattern.offDiagonal, 0);
        EXPECT_TRUE(pattern.coloured);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, VirtualCameraPixelFormat,
                         ::testing::Values(ChosenFormat{"RGB8", "RGB8"}, ChosenFormat{"BayerRG8", "BGR8"},
                                           ChosenFormat{"Mono16", "Mono16"}, ChosenFormat{"Mono8", "Mono8"}),
                         [](const auto& param) { return std::string(param.param.pixelFormat); });

TEST(VirtualCameraPixelFormatChoice, AFormatTheCameraDoesNotOfferEndsTheRunNamingTheOffered) {
    ToolSandbox sandbox;
    offerTheVirtualCamera(sandbox);
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                     QStringLiteral("--pixel-format"), QStringLiteral("Mono9"), QStringLiteral("--json")});
    EXPECT_EQ(result.exitCode, kSettingRefused) << result.describe().toStdString();
    const QString why = result.json().value(QStringLiteral("result")).toString();
    EXPECT_TRUE(why.contains(QLatin1String("offers no pixel format 'Mono9'"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QLatin1String("BayerRG8"))) << why.toStdString();

    // The refused choice left nothing open: the camera grabs in its own format right after.
    const ToolResult after = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                                          QStringLiteral("--frames"), QStringLiteral("1"), QStringLiteral("--json")});
    ASSERT_EQ(after.exitCode, kSuccess) << after.describe().toStdString();
    EXPECT_EQ(after.json().value(QStringLiteral("cameraPixelFormat")).toString(), QStringLiteral("Mono8"));
}

// --packet-size belongs to GigE Vision cameras: the virtual camera has none, and the run ends saying so before
// any frame is taken, leaving the camera free for the next run.
TEST(VirtualCameraPacketSizeChoice, ACameraWithoutAPacketSizeEndsTheRunSayingSo) {
    ToolSandbox sandbox;
    offerTheVirtualCamera(sandbox);
    const ToolResult result =
        sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                     QStringLiteral("--packet-size"), QStringLiteral("1400"), QStringLiteral("--json")});
    EXPECT_EQ(result.exitCode, kSettingRefused) << result.describe().toStdString();
    const QString why = result.json().value(QStringLiteral("result")).toString();
    EXPECT_TRUE(why.contains(QLatin1String("refused the packet size 1400"))) << why.toStdString();
    EXPECT_TRUE(why.contains(QLatin1String("no stream packet size"))) << why.toStdString();

    const ToolResult after = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("1"),
                                          QStringLiteral("--frames"), QStringLiteral("1"), QStringLiteral("--json")});
    EXPECT_EQ(after.exitCode, kSuccess) << after.describe().toStdString();
}

} // namespace
} // namespace vxcam::test
