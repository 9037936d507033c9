// vxcam, the reference host tool: loads the camera module as a machine-vision host does and drives cameras
// through the host contract only.
#include "host/CommandLine.h"
#include "host/Commands.h"
#include "host/Console.h"
#include "host/ExitCode.h"
#include "host/HostPlatform.h"

#include <QApplication>
#include <QGuiApplication>

#include <exception>
#include <memory>
#include <variant>

namespace {

using namespace vxcam::host;

// Only a viewer that will run shows a window; its help and its usage errors do not.
bool wantsWindow(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    return std::holds_alternative<ViewOptions>(parseCommandLine(arguments));
}

// `view` gets a widget application on the platform's display. Every other command draws only into pictures
// (the contact sheets' labels need fonts, which come with the GUI application) and shows no window, so it runs
// on Qt's minimal platform with its fonts and needs no display. (The minimal platform rather than the
// offscreen one: Qt 5.15's offscreen platform never frees its screen, which leak checkers report.)
std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[], bool window) {
    if (window) {
        return std::make_unique<QApplication>(argc, argv);
    }
    qputenv("QT_QPA_PLATFORM", "minimal:enable_fonts");
    return std::make_unique<QGuiApplication>(argc, argv);
}

} // namespace

int main(int argc, char* argv[]) {
    Console::instance().takeOverLogging();
    const bool window = wantsWindow(argc, argv);
    if (window && !platform::hasDisplay()) {
        Console::instance().error(QStringLiteral("'vxcam view' needs a display: none is set (DISPLAY or "
                                                 "WAYLAND_DISPLAY); QT_QPA_PLATFORM=offscreen runs it without one"));
        return toInt(ExitCode::Usage);
    }
    // Gives the binary's folder, where the module and the demo's cameras live.
    const std::unique_ptr<QCoreApplication> application = makeApplication(argc, argv, window);
    platform::catchInterrupt();
    try {
        const ExitCode exitCode = runCommand(QCoreApplication::arguments());
        Console::instance().finish();
        return toInt(exitCode);
    } catch (const std::exception& exception) {
        Console::instance().error(QStringLiteral("internal error: %1").arg(QString::fromLocal8Bit(exception.what())));
    } catch (...) {
        Console::instance().error(QStringLiteral("internal error"));
    }
    return toInt(ExitCode::Internal);
}
