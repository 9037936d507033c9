// Compiled once per instruction set (see ConvertKernelIsa.h); the vector width follows the compiler's target.
#include "sdk/convert/ConvertKernelIsa.h"

#if defined(__AVX2__)
// The wider copy switches on OpenCV's CV_<set> flags, under which its headers expect the compiler's intrinsics.
#include <immintrin.h>
#endif

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <array>
#include <cstring>

// The containers are little-endian and so is every machine this library is built for (x86-64, AArch64):
// a 16-bit lane loaded from them holds the sample's value.

namespace sdk::convert::VXCAM_KERNEL_ISA {
namespace {

using core::SampleCoding;

// Samples decoded on the stack before they are spread into grey pixels; a multiple of every packed group.
constexpr std::size_t kChunkSamples = 1024;

unsigned char word16Top8(const unsigned char* in, unsigned shift) noexcept {
    const unsigned value = static_cast<unsigned>(in[0]) | (static_cast<unsigned>(in[1]) << 8U);
    return static_cast<unsigned char>(std::min(value >> shift, 255U));
}

#if CV_SIMD
constexpr std::size_t kBytesPerVector = cv::v_uint8::nlanes;

// One vector of 16-bit samples from `in`, shifted down and saturated to bytes.
cv::v_uint8 loadWord16Top8(const unsigned char* in, int shift) noexcept {
    const cv::v_uint16 low = cv::v_reinterpret_as_u16(cv::vx_load(in)) >> shift;
    const cv::v_uint16 high = cv::v_reinterpret_as_u16(cv::vx_load(in + kBytesPerVector)) >> shift;
    return cv::v_pack(low, high);
}
#endif

void word16ToBytes(const unsigned char* in, unsigned char* out, std::size_t count, unsigned shift) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    for (; i + kBytesPerVector <= count; i += kBytesPerVector) {
        cv::v_store(out + i, loadWord16Top8(in + 2 * i, static_cast<int>(shift)));
    }
#endif
    for (; i < count; ++i) {
        out[i] = word16Top8(in + 2 * i, shift);
    }
}

void word16ToGreyBgr(const unsigned char* in, unsigned char* out, std::size_t count, unsigned shift) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    for (; i + kBytesPerVector <= count; i += kBytesPerVector) {
        const cv::v_uint8 grey = loadWord16Top8(in + 2 * i, static_cast<int>(shift));
        cv::v_store_interleave(out + 3 * i, grey, grey, grey);
    }
#endif
    for (; i < count; ++i) {
        const unsigned char grey = word16Top8(in + 2 * i, shift);
        out[3 * i] = grey;
        out[3 * i + 1] = grey;
        out[3 * i + 2] = grey;
    }
}

// Four samples in five bytes, bit 0 of sample 0 in bit 0 of byte 0; a sample's top eight bits are its bits 9..2,
// which start at bit 10k + 2 of the group: bytes (0, 1), (1, 2), (2, 3) shifted by 2, 4, 6, and byte 4 as it is.
void packed10ToBytesScalar(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; i += 4, in += 5, out += 4) {
        out[0] = static_cast<unsigned char>((in[0] >> 2U) | (in[1] << 6U));
        out[1] = static_cast<unsigned char>((in[1] >> 4U) | (in[2] << 4U));
        out[2] = static_cast<unsigned char>((in[2] >> 6U) | (in[3] << 2U));
        out[3] = in[4];
    }
}

#if defined(__AVX2__)
// Eight samples (ten bytes) per 128-bit lane: a byte shuffle puts each sample's two bytes into a 16-bit lane, a
// multiply by 2^(8 - shift) lifts the wanted eight bits into the lane's high byte, and a pack keeps those.
__m256i packed10TopBits(const unsigned char* in) noexcept {
    // Ten bytes each; the loads read sixteen, within the frame (see the loop bound below).
    const __m256i bytes =
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in))),
                                _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 10)), 1);
    const __m256i pairs = _mm256_shuffle_epi8(bytes, _mm256_setr_epi8(0, 1, 1, 2, 2, 3, 4, 5, 5, 6, 6, 7, 7, 8, 9, 10,
                                                                      0, 1, 1, 2, 2, 3, 4, 5, 5, 6, 6, 7, 7, 8, 9, 10));
    const __m256i lifted =
        _mm256_mullo_epi16(pairs, _mm256_setr_epi16(64, 16, 4, 256, 64, 16, 4, 256, 64, 16, 4, 256, 64, 16, 4, 256));
    return _mm256_srli_epi16(lifted, 8);
}
#endif

void packed10ToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if defined(__AVX2__)
    // 32 samples (40 bytes) per step; the last load of a step reads 6 bytes past the step, so the loop stops
    // while at least 8 more samples (10 bytes) follow.
    for (; i + 40 <= count; i += 32, in += 40, out += 32) {
        const __m256i first = packed10TopBits(in);       // samples 0..7 | 8..15
        const __m256i second = packed10TopBits(in + 20); // samples 16..23 | 24..31
        // The pack works per 128-bit lane: 0..7, 16..23, 8..15, 24..31; the permute puts them in order.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(first, second), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), packed);
    }
