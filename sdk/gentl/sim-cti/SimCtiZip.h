// A zip archive of one file, as camera makers ship GenICam descriptions: the file deflated, with the archive's
// local header, central directory and end record.
#pragma once

#include <string>

namespace sdk::simcti {

[[nodiscard]] std::string zipOneFile(const std::string& name, const std::string& content);

} // namespace sdk::simcti
