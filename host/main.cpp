// vxcam, the reference host tool: loads the camera module as a machine-vision host does and drives cameras
// through the host contract only.
#include "host/Commands.h"
#include "host/Console.h"
#include "host/ExitCode.h"
#include "host/HostPlatform.h"

#include <QCoreApplication>

#include <exception>

int main(int argc, char* argv[]) {
    using namespace vxcam::host;
    // Gives the binary's folder, where the module and the demo's cameras live; no event loop runs.
    const QCoreApplication application(argc, argv);
    Console::instance().takeOverLogging();
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
