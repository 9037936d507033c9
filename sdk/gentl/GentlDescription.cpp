#include "sdk/gentl/GentlDescription.h"

#include "sdk/gentl/ZipCrc.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <arv.h>

#include <memory>
#include <vector>

namespace sdk::gentl {
namespace {

uint32_t le16(std::string_view data, size_t at) {
    return static_cast<unsigned char>(data[at]) |
           (static_cast<uint32_t>(static_cast<unsigned char>(data[at + 1])) << 8U);
}

uint32_t le32(std::string_view data, size_t at) {
    return le16(data, at) | (le16(data, at + 2) << 16U);
}

constexpr uint32_t kEndSignature = 0x06054B50U;
constexpr uint32_t kEntrySignature = 0x02014B50U;
constexpr uint32_t kLocalSignature = 0x04034B50U;
constexpr size_t kEndSize = 22;
constexpr size_t kEntrySize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxComment = 0xFFFF;

struct ArchiveFile {
    std::string name;
    uint32_t crc = 0;
    uint32_t unpackedSize = 0;
};

// Every file of the archive, once each of its headers and its data lie within the archive's bytes, with a
// method Aravis unpacks (stored or deflated); nothing, with `error` set, otherwise.
std::optional<std::vector<ArchiveFile>> listArchive(std::string_view zip, std::string& error) {
    if (zip.size() < kEndSize) {
        error = "is no zip archive (" + std::to_string(zip.size()) + " bytes)";
        return std::nullopt;
    }
    size_t end = zip.size() - kEndSize;
    const size_t lowest = end > kMaxComment ? end - kMaxComment : 0;
    while (le32(zip, end) != kEndSignature) {
        if (end == lowest) {
            error = "is no zip archive (no end record)";
            return std::nullopt;
        }
        --end;
    }
    const uint32_t count = le16(zip, end + 10);
    const uint64_t directorySize = le32(zip, end + 12);
    const uint64_t directory = le32(zip, end + 16);
    if (directory + directorySize > end) {
        error = "is a damaged zip archive (its directory lies outside it)";
        return std::nullopt;
    }
    std::vector<ArchiveFile> files;
    uint64_t at = directory;
    const uint64_t directoryEnd = directory + directorySize;
    for (uint32_t i = 0; i < count; ++i) {
        if (at + kEntrySize > directoryEnd || le32(zip, at) != kEntrySignature) {
            error = "is a damaged zip archive (directory entry " + std::to_string(i) + ")";
            return std::nullopt;
        }
        const uint32_t method = le16(zip, at + 10);
        ArchiveFile file;
        file.crc = le32(zip, at + 16);
        const uint64_t packedSize = le32(zip, at + 20);
        file.unpackedSize = le32(zip, at + 24);
        const uint64_t nameLength = le16(zip, at + 28);
        const uint64_t entryLength = kEntrySize + nameLength + le16(zip, at + 30) + le16(zip, at + 32);
        const uint64_t local = le32(zip, at + 42);
        if (at + entryLength > directoryEnd) {
            error = "is a damaged zip archive (directory entry " + std::to_string(i) + ")";
            return std::nullopt;
        }
        file.name = std::string(zip.substr(at + kEntrySize, nameLength));
        if (local + kLocalSize > directory || le32(zip, local) != kLocalSignature) {
            error = "is a damaged zip archive (the header of " + file.name + ")";
            return std::nullopt;
        }
        const uint64_t data = local + kLocalSize + le16(zip, local + 26) + le16(zip, local + 28);
        if (data + packedSize > directory) {
            error = "is a damaged zip archive (the data of " + file.name + " lies outside it)";
            return std::nullopt;
        }
        if (method != 0 && method != 8) {
            error = "packs " + file.name + " with method " + std::to_string(method) + ", not stored or deflated";
            return std::nullopt;
        }
        if (method == 0 && packedSize != file.unpackedSize) {
            error = "is a damaged zip archive (the sizes of " + file.name + ")";
            return std::nullopt;
        }
        files.push_back(std::move(file));
        at += entryLength;
    }
    return files;
}

bool endsWithXml(const std::string& name) {
    return QString::fromStdString(name).endsWith(QLatin1String(".xml"), Qt::CaseInsensitive);
}

std::optional<std::string> fail(std::string& error, std::string why) {
    error = std::move(why);
    return std::nullopt;
}

std::optional<std::string> unpackedIfZipped(const QString& name, std::string bytes, std::string& error) {
    if (!name.endsWith(QLatin1String(".zip"), Qt::CaseInsensitive)) {
        return bytes;
    }
    return unzipDescription(bytes, error);
}

} // namespace

std::optional<std::string> unzipDescription(std::string_view archive, std::string& error) {
    const std::optional<std::vector<ArchiveFile>> files = listArchive(archive, error);
    if (!files) {
        return std::nullopt;
    }
    const ArchiveFile* description = nullptr;
    std::string names;
    for (const ArchiveFile& file : *files) {
        names += (names.empty() ? "" : ", ") + file.name;
        if (description == nullptr && endsWithXml(file.name)) {
            description = &file;
        }
    }
    if (description == nullptr) {
        return fail(error,
                    "is a zip archive without an .xml file (it holds: " + (names.empty() ? "nothing" : names) + ")");
    }
    if (description->unpackedSize > kMaxDescriptionSize) {
        return fail(error, "holds " + description->name + " of " + std::to_string(description->unpackedSize) +
                               " bytes, more than a description may take");
    }
    const std::unique_ptr<ArvZip, decltype(&arv_zip_free)> zip(arv_zip_new(archive.data(), archive.size()),
                                                               &arv_zip_free);
    if (zip == nullptr) {
        return fail(error, "is a zip archive Aravis cannot read");
    }
    size_t size = 0;
    const std::unique_ptr<char, decltype(&g_free)> data(
        static_cast<char*>(arv_zip_get_file(zip.get(), description->name.c_str(), &size)), &g_free);
    if (data == nullptr && description->unpackedSize != 0) {
        return fail(error, "holds " + description->name + ", which cannot be unpacked");
    }
    std::string xml(data != nullptr ? data.get() : "", data != nullptr ? size : 0);
    if (xml.size() != description->unpackedSize || zipCrc32(xml) != description->crc) {
        return fail(error, "holds " + description->name + ", which unpacks damaged (size or checksum)");
    }
    return xml;
}

std::optional<std::string> fetchDescription(const std::string& url, const PortRead& read, std::string& error) {
    const QString text = QString::fromStdString(url);
    const QString location = text.section(QLatin1Char('?'), 0, 0); // without "?SchemaVersion=..."
    if (text.startsWith(QLatin1String("local:"), Qt::CaseInsensitive)) {
        // "Local:[///]name;address;length", hexadecimal numbers.
        const QStringList parts = location.mid(6).split(QLatin1Char(';'));
        bool addressOk = false;
        bool lengthOk = false;
        const uint64_t address = parts.size() == 3 ? parts[1].toULongLong(&addressOk, 16) : 0;
        const uint64_t length = parts.size() == 3 ? parts[2].toULongLong(&lengthOk, 16) : 0;
        if (!addressOk || !lengthOk || length == 0 || length > kMaxDescriptionSize) {
            return fail(error, "is no valid local address");
        }
        std::string bytes;
        if (!read(address, length, bytes, error)) {
            return std::nullopt;
        }
        bytes.resize(std::min<size_t>(bytes.size(), length));
        const bool zipped = parts[0].endsWith(QLatin1String(".zip"), Qt::CaseInsensitive);
        // Registers may hold padding after the document's end (an archive knows its own end).
        if (const size_t end = bytes.find('\0'); !zipped && end != std::string::npos) {
            bytes.resize(end);
        }
        return unpackedIfZipped(parts[0], std::move(bytes), error);
    }
    if (text.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        QString path = QUrl::fromPercentEncoding(location.mid(5).toUtf8());
        while (path.startsWith(QLatin1String("//"))) {
            path.remove(0, 1);
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(error, "cannot be read: " + file.errorString().toStdString());
        }
        if (static_cast<uint64_t>(file.size()) > kMaxDescriptionSize) {
            return fail(error, "is larger than a description may be");
        }
        return unpackedIfZipped(path, file.readAll().toStdString(), error);
    }
    if (text.startsWith(QLatin1String("http:"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("https:"), Qt::CaseInsensitive)) {
        return fail(error, "is a web address, which is not fetched: cameras are reached offline");
    }
    return fail(error, "is neither in the port (Local:) nor in a file (File:)");
}

} // namespace sdk::gentl
