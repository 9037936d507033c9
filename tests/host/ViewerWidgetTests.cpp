// The viewer's window from the inside, on Qt's offscreen platform: its exposure box follows the camera, and
// every message an action leaves is shown in the status bar, where a user can read it (checked on the
// widgets and on the pixels the bar draws).
#include "host/CameraModule.h"
#include "host/CommandLine.h"
#include "host/Console.h"
#include "host/ViewerWindow.h"
#include "tests/support/SimConfigText.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <ostream>

namespace vxcam::test {
namespace {

using host::ViewerWindow;

// A camera with exposure limits of its own, a value other than any default, and faults as the case asks.
QString cameraFile(const QString& faults) {
    return simConfig({simDevice(QStringLiteral("W1"), QStringLiteral(R"("pixelFormat": "RGB8", "width": 64,
        "height": 32, "frameRate": 60, "triggerSources": ["Line0", "Software"],
        "exposure": { "feature": "ExposureTime", "min": 100, "max": 20000, "value": 1234 })"))},
                     faults);
}

class ViewerWidgets : public ::testing::Test {
protected:
    void useCameras(const QString& json) {
        QFile file(m_dir.filePath(QStringLiteral("cameras.json")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(json.toUtf8());
        file.close();
        qputenv("VXCAM_SIM_CONFIG", QFile::encodeName(file.fileName()));
        qputenv("VXCAM_TRANSPORTS", "sim");
        ASSERT_TRUE(m_module.load()) << m_module.errorString().toStdString();
    }

    [[nodiscard]] host::ViewOptions options(AcqTriggerMode trigger = FreeRun) const {
        host::ViewOptions view;
        view.trigger = trigger;
        view.snapshotDir = m_dir.path();
        return view;
    }

    // Shows the window until its first frame is drawn (it closes itself then; the camera stops), or gives up.
    static void showFirstFrame(ViewerWindow& window) {
        window.show();
        ASSERT_TRUE(window.startCamera()) << window.failure().toStdString();
        QTimer giveUp; // a window that never draws fails, not hangs
        giveUp.setSingleShot(true);
        QObject::connect(&giveUp, &QTimer::timeout, qApp, &QCoreApplication::quit);
        giveUp.start(30000);
        QApplication::exec();
        ASSERT_EQ(window.framesShown(), 1);
    }

    QTemporaryDir m_dir;
    host::CameraModule m_module{QStringLiteral(VXCAM_MODULE_DIR)};
};

// The message label shows `wanted` in full, and the bar's pixels over it are text, not an empty bar.
void expectShown(ViewerWindow& window, const QString& wanted) {
    const auto* message = window.findChild<QLabel*>(QStringLiteral("message"));
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->text().contains(wanted)) << message->text().toStdString();
    window.resize(1400, 600); // wide enough for the longest message beside the counts
    window.show();
    QApplication::processEvents();
    ASSERT_TRUE(message->isVisible());
    QStatusBar* bar = window.statusBar();
    const QRect area(message->mapTo(bar, QPoint(0, 0)), message->size());
    ASSERT_TRUE(bar->rect().contains(area)) << "the message lies outside the bar";
    EXPECT_GE(area.width(), message->fontMetrics().horizontalAdvance(message->text()))
        << "the message is cut off: " << area.width() << " pixels for " << message->text().toStdString();
    const QImage picture = bar->grab().toImage();
    const QRgb background = picture.pixel(area.right(), area.top());
    int inked = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            inked += picture.pixel(x, y) != background ? 1 : 0;
        }
    }
    EXPECT_GT(inked, 50) << "no text drawn where the message is";
}

TEST_F(ViewerWidgets, ExposureBoxHoldsTheCamerasValueWithinItsLimits) {
    useCameras(cameraFile({}));
    ViewerWindow window(m_module, QStringLiteral("veyra W1"), options());
    ASSERT_TRUE(window.startCamera()) << window.failure().toStdString();
    const auto* exposure = window.findChild<QSpinBox*>(QStringLiteral("exposure"));
    ASSERT_NE(exposure, nullptr);
    EXPECT_TRUE(exposure->isEnabled());
    EXPECT_EQ(exposure->minimum(), 100);
    EXPECT_EQ(exposure->maximum(), 20000);
    EXPECT_EQ(exposure->value(), 1234);
}

// The virtual camera starts every open in Mono8: the format the status bar names came from the tool's choice.
TEST_F(ViewerWidgets, TheChosenPixelFormatReachesTheShownFrames) {
    qputenv("VXCAM_TRANSPORTS", "virtual");
    ASSERT_TRUE(m_module.load()) << m_module.errorString().toStdString();
    host::ViewOptions chosen = options();
    chosen.pixelFormat = QStringLiteral("BayerRG8");
    chosen.quitAfterFrames = 1;
    ViewerWindow window(m_module, QStringLiteral("veyra 1"), chosen);
    showFirstFrame(window);
    const auto* status = window.findChild<QLabel*>(QStringLiteral("status"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->text().contains(QLatin1String("BayerRG8 (received as BGR8)"))) << status->text().toStdString();
}

TEST_F(ViewerWidgets, ARefusedExposureIsShownWithTheCamerasRange) {
    useCameras(cameraFile(QStringLiteral(
        R"({ "call": "Node::SetDouble", "match": "ExposureTime", "times": 0, "description": "busy" })")));
    ViewerWindow window(m_module, QStringLiteral("veyra W1"), options());
    ASSERT_TRUE(window.startCamera()) << window.failure().toStdString();
    auto* exposure = window.findChild<QSpinBox*>(QStringLiteral("exposure"));
    ASSERT_NE(exposure, nullptr);
    exposure->setValue(3000);
    expectShown(window, QStringLiteral("the camera refused the exposure 3000 us"));
    expectShown(window, QStringLiteral("the camera takes 100 to 20000 us"));
}

TEST_F(ViewerWidgets, ARefusedSoftwareTriggerIsShown) {
    useCameras(cameraFile(QStringLiteral(R"({ "call": "Node::Execute", "match": "TriggerSoftware", "times": 0 })")));
    ViewerWindow window(m_module, QStringLiteral("veyra W1"), options(SoftTrigger));
    ASSERT_TRUE(window.startCamera()) << window.failure().toStdString();
    auto* trigger = window.findChild<QPushButton*>(QStringLiteral("softTrigger"));
    ASSERT_NE(trigger, nullptr);
    ASSERT_TRUE(trigger->isEnabled());
    trigger->click();
    expectShown(window, QStringLiteral("the camera refused the software trigger"));
}

TEST_F(ViewerWidgets, AWrittenSnapshotIsShownWithItsFile) {
    useCameras(cameraFile({}));
    host::ViewOptions view = options();
    view.quitAfterFrames = 1;
    ViewerWindow window(m_module, QStringLiteral("veyra W1"), view);
    showFirstFrame(window);
    auto* snapshot = window.findChild<QPushButton*>(QStringLiteral("snapshot"));
    ASSERT_NE(snapshot, nullptr);
    snapshot->click();
    const QStringList written = QDir(m_dir.path()).entryList({QStringLiteral("snapshot-*.png")}, QDir::Files);
    ASSERT_EQ(written.size(), 1);
    expectShown(window, QStringLiteral("wrote %1").arg(QDir::toNativeSeparators(m_dir.filePath(written.front()))));
    EXPECT_EQ(QImage(m_dir.filePath(written.front())).size(), QSize(64, 32));
}

TEST_F(ViewerWidgets, CtrlQClosesTheWindowAndStopsTheCamera) {
    useCameras(cameraFile({}));
    ViewerWindow window(m_module, QStringLiteral("veyra W1"), options());
    window.show();
    ASSERT_TRUE(window.startCamera()) << window.failure().toStdString();
    QShortcut* quit = nullptr;
    for (QShortcut* shortcut : window.findChildren<QShortcut*>()) {
        quit = shortcut->key() == QKeySequence(QStringLiteral("Ctrl+Q")) ? shortcut : quit;
    }
    ASSERT_NE(quit, nullptr) << "no Ctrl+Q shortcut";
    emit quit->activated();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.exitCode(), host::ExitCode::Success);
}

} // namespace
} // namespace vxcam::test

// In leak-checked builds: Qt 5.15's offscreen platform plugin creates its screen and never deletes it. That one
// object is suppressed; what it owns (the screen's Qt objects) is reported as indirect leaks, which are not
// reported here: an indirect leak is always owned by a direct one, which is reported on its own.
extern "C" __attribute__((visibility("default"), used)) const char*
__lsan_default_suppressions() { // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
    return "leak:libqoffscreen.so\n";
}
extern "C" __attribute__((visibility("default"), used)) const char*
__lsan_default_options() { // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
    return "report_indirect_leaks=0";
}

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    vxcam::host::Console::instance().takeOverLogging();
    const QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(true);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
