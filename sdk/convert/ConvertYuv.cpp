// Compiled once per instruction set (see ConvertKernelIsa.h); the vector width follows the compiler's target.
#include "sdk/convert/ConvertKernelIsa.h"

#if defined(__AVX2__)
// The wider copy switches on OpenCV's CV_<set> flags, under which its headers expect the compiler's intrinsics.
#include <immintrin.h>
#endif

#include <opencv2/core/hal/intrin.hpp>

#include <algorithm>

namespace sdk::convert::VXCAM_KERNEL_ISA {
namespace {

// The BT.601 factors times 64. 1.164 * 64 = 74.5 is applied as (x * 149) >> 1.
constexpr int kLumaTimes128 = 149;
constexpr int kBlueFromU = 129; // 2.017
constexpr int kGreenFromU = 25; // 0.392
constexpr int kGreenFromV = 52; // 0.813
constexpr int kRedFromV = 102;  // 1.596
constexpr int kHalf = 32;       // rounds the final shift by six
constexpr unsigned kFraction = 6;

// The chroma parts of one pixel, rounding included, in units of 1/64.
struct ChromaTerms {
    int blue;
    int green;
    int red;
};

ChromaTerms chromaTerms(unsigned char u, unsigned char v) noexcept {
    const int centredU = static_cast<int>(u) - 128;
    const int centredV = static_cast<int>(v) - 128;
    return {centredU * kBlueFromU + kHalf, kHalf - centredU * kGreenFromU - centredV * kGreenFromV,
            centredV * kRedFromV + kHalf};
}

int lumaTerm(unsigned char y) noexcept {
    return (std::max(static_cast<int>(y) - 16, 0) * kLumaTimes128) >> 1U;
}

unsigned char toByte(int sixtyFourths) noexcept {
    // An arithmetic shift: negative sums end below zero and are clamped there.
    return static_cast<unsigned char>(std::clamp(sixtyFourths >> kFraction, 0, 255));
}

void writePixel(int luma, const ChromaTerms& chroma, unsigned char* out) noexcept {
    out[0] = toByte(luma + chroma.blue);
    out[1] = toByte(luma + chroma.green);
    out[2] = toByte(luma + chroma.red);
}

#if CV_SIMD
constexpr std::size_t kBytesPerVector = cv::v_uint8::nlanes;

// The vector kernels compute exactly what the scalar ones do: every product fits in 16 bits, and the one
// saturating addition (luma plus chroma) only saturates where the result is above 255 anyway.
struct ChromaVectors {
    cv::v_int16 blue;
    cv::v_int16 green;
    cv::v_int16 red;
};

ChromaVectors chromaVectors(const cv::v_int16& centredU, const cv::v_int16& centredV) noexcept {
    const cv::v_int16 half = cv::vx_setall_s16(kHalf);
    return {cv::v_mul_wrap(centredU, cv::vx_setall_s16(kBlueFromU)) + half,
            half - cv::v_mul_wrap(centredU, cv::vx_setall_s16(kGreenFromU)) -
                cv::v_mul_wrap(centredV, cv::vx_setall_s16(kGreenFromV)),
            cv::v_mul_wrap(centredV, cv::vx_setall_s16(kRedFromV)) + half};
}

// Luma terms of sixteen Y bytes, in two halves.
void lumaVectors(const cv::v_uint8& y, cv::v_int16& low, cv::v_int16& high) noexcept {
    cv::v_uint16 y16low;
    cv::v_uint16 y16high;
    cv::v_expand(y - cv::vx_setall_u8(16), y16low, y16high); // saturating: Y below 16 counts as 16
    const cv::v_uint16 factor = cv::vx_setall_u16(kLumaTimes128);
    low = cv::v_reinterpret_as_s16(cv::v_mul_wrap(y16low, factor) >> 1);
    high = cv::v_reinterpret_as_s16(cv::v_mul_wrap(y16high, factor) >> 1);
}

// Chroma bytes (U or V) as signed distances from 128, in two halves.
void centredVectors(const cv::v_uint8& c, cv::v_int16& low, cv::v_int16& high) noexcept {
    cv::v_expand(cv::v_reinterpret_as_s8(c ^ cv::vx_setall_u8(0x80)), low, high);
}

cv::v_uint8 channelBytes(const cv::v_int16& lumaLow, const cv::v_int16& chromaLow, const cv::v_int16& lumaHigh,
                         const cv::v_int16& chromaHigh) noexcept {
    return cv::v_pack_u((lumaLow + chromaLow) >> kFraction, (lumaHigh + chromaHigh) >> kFraction);
}

void storeBgr(unsigned char* out, const cv::v_int16& lumaLow, const ChromaVectors& low, const cv::v_int16& lumaHigh,
              const ChromaVectors& high) noexcept {
    cv::v_store_interleave(out, channelBytes(lumaLow, low.blue, lumaHigh, high.blue),
                           channelBytes(lumaLow, low.green, lumaHigh, high.green),
                           channelBytes(lumaLow, low.red, lumaHigh, high.red));
}

// Each lane of `v` four times in a row: one group's chroma for its four pixels.
void spreadByFour(const cv::v_int16& v, cv::v_int16 (&quarters)[4]) noexcept {
    cv::v_int16 twiceLow;
    cv::v_int16 twiceHigh;
    cv::v_zip(v, v, twiceLow, twiceHigh);
    cv::v_zip(twiceLow, twiceLow, quarters[0], quarters[1]);
    cv::v_zip(twiceHigh, twiceHigh, quarters[2], quarters[3]);
}
#endif

} // namespace

void yuv444ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    for (; i + kBytesPerVector <= pixels; i += kBytesPerVector) {
        cv::v_uint8 u;
        cv::v_uint8 y;
        cv::v_uint8 v;
        cv::v_load_deinterleave(in + 3 * i, u, y, v);
        cv::v_int16 lumaLow;
        cv::v_int16 lumaHigh;
        lumaVectors(y, lumaLow, lumaHigh);
        cv::v_int16 uLow;
        cv::v_int16 uHigh;
        cv::v_int16 vLow;
        cv::v_int16 vHigh;
        centredVectors(u, uLow, uHigh);
        centredVectors(v, vLow, vHigh);
        storeBgr(out + 3 * i, lumaLow, chromaVectors(uLow, vLow), lumaHigh, chromaVectors(uHigh, vHigh));
    }
#endif
    for (; i < pixels; ++i) {
        const unsigned char* uyv = in + 3 * i;
        writePixel(lumaTerm(uyv[1]), chromaTerms(uyv[0], uyv[2]), out + 3 * i);
    }
}

