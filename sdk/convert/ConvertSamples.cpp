#include "sdk/convert/ConvertSamples.h"

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

// The containers are little-endian and so is every machine this library is built for (x86-64, AArch64):
// a 16-bit load gives the sample's value.

namespace sdk::convert {
namespace {

using core::SampleCoding;

// Samples decoded on the stack before they are spread into grey pixels; a multiple of every packed group.
constexpr std::size_t kChunkSamples = 1024;

unsigned char word16Top8(const unsigned char* in, unsigned shift) noexcept {
    const unsigned value = static_cast<unsigned>(in[0]) | (static_cast<unsigned>(in[1]) << 8U);
    return static_cast<unsigned char>(std::min(value >> shift, 255U));
}

#if CV_SIMD128
// Sixteen 16-bit samples from `in`, shifted down and saturated to bytes.
cv::v_uint8x16 loadWord16Top8(const unsigned char* in, int shift) noexcept {
    std::array<uint16_t, 16> words{};
    std::memcpy(words.data(), in, sizeof(words)); // the frame's memory need not be 2-byte aligned
    const cv::v_uint16x8 low = cv::v_load(words.data()) >> shift;
    const cv::v_uint16x8 high = cv::v_load(words.data() + 8) >> shift;
    return cv::v_pack(low, high);
}
#endif

void word16ToBytes(const unsigned char* in, unsigned char* out, std::size_t count, unsigned shift) noexcept {
    std::size_t i = 0;
#if CV_SIMD128
    for (; i + 16 <= count; i += 16) {
        cv::v_store(out + i, loadWord16Top8(in + 2 * i, static_cast<int>(shift)));
    }
#endif
    for (; i < count; ++i) {
        out[i] = word16Top8(in + 2 * i, shift);
    }
}

void word16ToGreyBgr(const unsigned char* in, unsigned char* out, std::size_t count, unsigned shift) noexcept {
    std::size_t i = 0;
#if CV_SIMD128
    for (; i + 16 <= count; i += 16) {
        const cv::v_uint8x16 grey = loadWord16Top8(in + 2 * i, static_cast<int>(shift));
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

// Four samples in five bytes, bit 0 of sample 0 in bit 0 of byte 0; a sample's top eight bits are its bits 9..2.
void packed10ToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; i += 4, in += 5, out += 4) {
        out[0] = static_cast<unsigned char>((in[0] >> 2U) | (in[1] << 6U));
        out[1] = static_cast<unsigned char>((in[1] >> 4U) | (in[2] << 4U));
        out[2] = static_cast<unsigned char>((in[2] >> 6U) | (in[3] << 2U));
        out[3] = in[4];
    }
}

// Two samples in three bytes, least significant bit first: byte 1 holds sample 0's bits 11..8 in its low nibble
// and sample 1's bits 3..0 in its high nibble.
void packed12LsbToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    for (std::size_t i = 0; i < count; i += 2, in += 3, out += 2) {
        out[0] = static_cast<unsigned char>((in[0] >> 4U) | (in[1] << 4U));
        out[1] = in[2];
    }
}

// Two samples in three bytes, bytes 0 and 2 holding the samples' bits 11..4: the top eight bits are those bytes.
void packed12NibsToBytes(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if CV_SIMD128
    for (; i + 32 <= count; i += 32, in += 48, out += 32) {
        cv::v_uint8x16 first;
        cv::v_uint8x16 nibbles;
        cv::v_uint8x16 second;
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
        packed12NibsToBytes(in, out, count);
        break;
    case SampleCoding::Byte:
    case SampleCoding::Word16:
        break;
    }
}

void bytesToGreyBgr(const unsigned char* in, unsigned char* out, std::size_t count) noexcept {
    std::size_t i = 0;
#if CV_SIMD128
    for (; i + 16 <= count; i += 16) {
        const cv::v_uint8x16 grey = cv::v_load(in + i);
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
    case SampleCoding::Packed12Nibs: {
        std::array<unsigned char, kChunkSamples> grey{};
        for (std::size_t done = 0; done < count; done += kChunkSamples) {
            const std::size_t n = std::min(kChunkSamples, count - done);
            packedToBytes(coding, in + packedBytes(coding, done), grey.data(), n);
            bytesToGreyBgr(grey.data(), out + 3 * done, n);
        }
        break;
    }
    }
}

} // namespace sdk::convert