#endif
    packed10ToBytesScalar(in, out, count - i);
}

// Two samples in three bytes, least significant bit first: byte 1 holds sample 0's bits 11..8 in its low nibble
// and sample 1's bits 3..0 in its high nibble.
void packed12LsbToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    // Byte triples deinterleaved: sample 0's top bits straddle bytes 0 and 1, computed in 16-bit lanes.
    for (; i + 2 * kBytesPerVector <= count;
         i += 2 * kBytesPerVector, in += 3 * kBytesPerVector, out += 2 * kBytesPerVector) {
        cv::v_uint8 low;
        cv::v_uint8 middle;
        cv::v_uint8 high;
        cv::v_load_deinterleave(in, low, middle, high);
        cv::v_uint16 low0;
        cv::v_uint16 low1;
        cv::v_uint16 middle0;
        cv::v_uint16 middle1;
        cv::v_expand(low, low0, low1);
        cv::v_expand(middle, middle0, middle1);
        const cv::v_uint16 mask = cv::vx_setall_u16(0xFF);
        const cv::v_uint8 first =
            cv::v_pack((low0 >> 4) | ((middle0 << 4) & mask), (low1 >> 4) | ((middle1 << 4) & mask));
        cv::v_store_interleave(out, first, high);
    }
#endif
    for (; i < count; i += 2, in += 3, out += 2) {
        out[0] = static_cast<unsigned char>((in[0] >> 4U) | (in[1] << 4U));
        out[1] = in[2];
    }
}

// Two samples in three bytes, bytes 0 and 2 holding the samples' top eight bits (bits 11..4 of "12Packed", bits
// 9..2 of "10Packed"): the top eight bits are those bytes.
void packedPairsToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    for (; i + 2 * kBytesPerVector <= count;
         i += 2 * kBytesPerVector, in += 3 * kBytesPerVector, out += 2 * kBytesPerVector) {
        cv::v_uint8 first;
        cv::v_uint8 nibbles;
        cv::v_uint8 second;
        cv::v_load_deinterleave(in, first, nibbles, second);
        cv::v_store_interleave(out, first, second);
    }
#endif
    for (; i < count; i += 2, in += 3, out += 2) {
        out[0] = in[0];
        out[1] = in[2];
    }
}

// Bytes of `count` samples in a packed coding.
std::size_t packedBytes(SampleCoding coding, std::size_t count) noexcept {
    return coding == SampleCoding::Packed10Lsb ? count / 4 * 5 : count / 2 * 3;
}

void packedToBytes(SampleCoding coding, const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    switch (coding) {
    case SampleCoding::Packed10Lsb:
        packed10ToBytes(in, out, count);
        break;
    case SampleCoding::Packed12Lsb:
        packed12LsbToBytes(in, out, count);
        break;
    case SampleCoding::Packed12Nibs:
    case SampleCoding::Packed10Pairs:
        packedPairsToBytes(in, out, count);
        break;
    case SampleCoding::Byte:
    case SampleCoding::Word16:
        break;
    }
}

void bytesToGreyBgr(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    for (; i + kBytesPerVector <= count; i += kBytesPerVector) {
        const cv::v_uint8 grey = cv::vx_load(in + i);
        cv::v_store_interleave(out + 3 * i, grey, grey, grey);
    }
#endif
    for (; i < count; ++i) {
        out[3 * i] = in[i];
        out[3 * i + 1] = in[i];
        out[3 * i + 2] = in[i];
    }
}

} // namespace

void samplesToBytes(SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                    std::size_t count) noexcept {
    switch (coding) {
    case SampleCoding::Byte:
        std::memcpy(out, in, count);
        break;
    case SampleCoding::Word16:
        word16ToBytes(in, out, count, significantBits - 8);
        break;
    case SampleCoding::Packed10Lsb:
    case SampleCoding::Packed12Lsb:
    case SampleCoding::Packed12Nibs:
    case SampleCoding::Packed10Pairs:
        packedToBytes(coding, in, out, count);
        break;
    }
}

void samplesToGreyBgr(SampleCoding coding, uint32_t significantBits, const unsigned char* in, unsigned char* out,
                      std::size_t count) noexcept {
    switch (coding) {
    case SampleCoding::Byte:
        bytesToGreyBgr(in, out, count);
        break;
    case SampleCoding::Word16:
        word16ToGreyBgr(in, out, count, significantBits - 8);
        break;
    case SampleCoding::Packed10Lsb:
    case SampleCoding::Packed12Lsb:
    case SampleCoding::Packed12Nibs:
    case SampleCoding::Packed10Pairs: {
        std::array<unsigned char, kChunkSamples> grey; // every byte used is written first
        for (std::size_t done = 0; done < count; done += kChunkSamples) {
            const std::size_t n = std::min(kChunkSamples, count - done);
            packedToBytes(coding, in + packedBytes(coding, done), grey.data(), n);
            bytesToGreyBgr(grey.data(), out + 3 * done, n);
        }
        break;
    }
    }
}

} // namespace sdk::convert::VXCAM_KERNEL_ISA
