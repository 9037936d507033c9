// The pictures the tool writes, for every layout a host receives: grey stays grey at its depth, colour keeps
// its channels in order, and every bar shows the value the camera sent.
#include "tests/host/ColourBars.h"
#include "tests/host/ToolSandbox.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <array>
#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

enum class Picture { Grey8, Grey16, Colour };

struct PictureCase {
    const char* pixelFormat; // the camera's
    const char* received;    // the layout the summary names
    Picture picture;         // what the PNG holds
    int bits;                // the camera's grey depth
    int tolerance;           // per channel, for frames the module converted
};

std::ostream& operator<<(std::ostream& out, const PictureCase& c) {
    return out << c.pixelFormat;
}

constexpr int kWidth = 128;
constexpr int kHeight = 32;

// Rows at both edges and both Bayer phases, and one in the middle.
constexpr std::array<int, 4> kRows{0, 1, kHeight / 2, kHeight - 1};

class PictureTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(PictureTest, SavedFrameDecodesToTheCamerasBars) {
    const PictureCase& c = GetParam();
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("P1"), QStringLiteral(R"("pixelFormat": "%1",
        "width": %2, "height": %3, "frameRate": 100)")
                                                                      .arg(QLatin1String(c.pixelFormat))
                                                                      .arg(kWidth)
                                                                      .arg(kHeight))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("P1"),
                                           QStringLiteral("--frames"), QStringLiteral("2"), QStringLiteral("--save"),
                                           QStringLiteral("out"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(summary.value(QStringLiteral("cameraPixelFormat")).toString(), QLatin1String(c.pixelFormat));
    EXPECT_EQ(summary.value(QStringLiteral("received")).toObject().value(QStringLiteral("layout")).toString(),
              QLatin1String(c.received));
    const QJsonArray files = summary.value(QStringLiteral("saved")).toObject().value(QStringLiteral("files")).toArray();
    ASSERT_EQ(files.size(), 2);

    const QImage image(sandbox.path(files.at(0).toObject().value(QStringLiteral("file")).toString()));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(kWidth, kHeight));
    switch (c.picture) {
    case Picture::Grey8:
        ASSERT_EQ(image.format(), QImage::Format_Grayscale8);
        break;
    case Picture::Grey16:
        ASSERT_EQ(image.format(), QImage::Format_Grayscale16);
        break;
    case Picture::Colour:
        ASSERT_FALSE(image.isGrayscale());
        break;
    }
    for (int bar = 0; bar < 8; ++bar) {
        const int x = barMiddle(bar, kWidth);
        for (const int y : kRows) {
            SCOPED_TRACE(::testing::Message() << "bar " << bar << " at (" << x << ", " << y << ")");
            if (c.picture == Picture::Grey16) {
                EXPECT_EQ(grey16At(image, x, y), stretchedGrey(bar, c.bits));
                continue;
            }
            const Colour seen = colourAt(image, x, y);
            const Colour expected = c.picture == Picture::Grey8
                                        ? Colour{cameraGrey(bar, 8), cameraGrey(bar, 8), cameraGrey(bar, 8)}
                                        : kBars.at(static_cast<std::size_t>(bar));
            EXPECT_TRUE(closeTo(seen, expected, c.tolerance)) << seen.red << ", " << seen.green << ", " << seen.blue;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PictureTest,
                         ::testing::Values(PictureCase{"Mono8", "Mono8", Picture::Grey8, 8, 0},
                                           PictureCase{"Mono10", "Mono10", Picture::Grey16, 10, 0},
                                           PictureCase{"Mono12", "Mono12", Picture::Grey16, 12, 0},
                                           PictureCase{"Mono14", "Mono14", Picture::Grey16, 14, 0},
                                           PictureCase{"Mono16", "Mono16", Picture::Grey16, 16, 0},
                                           PictureCase{"Mono10p", "Mono10p", Picture::Grey16, 10, 0},
                                           PictureCase{"Mono12p", "Mono12p", Picture::Grey16, 12, 0},
                                           PictureCase{"Mono12Packed", "Mono12Packed", Picture::Grey16, 12, 0},
                                           PictureCase{"RGB8", "RGB8", Picture::Colour, 8, 0},
                                           PictureCase{"RGB8Packed", "RGB8", Picture::Colour, 8, 0},
                                           PictureCase{"BGR8", "BGR8", Picture::Colour, 8, 0},
                                           PictureCase{"RGBa8", "BGR8", Picture::Colour, 8, 0},
                                           PictureCase{"BayerRG8", "BGR8", Picture::Colour, 8, 0},
                                           PictureCase{"BayerGB12", "BGR8", Picture::Colour, 8, 0},
                                           PictureCase{"YUV422Packed", "BGR8", Picture::Colour, 8, 1},
                                           PictureCase{"YUV411Packed", "BGR8", Picture::Colour, 8, 1}),
                         [](const ::testing::TestParamInfo<PictureCase>& param) {
                             return std::string(param.param.pixelFormat);
                         });

// A frame the module hands over in a buffer smaller than the frame must not be read past its end: the tool
// counts it, writes no picture, and says why.
TEST(PictureLimits, BuffersSmallerThanTheFrameAreNotRead) {
    // The tool reads no more than the module's frame description allows; that description must then stay
    // within the buffer.
    ToolSandbox sandbox;
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("P2"), QStringLiteral(R"("pixelFormat": "Mono16",
        "width": 64, "height": 32, "payloadSize": 2048, "frameRate": 100)"))}));
    const ToolResult result = sandbox.run({QStringLiteral("grab"), QStringLiteral("--camera"), QStringLiteral("P2"),
                                           QStringLiteral("--frames"), QStringLiteral("2"), QStringLiteral("--save"),
                                           QStringLiteral("out"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kOutputFailed) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(summary.value(QStringLiteral("framesReceived")).toInt(), 2);
    EXPECT_FALSE(summary.value(QStringLiteral("received")).toObject().value(QStringLiteral("pixelsRead")).toBool());
    EXPECT_TRUE(summary.value(QStringLiteral("saved")).toObject().value(QStringLiteral("files")).toArray().isEmpty());
    EXPECT_TRUE(result.err.contains(QLatin1String("(2048 bytes) is smaller than a 64 x 32 frame")))
        << result.err.toStdString();
}

} // namespace
} // namespace vxcam::test
