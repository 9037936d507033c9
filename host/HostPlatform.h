// The tool's only contact with the operating system beyond Qt: is a stream a terminal, and Ctrl-C.
#pragma once

#include <cstdio>

namespace vxcam::host::platform {

// True when `stream` is an interactive terminal rather than a file or a pipe.
[[nodiscard]] bool isTerminal(std::FILE* stream) noexcept;

// From now on the first Ctrl-C only raises the flag that interrupted() reads, so that a running grab can stop
// the camera and report; a second Ctrl-C ends the process as usual.
void catchInterrupt() noexcept;
// Thread-safe.
[[nodiscard]] bool interrupted() noexcept;

} // namespace vxcam::host::platform
