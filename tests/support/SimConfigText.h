// JSON text of simulated-camera configurations, for tests that write their own camera files.
#pragma once

#include <QString>
#include <QStringList>

namespace vxcam::test {

// One device entry of a configuration, with the given serial and extra JSON members (without braces).
QString simDevice(const QString& serial, const QString& extra = {});
// A configuration with one system "simA", one interface "if0" and the given device entries.
QString simConfig(const QStringList& devices, const QString& faults = {});

} // namespace vxcam::test
