#include "tests/support/SimConfigText.h"

namespace vxcam::test {

QString simDevice(const QString& serial, const QString& extra) {
    return QStringLiteral(R"({ "serial": "%1"%2%3 })")
        .arg(serial, extra.isEmpty() ? QString() : QStringLiteral(", "), extra);
}

QString simConfig(const QStringList& devices, const QString& faults) {
    return QStringLiteral(R"({ "systems": [ { "id": "simA", "interfaces": [ { "id": "if0", "devices": [ %1 ] } ] } ],
  "faults": [ %2 ] })")
        .arg(devices.join(QStringLiteral(", ")), faults);
}

} // namespace vxcam::test
