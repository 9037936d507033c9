// Our own kernels for samples wider than a byte: the 16-bit containers and the packed codings, reduced to their
// top eight bits. OpenCV has no unpacker for the GenICam packings, so these stand where it has no kernel. Each
// call runs the widest copy of the kernel the processor supports (ConvertKernelIsa.h).
#pragma once

#include "sdk/core/PixelFormats.h"

#include <cstddef>

namespace sdk::convert {

// Writes the top eight bits of each of `count` samples, stored in `coding` with `significantBits` bits of value,
// one byte per sample. Values above the significant range saturate at 255. `in` holds at least the bytes that
// `count` samples take; for packed codings `count` is a multiple of the coding's group. Thread-safe.
void samplesToBytes(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                    std::size_t count) noexcept;

// As samplesToBytes, with each byte written three times: grey BGR pixels. Thread-safe.
void samplesToGreyBgr(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                      std::size_t count) noexcept;

} // namespace sdk::convert
