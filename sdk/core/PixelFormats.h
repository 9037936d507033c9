// The GenICam pixel formats the SDK layer knows, with the storage each one needs and how its samples lie in
// memory.
#pragma once

#include <cstdint>
#include <string_view>

namespace sdk::core {

// What the samples of a frame stand for, and in which order they come.
enum class ColourLayout : uint8_t {
    Mono,    // one luma sample per pixel
    BayerRG, // mosaic; the name gives the top-left 2x2 cell row by row: R G / G B
    BayerGR, // G R / B G
    BayerGB, // G B / R G
    BayerBG, // B G / G R
    Rgb,     // three samples per pixel: red, green, blue
    Bgr,     // blue, green, red
    Rgba,    // red, green, blue, alpha
    Bgra,    // blue, green, red, alpha
    Uyvy,    // 4:2:2, two pixels in U Y0 V Y1
    Yuyv,    // 4:2:2, two pixels in Y0 U Y1 V
    Uyyvyy,  // 4:1:1, four pixels in U Y0 Y1 V Y2 Y3
    Uyv,     // 4:4:4, one pixel in U Y V
};

// How the samples are stored. Packed codings run on from one line to the next without padding.
enum class SampleCoding : uint8_t {
    Byte,          // one byte per sample
    Word16,        // a little-endian 16-bit container per sample, the value in its low significant bits
    Packed10Lsb,   // "...10p": 4 samples in 5 bytes, one bit stream, least significant bit first
    Packed12Lsb,   // "...12p": 2 samples in 3 bytes, least significant bit first
    Packed12Nibs,  // "...12Packed": 2 samples in 3 bytes; byte 0 and byte 2 hold bits 11..4 of sample 0 and of
                   // sample 1, byte 1 holds their bits 3..0 (sample 0 in the low nibble, sample 1 in the high one)
    Packed10Pairs, // "...10Packed": 2 samples in 3 bytes; byte 0 and byte 2 hold bits 9..2 of sample 0 and of
                   // sample 1, byte 1 holds their bits 1..0 (sample 0 in bits 1..0, sample 1 in bits 5..4)
};

struct PixelFormatInfo {
    const char* name;         // GenICam name, static storage
    uint32_t bitsPerPixel;    // storage per pixel, padding included (Mono10: 16, Mono10p: 10)
    ColourLayout layout;      //
    SampleCoding coding;      //
    uint32_t significantBits; // bits of one sample's value (Mono10: 10)
    uint32_t code;            // the GenICam pixel-format naming convention's code; 0 for a name it lacks
};

// The format called `name`, or null for a name the SDK does not know.
[[nodiscard]] const PixelFormatInfo* findPixelFormat(std::string_view name) noexcept;
// The format whose naming-convention code is `code` (a frame's own word on its format, as GenTL buffers give
// it), or null for a code the SDK does not know. Where two names share a code ("RGB8" and its older name
// "RGB8Packed") the naming convention's own comes.
[[nodiscard]] const PixelFormatInfo* findPixelFormatByCode(uint32_t code) noexcept;

// Bytes of one frame, rounded up to whole bytes.
[[nodiscard]] constexpr uint64_t framePayloadSize(const PixelFormatInfo& format, uint64_t width,
                                                  uint64_t height) noexcept {
    return (width * height * format.bitsPerPixel + 7) / 8;
}

// Pixels of one indivisible group of a packed coding: a frame's pixel count must be a multiple of it.
[[nodiscard]] constexpr uint32_t samplesPerPackedGroup(SampleCoding coding) noexcept {
    switch (coding) {
    case SampleCoding::Packed10Lsb:
        return 4;
    case SampleCoding::Packed12Lsb:
    case SampleCoding::Packed12Nibs:
    case SampleCoding::Packed10Pairs:
        return 2;
    case SampleCoding::Byte:
    case SampleCoding::Word16:
        break;
    }
    return 1;
}

// Pixels that share chroma along a line: a line's width must be a multiple of it.
[[nodiscard]] constexpr uint32_t pixelsPerChromaGroup(ColourLayout layout) noexcept {
    switch (layout) {
    case ColourLayout::Uyvy:
    case ColourLayout::Yuyv:
        return 2;
    case ColourLayout::Uyyvyy:
        return 4;
    default:
        return 1;
    }
}

[[nodiscard]] constexpr bool isBayer(ColourLayout layout) noexcept {
    return layout == ColourLayout::BayerRG || layout == ColourLayout::BayerGR || layout == ColourLayout::BayerGB ||
           layout == ColourLayout::BayerBG;
}

} // namespace sdk::core
