#include "sdk/gentl/sim-cti/SimCtiZip.h"

#include "sdk/gentl/ZipCrc.h"

#include <QByteArray>

#include <cstdint>

namespace sdk::simcti {
namespace {

constexpr uint16_t kDeflated = 8;
constexpr uint16_t kVersion = 20; // 2.0: deflate

void put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFFU);
    out += static_cast<char>((value >> 8U) & 0xFFU);
}

void put32(std::string& out, uint32_t value) {
    put16(out, value & 0xFFFFU);
    put16(out, value >> 16U);
}

// The raw deflate stream of `content`: Qt's compression gives a four-byte length, then a zlib stream (two bytes
// of header, the deflate data, four bytes of checksum).
std::string deflated(const std::string& content) {
    const QByteArray zlib = qCompress(QByteArray::fromStdString(content), 9);
    constexpr int kPrefix = 4 + 2;
    constexpr int kSuffix = 4;
    return zlib.mid(kPrefix, zlib.size() - kPrefix - kSuffix).toStdString();
}

// The fields local header and central directory entry share, from "version needed" to the name's length.
void putCommon(std::string& out, uint32_t crc, uint32_t packed, uint32_t plain, const std::string& name) {
    put16(out, kVersion);
    put16(out, 0); // flags
    put16(out, kDeflated);
    put16(out, 0);      // time
    put16(out, 0x21);   // date: 1980-01-01
    put32(out, crc);    //
    put32(out, packed); //
    put32(out, plain);  //
    put16(out, static_cast<uint32_t>(name.size()));
    put16(out, 0); // extra field
}

} // namespace

std::string zipOneFile(const std::string& name, const std::string& content) {
    const std::string data = deflated(content);
    const uint32_t crc = gentl::zipCrc32(content);
    const auto packed = static_cast<uint32_t>(data.size());
    const auto plain = static_cast<uint32_t>(content.size());

    std::string zip;
    put32(zip, 0x04034B50U); // local file header
    putCommon(zip, crc, packed, plain, name);
    zip += name;
    zip += data;

    const auto directory = static_cast<uint32_t>(zip.size());
    put32(zip, 0x02014B50U); // central directory entry
    put16(zip, kVersion);    // made by
    putCommon(zip, crc, packed, plain, name);
    put16(zip, 0); // comment
    put16(zip, 0); // disk
    put16(zip, 0); // internal attributes
    put32(zip, 0); // external attributes
    put32(zip, 0); // the local header's offset
    zip += name;
    const auto directorySize = static_cast<uint32_t>(zip.size()) - directory;

    put32(zip, 0x06054B50U); // end of central directory
    put16(zip, 0);           // this disk
    put16(zip, 0);           // the directory's disk
    put16(zip, 1);           // entries here
    put16(zip, 1);           // entries in all
    put32(zip, directorySize);
    put32(zip, directory);
    put16(zip, 0); // comment
    return zip;
}

} // namespace sdk::simcti
