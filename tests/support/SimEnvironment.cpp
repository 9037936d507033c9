#include "tests/support/SimEnvironment.h"

#include "sdk/SystemList.h"

#include <QFile>
#include <QFileInfo>

namespace vxcam::test {

SimEnvironment::SimEnvironment(const QString& json) {
    QFile file(configPath());
    if (file.open(QIODevice::WriteOnly)) {
        file.write(json.toUtf8());
    }
    sdk::SystemList::ReleaseInstance();
    qputenv("VXCAM_SIM_CONFIG", configPath().toLocal8Bit());
    qputenv("VXCAM_SIM_TRACE", tracePath().toLocal8Bit());
    // Only the simulated cameras: the default transports would add the machine's USB3 Vision cameras.
    qputenv("VXCAM_TRANSPORTS", "sim");
    // The "gentl" transport finds our simulated cameras as a GenTL producer: the folder of vxcam-sim.cti, as a
    // user names the folder of a maker's producer.
    qputenv("GENICAM_GENTL64_PATH", QFileInfo(QStringLiteral(VXCAM_SIM_CTI)).absolutePath().toLocal8Bit());
}

SimEnvironment::~SimEnvironment() {
    sdk::SystemList::ReleaseInstance();
    qunsetenv("VXCAM_SIM_CONFIG");
    qunsetenv("VXCAM_SIM_TRACE");
    qunsetenv("VXCAM_TRANSPORTS");
    qunsetenv("GENICAM_GENTL64_PATH");
}

QString SimEnvironment::configPath() const {
    return m_dir.filePath(QStringLiteral("cameras.json"));
}
QString SimEnvironment::tracePath() const {
    return m_dir.filePath(QStringLiteral("trace.tsv"));
}

QStringList SimEnvironment::trace() const {
    QFile file(tracePath());
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList SimEnvironment::trace(const QString& call) const {
    QStringList result;
    for (const QString& line : trace()) {
        if (line.section(QLatin1Char('\t'), 0, 0) == call) {
            result << line;
        }
    }
    return result;
}

void SimEnvironment::clearTrace() const {
    QFile file(tracePath());
    if (file.exists()) {
        file.resize(0);
    }
}

} // namespace vxcam::test