void yuv411ToBgr(const unsigned char* in, unsigned char* out, std::size_t pixels) noexcept {
    std::size_t i = 0;
#if CV_SIMD
    // Byte triples (U Y0 Y1) (V Y2 Y3) (U Y0 Y1) ...: a vector's worth of triples is half as many groups, twice
    // as many pixels.
    for (; i + 2 * kBytesPerVector <= pixels; i += 2 * kBytesPerVector) {
        cv::v_uint8 chroma;
        cv::v_uint8 lumaA;
        cv::v_uint8 lumaB;
        cv::v_load_deinterleave(in + i / 4 * 6, chroma, lumaA, lumaB);
        cv::v_uint8 luma[2];
        cv::v_zip(lumaA, lumaB, luma[0], luma[1]); // Y0 Y1 Y2 Y3 of each group, in pixel order

        // Lane k of the 16-bit view holds group k's U in its low byte and V in its high byte.
        const cv::v_uint16 pairs = cv::v_reinterpret_as_u16(chroma);
        const cv::v_int16 bias = cv::vx_setall_s16(128);
        const cv::v_int16 centredU = cv::v_reinterpret_as_s16(pairs & cv::vx_setall_u16(0xFF)) - bias;
        const cv::v_int16 centredV = cv::v_reinterpret_as_s16(pairs >> 8) - bias;
        const ChromaVectors groups = chromaVectors(centredU, centredV);
        ChromaVectors perPixel[4];
        cv::v_int16 blue[4];
        cv::v_int16 green[4];
        cv::v_int16 red[4];
        spreadByFour(groups.blue, blue);
        spreadByFour(groups.green, green);
        spreadByFour(groups.red, red);
        for (int q = 0; q < 4; ++q) {
            perPixel[q] = {blue[q], green[q], red[q]};
        }
        for (std::size_t half = 0; half < 2; ++half) {
            cv::v_int16 lumaLow;
            cv::v_int16 lumaHigh;
            lumaVectors(luma[half], lumaLow, lumaHigh);
            storeBgr(out + 3 * (i + kBytesPerVector * half), lumaLow, perPixel[2 * half], lumaHigh,
                     perPixel[2 * half + 1]);
        }
    }
#endif
    for (; i < pixels; i += 4) {
        const unsigned char* group = in + i / 4 * 6;
        const ChromaTerms chroma = chromaTerms(group[0], group[3]);
        unsigned char* bgr = out + 3 * i;
        writePixel(lumaTerm(group[1]), chroma, bgr);
        writePixel(lumaTerm(group[2]), chroma, bgr + 3);
        writePixel(lumaTerm(group[4]), chroma, bgr + 6);
        writePixel(lumaTerm(group[5]), chroma, bgr + 9);
    }
}

} // namespace sdk::convert::VXCAM_KERNEL_ISA
