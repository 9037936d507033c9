#include "tests/support/TransportFixture.h"

namespace vxcam::test {

const std::vector<Transport>& allTransports() {
    static const std::vector<Transport> transports{kSimulatedTransport, kVirtualTransport, kGentlTransport};
    return transports;
}

std::string transportName(const ::testing::TestParamInfo<Transport>& info) {
    return info.param.name;
}

void TransportFixture::SetUp() {
    ModuleFixture::SetUp();
    m_transports = transport().name;
}

QString TransportFixture::serial(const QString& simulatedSerial) const {
    return simulated() ? simulatedSerial : QLatin1String(kVirtualSerial);
}

QString TransportFixture::cameraId(const QString& simulatedSerial) const {
    return QStringLiteral("veyra ") + serial(simulatedSerial);
}

sdk::Device* TransportFixture::device(const QString& simulatedSerial) const {
    const std::vector<sdk::Device*> found = devicesWithSerial(serial(simulatedSerial).toStdString());
    EXPECT_EQ(found.size(), 1U) << "devices with serial " << serial(simulatedSerial).toStdString();
    return found.size() == 1 ? found.front() : nullptr;
}

} // namespace vxcam::test
