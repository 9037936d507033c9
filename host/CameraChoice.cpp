#include "host/CameraChoice.h"

#include "host/Console.h"

#include <algorithm>

namespace vxcam::host {
namespace {

// USB3 Vision is searched when no transport is named, or when "u3v" is among those named.
bool usbVisionInUse() {
    if (!qEnvironmentVariableIsSet("VXCAM_TRANSPORTS")) {
        return true;
    }
    const QStringList named = qEnvironmentVariable("VXCAM_TRANSPORTS").split(QLatin1Char(','));
    return std::any_of(named.begin(), named.end(),
                       [](const QString& name) { return name.trimmed() == QLatin1String("u3v"); });
}

} // namespace

QString noCameraHint() {
    // A camera file that is named but cannot be used is the likeliest cause, and the SDK layer says why.
    const QString warning = Console::instance().firstSdkWarning();
    if (!warning.isEmpty()) {
        return QStringLiteral("(the SDK layer said: %1)").arg(warning);
    }
    if (qEnvironmentVariableIsEmpty("VXCAM_SIM_CONFIG")) {
        return QStringLiteral("(simulated cameras need VXCAM_SIM_CONFIG naming their file, such as the demo's "
                              "vxcam-demo-cameras.json beside vxcam; VXCAM_TRANSPORTS names the transports in use: "
                              "%1%2)")
            .arg(qEnvironmentVariableIsSet("VXCAM_TRANSPORTS") ? qEnvironmentVariable("VXCAM_TRANSPORTS")
                                                               : QStringLiteral("u3v by default"),
                 usbVisionInUse() ? QStringLiteral("; a USB3 Vision camera that this user may not open is not "
                                                   "listed: 'vxcam check' names it")
                                  : QString());
    }
    return QStringLiteral("(the simulated-camera file %1 lists none; VXCAM_TRANSPORTS names the transports in use)")
        .arg(qEnvironmentVariable("VXCAM_SIM_CONFIG"));
}

namespace {

QString listedText(const QStringList& listed) {
    return listed.join(QStringLiteral(", "));
}

} // namespace

QString serialOf(const QString& cameraId) {
    return cameraId.split(QLatin1Char(' ')).value(1);
}

CameraChoice chooseCamera(const QStringList& listed, const QString& wanted) {
    CameraChoice choice;
    if (listed.isEmpty()) {
        choice.error = QStringLiteral("unknown camera '%1': the module lists no camera %2").arg(wanted, noCameraHint());
        return choice;
    }
    // "veyra SN1001": the module itself takes the family word in any case and the serial as it stands.
    const int blank = wanted.indexOf(QLatin1Char(' '));
    if (blank > 0 && wanted.left(blank).compare(QLatin1String("veyra"), Qt::CaseInsensitive) == 0) {
        const QString serial = wanted.mid(blank + 1);
        for (const QString& id : listed) {
            if (serialOf(id) == serial) {
                choice.id = id;
                return choice;
            }
        }
    } else if (blank < 0) {
        QStringList matches;
        for (const QString& id : listed) {
            if (serialOf(id) == wanted) {
                matches << id;
            }
        }
        if (matches.size() == 1) {
            choice.id = matches.constFirst();
            return choice;
        }
        if (matches.size() > 1) {
            choice.error = QStringLiteral("the serial number '%1' names %2 listed cameras (%3); the module opens the "
                                          "first of them, name it in full to take that one")
                               .arg(wanted)
                               .arg(matches.size())
                               .arg(listedText(matches));
            return choice;
        }
    }
    choice.error = QStringLiteral("unknown camera '%1'; the module lists: %2").arg(wanted, listedText(listed));
    return choice;
}

} // namespace vxcam::host
