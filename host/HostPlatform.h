// The tool's only contact with the operating system beyond Qt: is a stream a terminal, and Ctrl-C or a
// termination request.
#pragma once

#include <cstdio>

namespace vxcam::host::platform {

// True when a window can be shown: a display is named, or Qt is told which platform to use.
[[nodiscard]] bool hasDisplay() noexcept;

// True when `stream` is an interactive terminal rather than a file or a pipe.
[[nodiscard]] bool isTerminal(std::FILE* stream) noexcept;

// From now on the first Ctrl-C (SIGINT) or termination request (SIGTERM) only raises the flag that
// interrupted() reads, so that a running grab can stop the camera and report; a second one ends the process as
// usual.
void catchInterrupt() noexcept;
// Thread-safe.
[[nodiscard]] bool interrupted() noexcept;

} // namespace vxcam::host::platform
