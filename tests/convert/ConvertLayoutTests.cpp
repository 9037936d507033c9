// Byte layouts taken from the formats' definitions, worked out by hand, so that the pattern and the converter
// cannot agree on a wrong layout unnoticed.
#include "tests/convert/ConvertTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

namespace vxcam::test {
namespace {

struct GreyLayoutCase {
    const char* format;
    std::vector<unsigned char> bytes;
    std::vector<unsigned> samples; // the values the bytes hold, in pixel order
    unsigned significantBits;
};

std::ostream& operator<<(std::ostream& out, const GreyLayoutCase& c) {
    return out << c.format;
}

std::string formatLabel(const ::testing::TestParamInfo<GreyLayoutCase>& param) {
    return param.param.format;
}

class GreyLayoutTest : public ::testing::TestWithParam<GreyLayoutCase> {};

// Each sample reaches the host as its top eight bits, in every channel.
TEST_P(GreyLayoutTest, SamplesComeOutAsTheirTopEightBits) {
    GreyLayoutCase c = GetParam();
    const auto width = static_cast<uint32_t>(c.samples.size());
    const ImageHandle source = createImage(c.format, width, 1, c.bytes);
    const ImageHandle bgr = transform(*source, "BGR8");
    for (uint32_t x = 0; x < width; ++x) {
        const int top = static_cast<int>(c.samples[x] >> (c.significantBits - 8));
        const Bgr got = bgrAt(*bgr, x, 0);
        EXPECT_TRUE(got.blue == top && got.green == top && got.red == top)
            << "pixel " << x << ": got " << got.blue << " " << got.green << " " << got.red << ", expected " << top;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codings, GreyLayoutTest,
    ::testing::Values(
        // Little-endian containers.
        GreyLayoutCase{"Mono10", {0xFF, 0x03, 0x00, 0x02, 0x55, 0x01}, {0x3FF, 0x200, 0x155}, 10},
        // One bit stream, least significant bit first: 0x3FF, 0x000, 0x200, 0x155.
        GreyLayoutCase{"Mono10p", {0xFF, 0x03, 0x00, 0x60, 0x55}, {0x3FF, 0x000, 0x200, 0x155}, 10},
        // 0xABC, 0x123: byte 1 holds 0xA (bits 11..8 of the first) and 0x3 (bits 3..0 of the second) above it.
        GreyLayoutCase{"Mono12p", {0xBC, 0x3A, 0x12}, {0xABC, 0x123}, 12},
        // 0xABC, 0x123: bytes 0 and 2 hold bits 11..4, byte 1 the low nibbles, the first sample's below.
        GreyLayoutCase{"Mono12Packed", {0xAB, 0x3C, 0x12}, {0xABC, 0x123}, 12},
        // 0x2AF, 0x156: bytes 0 and 2 hold bits 9..2, byte 1 the low two bits, the first sample's in bits 1..0 and
        // the second's in bits 5..4.
        GreyLayoutCase{"Mono10Packed", {0xAB, 0x23, 0x55}, {0x2AF, 0x156}, 10}),
    formatLabel);

struct ColourLayoutCase {
    const char* label;
    const char* format;
    std::vector<unsigned char> bytes;
    std::vector<Bgr> expected; // row by row
    int tolerance;
    uint32_t height = 1;
};

std::ostream& operator<<(std::ostream& out, const ColourLayoutCase& c) {
    return out << c.label;
}

class ColourLayoutTest : public ::testing::TestWithParam<ColourLayoutCase> {};

TEST_P(ColourLayoutTest, PixelsComeOutInBgrOrder) {
    ColourLayoutCase c = GetParam();
    const auto width = static_cast<uint32_t>(c.expected.size()) / c.height;
    const ImageHandle source = createImage(c.format, width, c.height, c.bytes);
    const ImageHandle bgr = transform(*source, "BGR8");
    for (uint32_t x = 0; x < width * c.height; ++x) {
        const Bgr got = bgrAt(*bgr, x % width, x / width);
        const Bgr& want = c.expected[x];
        EXPECT_TRUE(std::abs(got.blue - want.blue) <= c.tolerance && std::abs(got.green - want.green) <= c.tolerance &&
                    std::abs(got.red - want.red) <= c.tolerance)
            << "pixel " << x << ": got " << got.blue << " " << got.green << " " << got.red << ", expected " << want.blue
            << " " << want.green << " " << want.red;
    }
}

// BT.601 limited range: Y 16 is black, 235 white, each step of Y above 16 is 1.164; red is Y 81, U 90, V 240.
INSTANTIATE_TEST_SUITE_P(
    Layouts, ColourLayoutTest,
    ::testing::Values(
        ColourLayoutCase{"RGBa8", "RGBa8", {10, 20, 30, 40}, {{30, 20, 10}}, 0},
        ColourLayoutCase{"BGRa8", "BGRa8", {10, 20, 30, 40}, {{10, 20, 30}}, 0},
        ColourLayoutCase{"RGB8Packed", "RGB8Packed", {10, 20, 30}, {{30, 20, 10}}, 0},
        ColourLayoutCase{"BayerRGB8Packed", "BayerRGB8Packed", {10, 20, 30}, {{30, 20, 10}}, 0},
        ColourLayoutCase{"YUV444Red", "YUV444Packed", {90, 81, 240}, {{0, 0, 255}}, 2},
        ColourLayoutCase{"YUV444Greys", "YUV444Packed", {128, 16, 128, 128, 235, 128}, {{0, 0, 0}, {255, 255, 255}}, 0},
        ColourLayoutCase{"YUV422PackedRedPair", "YUV422Packed", {90, 81, 240, 81}, {{0, 0, 255}, {0, 0, 255}}, 2},
        ColourLayoutCase{"YUV8_UYVRed", "YUV8_UYV", {90, 81, 240}, {{0, 0, 255}}, 2},
        ColourLayoutCase{"YUV422_8_UYVYRedPair", "YUV422_8_UYVY", {90, 81, 240, 81}, {{0, 0, 255}, {0, 0, 255}}, 2},
        ColourLayoutCase{"YUV411_8_UYYVYYGreys",
                         "YUV411_8_UYYVYY",
                         {128, 16, 82, 128, 150, 235},
                         {{0, 0, 0}, {77, 77, 77}, {156, 156, 156}, {255, 255, 255}},
                         1},
        ColourLayoutCase{"YUV422_8LumaOrder", "YUV422_8", {16, 128, 235, 128}, {{0, 0, 0}, {255, 255, 255}}, 0},
        // Four greys in luma order (Y 16, 82, 150, 235), then four pixels of red.
        ColourLayoutCase{"YUV411",
                         "YUV411Packed",
                         {128, 16, 82, 128, 150, 235, 90, 81, 81, 240, 81, 81},
                         {{0, 0, 0},
                          {77, 77, 77},
                          {156, 156, 156},
                          {255, 255, 255},
                          {0, 0, 255},
                          {0, 0, 255},
                          {0, 0, 255},
                          {0, 0, 255}},
                         1},
        // Single cells, too small for OpenCV's demosaicing: every pixel takes its cell's colour.
        ColourLayoutCase{"BayerRGCell",
                         "BayerRG8",
                         {200, 100, 110, 50},
                         {{50, 105, 200}, {50, 105, 200}, {50, 105, 200}, {50, 105, 200}},
                         1,
                         2},
        ColourLayoutCase{"BayerGBCell",
                         "BayerGB8",
                         {100, 50, 200, 110},
                         {{50, 105, 200}, {50, 105, 200}, {50, 105, 200}, {50, 105, 200}},
                         1,
                         2},
        // B 0x320, G 0x640 / G 0x6E0, R 0xC80 in nibble pairs.
        ColourLayoutCase{"BayerBGCellPacked",
                         "BayerBG12Packed",
                         {0x32, 0x00, 0x64, 0x6E, 0x00, 0xC8},
                         {{50, 105, 200}, {50, 105, 200}, {50, 105, 200}, {50, 105, 200}},
                         1,
                         2}),
    caseLabel<ColourLayoutCase>);

} // namespace
} // namespace vxcam::test
