// The "gentl" transport: every GenTL producer library (.cti) that VXCAM_GENTL_CTI names (files, separated as
// in PATH), or else that the folders of GENICAM_GENTL64_PATH hold, each as one system. Built only when
// VXCAM_TRANSPORTS names it: a maker's producer may reach cameras on any interface, which a host asks for.
//
// A producer that cannot be loaded, lacks functions, or refuses to open its system is left out with one warning
// saying which file and why; the other producers are offered all the same.
#include "sdk/core/Producer.h"
#include "sdk/gentl/GentlAnswers.h"
#include "sdk/gentl/GentlError.h"
#include "sdk/gentl/GentlObjects.h"

#include <QDir>
#include <QFileInfo>

#include <array>

namespace sdk::gentl {
namespace {

QStringList producerFiles() {
    const QString named = qEnvironmentVariable("VXCAM_GENTL_CTI");
    if (!named.isEmpty()) {
        return named.split(QDir::listSeparator(), Qt::SkipEmptyParts);
    }
    QStringList files;
    const QStringList folders =
        qEnvironmentVariable("GENICAM_GENTL64_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts);
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.cti")}, QDir::Files, QDir::Name)) {
            files << dir.filePath(name);
        }
    }
    return files;
}

std::string systemText(const GentlLibrary& library, TL_HANDLE system, TL_INFO_CMD command) {
    std::array<char, 256> text{};
    size_t size = text.size();
    INFO_DATATYPE type = INFO_DATATYPE_UNKNOWN;
    if (library.fn().TLGetInfo(system, command, &type, text.data(), &size) != GC_ERR_SUCCESS) {
        return {};
    }
    return producerText(text.data(), text.size(), size).value_or(std::string());
}

class GentlProducer final : public core::Producer {
public:
    explicit GentlProducer(core::CallGate& gate) {
        const QStringList files = producerFiles();
        if (files.isEmpty()) {
            qCWarning(lcGentl()) << "no GenTL producer found: neither VXCAM_GENTL_CTI nor the folders of "
                                    "GENICAM_GENTL64_PATH name a .cti file";
        }
        for (const QString& file : files) {
            addProducer(gate, file);
        }
    }

    std::vector<std::pair<std::string, System*>> systems() override {
        std::vector<std::pair<std::string, System*>> result;
        for (const auto& [id, system] : m_systems) {
            result.emplace_back(id, system.get());
        }
        return result;
    }

private:
    void addProducer(core::CallGate& gate, const QString& file) {
        std::string error;
        std::shared_ptr<GentlLibrary> library = GentlLibrary::load(file, error);
        if (library == nullptr) {
            qCWarning(lcGentl()).noquote()
                << "GenTL producer" << file << "cannot be used -" << QString::fromStdString(error);
            return;
        }
        TL_HANDLE system = nullptr;
        if (const GC_ERROR code = library->fn().TLOpen(&system)) {
            qCWarning(lcGentl()).noquote() << "GenTL producer" << file << "does not open its system -"
                                           << QString::fromStdString(library->lastError(code));
            return;
        }
        if (system == nullptr) {
            qCWarning(lcGentl()).noquote()
                << "GenTL producer" << file << "cannot be used - TLOpen reported success without a handle";
            return;
        }
        // The file's name tells systems apart (two makers may give the same system ID); a second file of the
        // same name gets a number.
        std::string id = QFileInfo(file).completeBaseName().toStdString();
        for (int n = 2; std::any_of(m_systems.begin(), m_systems.end(), [&](const auto& s) { return s.first == id; });
             ++n) {
            id = QFileInfo(file).completeBaseName().toStdString() + "-" + std::to_string(n);
        }
        std::string tlType = systemText(*library, system, TL_INFO_TLTYPE);
        m_systems.emplace_back(
            id, std::make_unique<GentlSystem>(gate, std::move(library), system, id, tlType.empty() ? "GenTL" : tlType));
    }

    std::vector<std::pair<std::string, std::unique_ptr<GentlSystem>>> m_systems;
};

std::unique_ptr<core::Producer> makeProducer(core::CallGate& gate) {
    return std::make_unique<GentlProducer>(gate);
}

// Runs while the library loads, where an exception could not be caught: a failed registration (no memory)
// leaves the transport unknown instead.
bool registerTransport() noexcept {
    try {
        return core::registerProducer("gentl", &makeProducer);
    } catch (...) {
        return false;
    }
}

const bool g_registered = registerTransport();

} // namespace
} // namespace sdk::gentl
