// A GenTL device's GenICam description, fetched from where its port's URL says: the port's own registers
// ("Local:name;address;length"), or a file ("File:"); a name ending in ".zip" is an archive, unpacked here. A web
// address ("http:") cannot be fetched offline and is refused with what it is.
//
// Everything a producer gives here is untrusted: an archive is checked whole (every header and size within its
// bytes, the unpacked file against its checksum) before Aravis's unzip touches it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sdk::gentl {

// Reads `length` bytes at `address` of the device's port into `bytes`; false, with `error` saying why, when the
// port refuses.
using PortRead = std::function<bool(uint64_t address, uint64_t length, std::string& bytes, std::string& error)>;

// The description the URL names; nothing, with `error` saying why, when it cannot be had.
[[nodiscard]] std::optional<std::string> fetchDescription(const std::string& url, const PortRead& read,
                                                          std::string& error);

// The description a zip archive holds: its first file whose name ends in ".xml"; nothing, with `error` saying
// why, for an archive that is damaged, holds no such file or one too big.
[[nodiscard]] std::optional<std::string> unzipDescription(std::string_view archive, std::string& error);

// The most a description may take, packed or not: far beyond any camera's, small enough for any host.
inline constexpr uint64_t kMaxDescriptionSize = uint64_t{64} << 20U;

} // namespace sdk::gentl
