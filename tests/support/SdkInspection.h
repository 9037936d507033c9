// Looks into the simulated SDK session from the test's side (the module shares it), to see what the driver
// left behind: open states, buffer lists.
#pragma once

#include "sdk/Sdk.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxcam::test {

// Every device of the session, in walk order (systems, interfaces, devices), each list refreshed once; nothing is
// opened.
std::vector<sdk::Device*> allDevices();

// Every device of the session with the serial, in walk order; nothing is opened.
std::vector<sdk::Device*> devicesWithSerial(const std::string& serial);

// Sizes of the device's streams' buffer lists. Opens the device for the look if it is closed, and closes it again.
std::vector<uint64_t> bufferListSizes(sdk::Device* device);

// Returns once no buffer of the device's streams is in flight (delivered or being freed on a delivery
// thread), by stopping each stream; opens the device for it if it is closed, and closes it again.
void awaitStreamsIdle(sdk::Device* device);

// Heap bytes in use by the process, as the allocator in force counts them.
uint64_t heapBytesInUse();

} // namespace vxcam::test
