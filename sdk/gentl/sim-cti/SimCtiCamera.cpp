#include "sdk/gentl/sim-cti/SimCtiCamera.h"

#include "sdk/core/PixelFormats.h"
#include "sdk/gentl/sim-cti/SimCtiReply.h"
#include "sdk/gentl/sim-cti/SimCtiZip.h"
#include "sdk/sim/SimPattern.h"

#include <QFile>
#include <QStringList>

#include <algorithm>
#include <cstring>
#include <iomanip>
#include <new>
#include <sstream>

namespace sdk::simcti {
namespace {

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::string escapeXml(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string hex(uint64_t value) {
    std::ostringstream out;
    out << "0x" << std::hex << std::uppercase << value;
    return out.str();
}

void putLittleEndian(std::vector<unsigned char>& block, uint64_t address, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        block[address + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

void putText(std::vector<unsigned char>& block, uint64_t address, const std::string& text) {
    const size_t length = std::min<size_t>(text.size(), reg::kStringLength - 1); // always zero-terminated
    std::memcpy(&block[address], text.data(), length);
}

uint64_t readLittleEndian(const unsigned char* data, size_t bytes) {
    uint64_t value = 0;
    for (size_t i = 0; i < bytes; ++i) {
        value |= uint64_t{data[i]} << (8 * i);
    }
    return value;
}

// The description's pieces. Every feature names the one port "Device"; registers are little-endian and never
// cached, since the camera (other streams, other consumers' writes) may change them.
class DescriptionWriter {
public:
    explicit DescriptionWriter(const sim::SimDeviceConfig& config) : m_config(config) {}

    // A feature's common elements, in the schema's order: availability and imposed access.
    [[nodiscard]] std::string nodeBase(const std::string& feature, bool readOnly) const {
        std::string out;
        if (listed(m_config.unavailable, feature)) {
            out += "    <pIsAvailable>VxNotAvailable</pIsAvailable>\n";
        }
        if (readOnly || listed(m_config.readOnly, feature)) {
            out += "    <ImposedAccessMode>RO</ImposedAccessMode>\n";
        }
        return out;
    }

    [[nodiscard]] bool present(const std::string& feature) const { return !listed(m_config.absent, feature); }

    void intReg(const std::string& name, uint64_t address, uint64_t length, const char* access,
                const std::string& base = {}) {
        m_nodes << "  <IntReg Name=\"" << name << "\">\n"
                << base << "    <Address>" << hex(address) << "</Address>\n"
                << "    <Length>" << length << "</Length>\n"
                << "    <AccessMode>" << access << "</AccessMode>\n"
                << "    <pPort>Device</pPort>\n"
                << "    <Cachable>NoCache</Cachable>\n"
                << "    <Sign>Unsigned</Sign>\n"
                << "    <Endianess>LittleEndian</Endianess>\n"
                << "  </IntReg>\n";
    }

    void readOnlyInteger(const std::string& name, uint64_t address, uint64_t length) {
        if (!present(name)) {
            return;
        }
        feature(name);
        intReg(name, address, length, "RO", nodeBase(name, true));
    }

    void enumeration(const std::string& name, const std::vector<std::pair<std::string, uint64_t>>& entries,
                     uint64_t address, bool readOnly) {
        if (!present(name)) {
            return;
        }
        feature(name);
        m_nodes << "  <Enumeration Name=\"" << name << "\" NameSpace=\"Standard\">\n" << nodeBase(name, readOnly);
        for (const auto& [entry, value] : entries) {
            m_nodes << "    <EnumEntry Name=\"" << escapeXml(entry) << "\" NameSpace=\"Standard\">\n"
                    << "      <Value>" << value << "</Value>\n"
                    << "    </EnumEntry>\n";
        }
        m_nodes << "    <pValue>" << name << "Reg</pValue>\n  </Enumeration>\n";
        intReg(name + "Reg", address, 4, readOnly ? "RO" : "RW");
    }

    void command(const std::string& name, uint64_t address) {
        if (!present(name)) {
            return;
        }
        feature(name);
        m_nodes << "  <Command Name=\"" << name << "\" NameSpace=\"Standard\">\n"
                << nodeBase(name, false) << "    <pValue>" << name << "Reg</pValue>\n"
                << "    <CommandValue>1</CommandValue>\n  </Command>\n";
        intReg(name + "Reg", address, 4, "RW");
    }

    void floating(const std::string& name, uint64_t address, double min, double max) {
        if (!present(name)) {
            return;
        }
        feature(name);
        m_nodes << std::setprecision(17) << "  <Float Name=\"" << name << "\" NameSpace=\"Standard\">\n"
                << nodeBase(name, false) << "    <pValue>" << name << "Reg</pValue>\n"
                << "    <Min>" << min << "</Min>\n"
                << "    <Max>" << max << "</Max>\n"
                << "    <Unit>us</Unit>\n  </Float>\n"
                << "  <FloatReg Name=\"" << name << "Reg\">\n"
                << "    <Address>" << hex(address) << "</Address>\n"
                << "    <Length>8</Length>\n"
                << "    <AccessMode>RW</AccessMode>\n"
                << "    <pPort>Device</pPort>\n"
                << "    <Cachable>NoCache</Cachable>\n"
                << "    <Endianess>LittleEndian</Endianess>\n"
                << "  </FloatReg>\n";
    }

    void text(const std::string& name, uint64_t address) {
        if (!present(name)) {
            return;
        }
        feature(name);
        m_nodes << "  <StringReg Name=\"" << name << "\" NameSpace=\"Standard\">\n"
                << nodeBase(name, true) << "    <Address>" << hex(address) << "</Address>\n"
                << "    <Length>" << reg::kStringLength << "</Length>\n"
                << "    <AccessMode>RO</AccessMode>\n"
                << "    <pPort>Device</pPort>\n"
                << "  </StringReg>\n";
    }

    [[nodiscard]] std::string document() const {
        std::ostringstream out;
        out << descriptionOpening(escapeXml(m_config.model), "Simulated Veyra camera",
                                  "6f1a0c52-5d37-4c1e-9a8e-3b0d2f7c1e01", "6f1a0c52-5d37-4c1e-9a8e-3b0d2f7c1e02");
        for (const std::string& name : m_features) {
            out << "    <pFeature>" << name << "</pFeature>\n";
        }
        out << "  </Category>\n"
            << m_nodes.str() << "  <Integer Name=\"VxNotAvailable\">\n    <Value>0</Value>\n  </Integer>\n"
            << "  <Port Name=\"Device\" NameSpace=\"Standard\"/>\n"
            << "</RegisterDescription>\n";
        return out.str();
    }

private:
    void feature(const std::string& name) { m_features.push_back(name); }

    const sim::SimDeviceConfig& m_config;
    std::vector<std::string> m_features;
    std::ostringstream m_nodes;
};

std::vector<std::pair<std::string, uint64_t>> indexed(const std::vector<std::string>& names) {
    std::vector<std::pair<std::string, uint64_t>> entries;
    for (size_t i = 0; i < names.size(); ++i) {
        entries.emplace_back(names[i], i);
    }
    return entries;
}

} // namespace

uint64_t payloadSizeOf(const sim::SimDeviceConfig& config) {
    if (config.payloadSize != 0) {
        return config.payloadSize;
    }
    if (const core::PixelFormatInfo* format = core::findPixelFormat(config.pixelFormat)) {
        return core::framePayloadSize(*format, config.width, config.height);
    }
    return uint64_t{config.width} * config.height;
}

std::string describeCamera(const sim::SimDeviceConfig& config, uint32_t pixelFormatCode) {
    DescriptionWriter out(config);
    out.readOnlyInteger("Width", reg::kWidth, 4);
    out.readOnlyInteger("Height", reg::kHeight, 4);
    out.readOnlyInteger("PayloadSize", reg::kPayloadSize, 8);
    out.enumeration("PixelFormat", {{config.pixelFormat, pixelFormatCode}}, reg::kPixelFormat, true);
    out.enumeration("TriggerMode", {{"Off", 0}, {"On", 1}}, reg::kTriggerMode, false);
    out.enumeration("TriggerSource", indexed(config.triggerSources), reg::kTriggerSource, false);
    out.command("TriggerSoftware", reg::kTriggerSoftware);
    out.command("AcquisitionStart", reg::kAcquisitionStart);
    out.command("AcquisitionStop", reg::kAcquisitionStop);
    out.command("AcquisitionAbort", reg::kAcquisitionAbort);
    out.floating(config.exposure.feature, reg::kExposure, config.exposure.min, config.exposure.max);
    out.text("DeviceVendorName", reg::kVendorName);
    out.text("DeviceModelName", reg::kModelName);
    out.text("DeviceSerialNumber", reg::kSerialNumber);
    return out.document();
}

namespace {
uint32_t pfncCodeOf(const std::string& name) {
    const core::PixelFormatInfo* format = core::findPixelFormat(name);
    return format != nullptr ? format->code : 0;
}
} // namespace

namespace {

std::optional<DescriptionForm> descriptionForm(const QString& value) {
    const std::pair<const char*, DescriptionForm> forms[] = {{"local", DescriptionForm::Local},
                                                             {"local-zip", DescriptionForm::LocalZip},
                                                             {"file", DescriptionForm::File},
                                                             {"file-zip", DescriptionForm::FileZip}};
    for (const auto& [name, form] : forms) {
        if (value == QLatin1String(name)) {
            return form;
        }
    }
    return std::nullopt;
}

// "none", a name of the format table, or "0x<code>[/<namespace>]".
std::optional<BufferFormat> bufferFormatOf(const QString& value) {
    BufferFormat format;
    if (value == QLatin1String("none")) {
        format.given = false;
        return format;
    }
    if (const core::PixelFormatInfo* known = core::findPixelFormat(value.toStdString());
        known != nullptr && known->code != 0) {
        format.code = known->code;
        return format;
    }
    if (!value.startsWith(QLatin1String("0x"))) {
        return std::nullopt;
    }
    const QStringList parts = value.mid(2).split(QLatin1Char('/'));
    bool codeOk = false;
    bool spaceOk = parts.size() == 1;
    format.code = parts[0].toULongLong(&codeOk, 16);
    if (parts.size() == 2) {
        format.space = parts[1].toULongLong(&spaceOk, 10);
    }
    return codeOk && spaceOk && parts.size() <= 2 ? std::optional(format) : std::nullopt;
}

} // namespace

std::optional<ProducerSettings> settingsFromEnvironment(std::string& error) {
    ProducerSettings settings;
    const QString description = qEnvironmentVariable("VXCAM_SIM_CTI_DESCRIPTION", QStringLiteral("local"));
    const std::optional<DescriptionForm> form = descriptionForm(description);
    if (!form) {
        error = "VXCAM_SIM_CTI_DESCRIPTION is \"" + description.toStdString() +
                "\"; it takes local, local-zip, file or file-zip";
        return std::nullopt;
    }
    settings.description = *form;
    if (qEnvironmentVariableIsSet("VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT")) {
        const QString value = qEnvironmentVariable("VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT");
        settings.alternateFormat = bufferFormatOf(value);
        if (!settings.alternateFormat) {
            error = "VXCAM_SIM_CTI_ALTERNATE_PIXELFORMAT is \"" + value.toStdString() +
                    "\"; it takes a pixel format's name, 0x<code>[/<namespace>] or none";
            return std::nullopt;
        }
    }
    return settings;
}

SimCtiCamera::SimCtiCamera(sim::SimDeviceConfig config, ProducerSettings settings)
    : m_config(std::move(config)), m_nPayloadSize(payloadSizeOf(m_config)),
      m_nPixelFormatCode(pfncCodeOf(m_config.pixelFormat)), m_powerOn(Clock::now()),
      m_alternateFormat(settings.alternateFormat), m_description(describeCamera(m_config, m_nPixelFormatCode)),
      m_bZipped(settings.description == DescriptionForm::LocalZip || settings.description == DescriptionForm::FileZip),
      m_descriptionFile(m_bZipped ? zipOneFile("vxcam-sim.xml", m_description) : m_description),
      m_exposure(m_config.exposure.value) {
    trigger.source = m_config.triggerSources.empty() ? std::string() : m_config.triggerSources.front();
    if (settings.description == DescriptionForm::File || settings.description == DescriptionForm::FileZip) {
        writeDescriptionFile();
    }
}

SimCtiCamera::~SimCtiCamera() = default;

BufferFormat SimCtiCamera::bufferFormat(uint64_t frameId) const noexcept {
    if (m_alternateFormat && (frameId - m_config.firstFrameId) % 2 == 1) {
        return *m_alternateFormat;
    }
    BufferFormat own;
    own.given = m_nPixelFormatCode != 0;
    own.code = m_nPixelFormatCode;
    return own;
}

void SimCtiCamera::writeDescriptionFile() {
    auto folder = std::make_unique<QTemporaryDir>();
    if (!folder->isValid()) {
        return;
    }
    QFile file(folder->filePath(QString::fromStdString(descriptionFileName())));
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(m_descriptionFile.data(), static_cast<qint64>(m_descriptionFile.size())) !=
            static_cast<qint64>(m_descriptionFile.size())) {
        return;
    }
    m_descriptionPath = file.fileName().toStdString();
    m_folder = std::move(folder);
}

std::string SimCtiCamera::descriptionFileName() const {
    return m_bZipped ? "vxcam-sim.zip" : "vxcam-sim.xml";
}

std::string SimCtiCamera::descriptionUrl() const {
    if (!descriptionInPort()) {
        // "File:///" and the absolute path, without its leading slash, percent-encoded.
        return "File:///" +
               QString::fromStdString(m_descriptionPath).mid(1).toUtf8().toPercentEncoding("/").toStdString();
    }
    std::ostringstream out;
    out << "Local:" << descriptionFileName() << ";" << std::hex << reg::kDescription << ";" << m_descriptionFile.size();
    return out.str();
}

uint64_t SimCtiCamera::nowNs() const noexcept {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - m_powerOn).count());
}

const std::vector<unsigned char>& SimCtiCamera::picture() {
    std::call_once(m_pictureOnce, [this] {
        try {
            m_picture.assign(m_nPayloadSize, 0);
            static_cast<void>(sim::renderColourBars(m_config.pixelFormat, m_config.width, m_config.height,
                                                    m_picture.data(), m_picture.size()));
        } catch (const std::bad_alloc&) {
            m_picture = {}; // frames arrive failed, as the "sim" transport's do
        }
    });
    return m_picture;
}

SimCtiCamera::Presence SimCtiCamera::presence(const std::string& feature) const {
    if (listed(m_config.absent, feature)) {
        return Presence::Absent;
    }
    if (listed(m_config.unavailable, feature)) {
        return Presence::NotAvailable;
    }
    if (listed(m_config.readOnly, feature)) {
        return Presence::ReadOnly;
    }
    return Presence::Writable;
}

std::vector<unsigned char> SimCtiCamera::registerBlock() const {
    std::vector<unsigned char> block(reg::kRegistersEnd, 0);
    putLittleEndian(block, reg::kWidth, m_config.width, 4);
    putLittleEndian(block, reg::kHeight, m_config.height, 4);
    putLittleEndian(block, reg::kPayloadSize, m_nPayloadSize, 8);
    putLittleEndian(block, reg::kPixelFormat, m_nPixelFormatCode, 4);
    putLittleEndian(block, reg::kTriggerMode, trigger.on ? 1 : 0, 4);
    const auto& sources = m_config.triggerSources;
    const auto source = std::find(sources.begin(), sources.end(), trigger.source);
    putLittleEndian(block, reg::kTriggerSource, static_cast<uint64_t>(source - sources.begin()), 4);
    uint64_t exposureBits = 0;
    std::memcpy(&exposureBits, &m_exposure, sizeof exposureBits);
    putLittleEndian(block, reg::kExposure, exposureBits, 8);
    putText(block, reg::kVendorName, kVendor);
    putText(block, reg::kModelName, m_config.model);
    putText(block, reg::kSerialNumber, m_config.serial);
    return block;
}

GC_ERROR SimCtiCamera::readPort(uint64_t address, void* buffer, size_t size) {
    if (size == 0) {
        return GC_ERR_SUCCESS;
    }
    if (buffer == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no buffer to read into");
    }
    const auto inside = [&](uint64_t begin, uint64_t end) {
        return address >= begin && address <= end && size <= end - address;
    };
    if (descriptionInPort() && inside(reg::kDescription, reg::kDescription + m_descriptionFile.size())) {
        std::memcpy(buffer, m_descriptionFile.data() + (address - reg::kDescription), size);
        return GC_ERR_SUCCESS;
    }
    if (inside(0, reg::kRegistersEnd)) {
        std::vector<unsigned char> block;
        {
            const std::lock_guard lock(mutex);
            block = registerBlock();
        }
        std::memcpy(buffer, block.data() + address, size);
        return GC_ERR_SUCCESS;
    }
    return fail(GC_ERR_INVALID_ADDRESS, "no register at " + hex(address) + " for " + std::to_string(size) + " bytes");
}

GC_ERROR SimCtiCamera::writePort(uint64_t address, const void* data, size_t size) {
    if (data == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no data to write");
    }
    return writeRegister(address, static_cast<const unsigned char*>(data), size);
}

GC_ERROR SimCtiCamera::writeRegister(uint64_t address, const unsigned char* data, size_t size) {
    struct Writable {
        uint64_t address;
        size_t size;
        const char* feature;
    };
    const std::string& exposureName = m_config.exposure.feature;
    const Writable registers[] = {
        {reg::kTriggerMode, 4, "TriggerMode"},         {reg::kTriggerSource, 4, "TriggerSource"},
        {reg::kTriggerSoftware, 4, "TriggerSoftware"}, {reg::kAcquisitionStart, 4, "AcquisitionStart"},
        {reg::kAcquisitionStop, 4, "AcquisitionStop"}, {reg::kAcquisitionAbort, 4, "AcquisitionAbort"},
        {reg::kExposure, 8, exposureName.c_str()},
    };
    const Writable* target = nullptr;
    for (const Writable& candidate : registers) {
        if (candidate.address == address) {
            target = &candidate;
        }
    }
    if (target == nullptr) {
        const bool known = address < reg::kRegistersEnd || (descriptionInPort() && address >= reg::kDescription &&
                                                            address < reg::kDescription + m_descriptionFile.size());
        return known ? fail(GC_ERR_ACCESS_DENIED, "the register at " + hex(address) + " is read-only")
                     : fail(GC_ERR_INVALID_ADDRESS, "no register at " + hex(address));
    }
    if (size != target->size) {
        return fail(GC_ERR_INVALID_PARAMETER, std::string(target->feature) + " takes " + std::to_string(target->size) +
                                                  " bytes, not " + std::to_string(size));
    }
    switch (presence(target->feature)) {
    case Presence::Absent:
        return fail(GC_ERR_INVALID_ADDRESS, std::string("this camera has no ") + target->feature);
    case Presence::NotAvailable:
        return fail(GC_ERR_ACCESS_DENIED, std::string(target->feature) + " is not available now");
    case Presence::ReadOnly:
        return fail(GC_ERR_ACCESS_DENIED, std::string(target->feature) + " is read-only");
    case Presence::Writable:
        break;
    }
    const uint64_t value = readLittleEndian(data, size);
    const std::lock_guard lock(mutex);
    switch (address) {
    case reg::kTriggerMode:
        if (value > 1) {
            return fail(GC_ERR_INVALID_VALUE, "TriggerMode takes 0 (Off) or 1 (On), not " + std::to_string(value));
        }
        trigger.on = value == 1;
        break;
    case reg::kTriggerSource:
        if (value >= m_config.triggerSources.size()) {
            return fail(GC_ERR_INVALID_VALUE, "TriggerSource has no entry " + std::to_string(value));
        }
        trigger.source = m_config.triggerSources[value];
        break;
    case reg::kTriggerSoftware:
        // A software trigger counts only while the camera waits for one: running, trigger on, software source.
        if (trigger.running && trigger.on && softwareSource()) {
            ++trigger.softwareTriggers;
            wake.notify_all();
        }
        return GC_ERR_SUCCESS;
    case reg::kAcquisitionStart:
        trigger.running = true;
        break;
    case reg::kAcquisitionStop:
    case reg::kAcquisitionAbort:
        trigger.running = false;
        break;
    case reg::kExposure: {
        double exposure = 0.0;
        std::memcpy(&exposure, &value, sizeof exposure);
        // The camera refuses what it cannot do, NaN included, and keeps its value.
        if (!(exposure >= m_config.exposure.min && exposure <= m_config.exposure.max)) {
            return fail(GC_ERR_INVALID_VALUE, exposureName + " out of range");
        }
        m_exposure = exposure;
        return GC_ERR_SUCCESS; // no clock's schedule changes
    }
    default:
        break;
    }
    changed();
    return GC_ERR_SUCCESS;
}

void SimCtiCamera::changed() {
    ++trigger.generation;
    wake.notify_all();
}

} // namespace sdk::simcti
