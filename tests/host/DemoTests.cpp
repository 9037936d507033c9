// The demo on the cameras shipped beside the binary: no set-up, and whatever simulated cameras the user's
// environment names are not the demo's.
#include "tests/host/ColourBars.h"
#include "tests/host/ToolSandbox.h"

#include <QDir>
#include <QJsonArray>
#include <QSet>
#include <gtest/gtest.h>

namespace vxcam::test {
namespace {

using namespace exit_code;

// The first saved picture of a demo camera shows its bars, whatever the layout it arrived in.
void expectBars(const QImage& image, const QString& receivedLayout) {
    for (int bar = 0; bar < 8; ++bar) {
        const int x = barMiddle(bar, image.width());
        const int y = image.height() / 2;
        SCOPED_TRACE(::testing::Message() << "bar " << bar);
        if (image.format() == QImage::Format_Grayscale16) {
            // The only deep grey layout the demo ships is Mono12.
            EXPECT_EQ(receivedLayout, QLatin1String("Mono16"));
            EXPECT_EQ(grey16At(image, x, y), stretchedGrey(bar, 12));
        } else {
            const Colour seen = colourAt(image, x, y);
            EXPECT_TRUE(closeTo(seen, kBars.at(static_cast<std::size_t>(bar)), 1))
                << seen.red << ", " << seen.green << ", " << seen.blue;
        }
    }
}

TEST(DemoCommand, GrabsEveryShippedCameraIntoItsFolderWithAContactSheet) {
    ToolSandbox sandbox;
    sandbox.setVariable(QStringLiteral("VXCAM_SIM_CONFIG"), sandbox.path(QStringLiteral("no-such-file.json")));
    const ToolResult result = sandbox.run({QStringLiteral("demo"), QStringLiteral("--json")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    const QJsonObject summary = result.json();
    EXPECT_EQ(QDir(summary.value(QStringLiteral("directory")).toString()),
              QDir(sandbox.path(QStringLiteral("vxcam-demo"))));

    const QJsonArray cameras = summary.value(QStringLiteral("cameras")).toArray();
    QSet<QString> kinds;
    for (const QJsonValue entry : cameras) {
        const QJsonObject camera = entry.toObject();
        const QString name = camera.value(QStringLiteral("camera")).toString();
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(camera.value(QStringLiteral("result")).toString(), QLatin1String("ok"));
        EXPECT_GT(camera.value(QStringLiteral("framesReceived")).toInt(), 0);
        // The cameras keep their own clock: a host slower than their 60 frames per second (a sanitizer build)
        // loses frames. Every ID from the first frame to the last is either received or counted lost.
        const auto frameId = [&](const char* key) {
            return camera.value(QLatin1String(key)).toVariant().toString().toULongLong();
        };
        EXPECT_EQ(frameId("lastFrameId") - frameId("firstFrameId") + 1,
                  static_cast<qulonglong>(camera.value(QStringLiteral("framesReceived")).toInt() +
                                          camera.value(QStringLiteral("framesLost")).toInt()));
        const QString format = camera.value(QStringLiteral("cameraPixelFormat")).toString();
        for (const char* kind : {"Bayer", "YUV", "Mono"}) {
            if (format.startsWith(QLatin1String(kind))) {
                kinds.insert(QLatin1String(kind));
            }
        }
        const QJsonObject saved = camera.value(QStringLiteral("saved")).toObject();
        const QJsonArray files = saved.value(QStringLiteral("files")).toArray();
        ASSERT_FALSE(files.isEmpty());
        const QString first = files.at(0).toObject().value(QStringLiteral("file")).toString();
        EXPECT_TRUE(QDir::cleanPath(QDir(sandbox.folder()).absoluteFilePath(first))
                        .startsWith(QDir::cleanPath(sandbox.path(QStringLiteral("vxcam-demo")))));
        const QImage image(QDir(sandbox.folder()).absoluteFilePath(first));
        ASSERT_FALSE(image.isNull()) << first.toStdString();
        expectBars(image,
                   camera.value(QStringLiteral("received")).toObject().value(QStringLiteral("layout")).toString());
    }
    EXPECT_EQ(kinds, (QSet<QString>{QStringLiteral("Bayer"), QStringLiteral("YUV"), QStringLiteral("Mono")}));

    // One band of tiles per camera, each tile starting with the white bar.
    const QImage sheet(sandbox.path(QStringLiteral("vxcam-demo/contact-sheet.png")));
    ASSERT_FALSE(sheet.isNull());
    const Colour background = colourAt(sheet, 0, 0);
    const std::vector<int> bands = bandMiddles(sheet, background);
    EXPECT_EQ(bands.size(), static_cast<std::size_t>(cameras.size()));
    for (const int y : bands) {
        const std::vector<Colour> runs = colourRuns(sheet, y, background, 4);
        ASSERT_FALSE(runs.empty()) << "row " << y;
        EXPECT_EQ(runs.front(), kBars.front()) << "row " << y;
    }
}

} // namespace
} // namespace vxcam::test
