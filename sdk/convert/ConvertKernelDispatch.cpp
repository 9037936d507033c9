#include "sdk/convert/ConvertKernelIsa.h"
#include "sdk/convert/ConvertSamples.h"
#include "sdk/convert/ConvertYuv.h"

namespace sdk::convert {

bool kernelsUseAvx2() noexcept {
#if VXCAM_KERNELS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    return avx2;
#else
    return false;
#endif
}

#if VXCAM_KERNELS_AVX2
#define VXCAM_DISPATCH(call) (kernelsUseAvx2() ? avx2::call : baseline::call)
#else
#define VXCAM_DISPATCH(call) baseline::call
#endif

void samplesToBytes(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                    std::size_t count) noexcept {
    VXCAM_DISPATCH(samplesToBytes(coding, significantBits, in, out, count));
}

void samplesToGreyBgr(core::SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                      std::size_t count) noexcept {
    VXCAM_DISPATCH(samplesToGreyBgr(coding, significantBits, in, out, count));
}

void yuv444ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept {
    VXCAM_DISPATCH(yuv444ToBgr(in, out, pixels));
}

void yuv411ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept {
    VXCAM_DISPATCH(yuv411ToBgr(in, out, pixels));
}

} // namespace sdk::convert
