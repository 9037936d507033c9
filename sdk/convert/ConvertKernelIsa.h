// The kernels of ConvertSamples.h and ConvertYuv.h exist once per instruction set: compiled for the baseline
// and, on x86-64, again with AVX2, each copy in a namespace of its own. The entry points pick the widest copy
// the processor runs. Tests call the copies directly to hold them to the same results.
#pragma once

#include "sdk/core/PixelFormats.h"

#include <cstddef>
#include <cstdint>

// The namespace a kernel source compiles into; the build defines it for the wider copies.
#ifndef VXCAM_KERNEL_ISA
#define VXCAM_KERNEL_ISA baseline
#endif

namespace sdk::convert {

// Whether the AVX2 copies are built in and this processor runs them. Thread-safe.
[[nodiscard]] bool kernelsUseAvx2() noexcept;

#define VXCAM_DECLARE_KERNELS(isa)                                                                                     \
    namespace isa {                                                                                                    \
    void samplesToBytes(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in,                  \
                        unsigned char* out, std::size_t count) noexcept;                                               \
    void samplesToGreyBgr(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in,                \
                          unsigned char* out, std::size_t count) noexcept;                                             \
    void yuv444ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept;                        \
    void yuv411ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept;                        \
    }

VXCAM_DECLARE_KERNELS(baseline)
#if VXCAM_KERNELS_AVX2
VXCAM_DECLARE_KERNELS(avx2)
#endif

#undef VXCAM_DECLARE_KERNELS

} // namespace sdk::convert
