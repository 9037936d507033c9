// A device of Aravis whose register and memory accesses go to a GenTL port (GCReadPort, GCWritePort), so that
// Aravis's GenICam tree evaluates a GenTL device's own description: every feature type, selector, formula and
// access mode as a GenApi evaluator does, with no evaluation code of ours. It has no stream: frames come
// through the GenTL data streams.
#pragma once

#include "sdk/gentl/GentlFunctions.h"

#include <arv.h>

#include <memory>
#include <string>

namespace sdk::gentl {

// Makes the device for `port` of `library` over `description` (the GenICam XML read from the port). The device
// keeps the library alive; the port must stay open while the device lives. Null, with `error` set, when Aravis
// cannot read the description. The caller owns the reference.
ArvDevice* newPortDevice(std::shared_ptr<const GentlLibrary> library, PORT_HANDLE port, const std::string& description,
                         std::string& error);

} // namespace sdk::gentl
