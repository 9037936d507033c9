// The largest frame the SDK layer gives memory to. A camera, simulated or real, may announce a frame that no
// buffer can hold (65535 x 65535 RGB8 is 12 GiB, and a stream takes several buffers): such a frame is refused
// by its size when the camera is configured or its buffers are announced, instead of failing at an allocation
// deep inside a grab or making the kernel end the process.
#pragma once

#include "sdk/SdkExport.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sdk::core {

// Bytes of the largest frame: far above any machine-vision sensor (a 150-megapixel camera at 16 bits a pixel
// sends 300 MB), well below what a stream of eight buffers may ask of a workstation.
inline constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 30U;

// "12884508675 bytes (12.0 GiB)": a size as the refusals name it.
[[nodiscard]] VXSDK_API std::string describeBytes(uint64_t bytes);

// Why a frame of `bytes` cannot be had, or nothing when it can. `what` names the frame in the message
// ("a 65535 x 65535 RGB8 frame"). The same answer on every machine.
[[nodiscard]] VXSDK_API std::optional<std::string> frameSizeRefusal(uint64_t bytes, const std::string& what);

// frameSizeRefusal, and on this machine: a stream holds several buffers (the driver eight), so one buffer may
// take at most an eighth of the machine's memory. Past that the pool would be killed by the kernel while frames
// fill it, long after the camera opened.
[[nodiscard]] VXSDK_API std::optional<std::string> bufferSizeRefusal(uint64_t bytes, const std::string& what);

} // namespace sdk::core
