// The live viewer as a user sees it: a real window (on Qt's offscreen platform, which draws it exactly as on a
// screen) showing the camera's colour bars, with its status bar, and the window's picture written on request.
#include "tests/host/ColourBars.h"
#include "tests/host/ToolSandbox.h"

#include <QImage>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal> // kill(): the signal a service manager sends
#include <memory>
#include <ostream>

namespace vxcam::test {
namespace {

using namespace exit_code;

// True when `runs` holds the eight bars, left to right, one after another.
bool showsTheBars(const std::vector<Colour>& runs, int tolerance) {
    if (runs.size() < kBars.size()) {
        return false;
    }
    for (std::size_t start = 0; start + kBars.size() <= runs.size(); ++start) {
        bool all = true;
        for (std::size_t bar = 0; bar < kBars.size() && all; ++bar) {
            all = closeTo(runs[start + bar], kBars.at(bar), tolerance);
        }
        if (all) {
            return true;
        }
    }
    return false;
}

class ViewWindow : public ::testing::TestWithParam<const char*> {};

TEST_P(ViewWindow, ShowsTheCamerasColourBarsScaledToTheWindow) {
    ToolSandbox sandbox;
    sandbox.setVariable(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("V1"), QStringLiteral(R"("pixelFormat": "%1",
        "width": 320, "height": 240, "frameRate": 30)")
                                                                      .arg(QLatin1String(GetParam())))}));
    const ToolResult result = sandbox.run({QStringLiteral("view"), QStringLiteral("--camera"), QStringLiteral("V1"),
                                           QStringLiteral("--quit-after"), QStringLiteral("3"),
                                           QStringLiteral("--window-shot"), QStringLiteral("window.png")});
    ASSERT_EQ(result.exitCode, kSuccess) << result.describe().toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("veyra V1: 3 frames shown"))) << result.out.toStdString();

    const QImage shot(sandbox.path(QStringLiteral("window.png")));
    ASSERT_FALSE(shot.isNull());
    // The picture is scaled up to the window (800 x 600 less its bars): each bar is far wider than the frame's.
    const std::vector<Colour> runs = colourRuns(shot, shot.height() / 2, Colour{48, 48, 48}, 60);
    EXPECT_TRUE(showsTheBars(runs, 1)) << "runs: " << runs.size();
}

INSTANTIATE_TEST_SUITE_P(PixelFormats, ViewWindow, ::testing::Values("RGB8", "BayerRG8", "YUV422Packed"));

struct ViewFailure {
    const char* name;
    QStringList arguments;
    int exitCode;
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const ViewFailure& c) {
    return out << c.name;
}

class ViewWindowFailures : public ::testing::TestWithParam<ViewFailure> {};

TEST_P(ViewWindowFailures, EndWithTheirExitCodeAndSayWhy) {
    const ViewFailure& c = GetParam();
    ToolSandbox sandbox;
    sandbox.setVariable(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("V2"), QStringLiteral(R"("width": 64, "height": 32,
        "exposure": { "feature": "ExposureTimeAbs", "min": 10, "max": 500 })"))}));
    const ToolResult result = sandbox.run(QStringList{QStringLiteral("view")} << c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.describe().toStdString();
    EXPECT_TRUE(result.err.contains(QLatin1String(c.mentions))) << result.err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ViewWindowFailures,
    ::testing::Values(ViewFailure{"UnknownCamera",
                                  {QStringLiteral("--camera"), QStringLiteral("V9")},
                                  kCameraUnavailable,
                                  "unknown camera 'V9'"},
                      ViewFailure{"ExposureRefused",
                                  {QStringLiteral("--camera"), QStringLiteral("V2"), QStringLiteral("--exposure"),
                                   QStringLiteral("2500"), QStringLiteral("--quit-after"), QStringLiteral("1")},
                                  kSettingRefused,
                                  "refused the exposure 2500 us"}),
    [](const ::testing::TestParamInfo<ViewFailure>& param) { return std::string(param.param.name); });

// A viewer ended by SIGTERM (a service manager, a script's timeout) stops its camera and says it was
// interrupted, as grab does.
TEST(ViewWindowSignals, TerminationEndsWith130) {
    ToolSandbox sandbox;
    sandbox.setVariable(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    sandbox.useCameras(simConfig({simDevice(QStringLiteral("T1"), QStringLiteral(R"("width": 64, "height": 32,
        "frameRate": 30)"))}));
    const std::unique_ptr<QProcess> process =
        sandbox.start({QStringLiteral("view"), QStringLiteral("--camera"), QStringLiteral("T1")});
    ASSERT_TRUE(process);
    // The viewer says on standard error when the camera runs; the signal comes after that.
    process->setReadChannel(QProcess::StandardError);
    QString early;
    while (!early.contains(QLatin1String("showing veyra T1")) && process->waitForReadyRead(30000)) {
        early += QString::fromUtf8(process->readAllStandardError());
    }
    ASSERT_TRUE(early.contains(QLatin1String("showing veyra T1"))) << early.toStdString();
    ASSERT_EQ(::kill(static_cast<pid_t>(process->processId()), SIGTERM), 0);
    ToolResult result = ToolSandbox::finish(*process);
    result.err.prepend(early);
    ASSERT_TRUE(result.finished && !result.crashed) << result.describe().toStdString();
    EXPECT_EQ(result.exitCode, kInterrupted) << result.describe().toStdString();
    EXPECT_TRUE(result.out.contains(QLatin1String("veyra T1: "))) << result.describe().toStdString();
}

} // namespace
} // namespace vxcam::test
