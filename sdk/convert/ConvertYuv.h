// Our own kernels for the YUV layouts OpenCV has no decoder for: 4:1:1 (U Y Y V Y Y) and 4:4:4 (U Y V).
//
// Every YUV format of the SDK is decoded with ITU-R BT.601 in limited range (Y 16..235, U and V 16..240 around
// 128), the convention of OpenCV's 4:2:2 decoders that handle the other two layouts, so that one camera gives the
// same colours whichever YUV layout it sends:
//   R = 1.164 (Y - 16) + 1.596 (V - 128)
//   G = 1.164 (Y - 16) - 0.392 (U - 128) - 0.813 (V - 128)
//   B = 1.164 (Y - 16) + 2.017 (U - 128)
// computed in 16-bit fixed point with six fractional bits, rounded to nearest and saturated to 0..255. Each call
// runs the widest copy of the kernel the processor supports (ConvertKernelIsa.h).
#pragma once

#include <cstddef>

namespace sdk::convert {

// `pixels` pixels of U Y V bytes into B G R bytes. Thread-safe.
void yuv444ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept;

// `pixels` pixels (a multiple of 4) of U Y0 Y1 V Y2 Y3 groups into B G R bytes. Thread-safe.
void yuv411ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept;

} // namespace sdk::convert
