// Colour bars rendered in every pixel format come back from the image processor as the bars' BGR values.
#include "tests/convert/ConvertTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>

namespace vxcam::test {
namespace {

enum class Expect { Grey, Colour };

struct FormatCase {
    const char* format;
    Expect expect;
    int tolerance; // per channel; demosaicing of a flat bar is exact, luma scaling and YUV decoding round
};

std::ostream& operator<<(std::ostream& out, const FormatCase& c) {
    return out << c.format;
}

struct Size {
    uint32_t width;
    uint32_t height;
};

// Bars of 12 and 12 or 13 columns; 100 x 7 also gives odd heights, bar edges inside chroma groups and the
// kernels' scalar tails.
constexpr std::array<Size, 2> kSizes{{{96, 6}, {100, 7}}};

// Columns this far from a bar edge, and rows this far from the frame's edge, are bar interior: demosaicing reads
// one neighbour, a 4:1:1 chroma group spans four pixels.
constexpr uint32_t kMargin = 4;
constexpr uint32_t kRowMargin = 2;

// The red and blue bars tell the four Bayer cells apart (a wrong cell swaps red and blue, or mixes green into
// them), so an exact match on every bar proves which OpenCV pattern stands for which GenICam name.
constexpr FormatCase kFormats[] = {
    {"Mono8", Expect::Grey, 0},
    {"Mono10", Expect::Grey, 1},
    {"Mono12", Expect::Grey, 1},
    {"Mono14", Expect::Grey, 1},
    {"Mono16", Expect::Grey, 1},
    {"Mono10p", Expect::Grey, 1},
    {"Mono12p", Expect::Grey, 1},
    {"Mono12Packed", Expect::Grey, 1},
    {"Mono10Packed", Expect::Grey, 1},
    {"BayerRG8", Expect::Colour, 0},
    {"BayerGR8", Expect::Colour, 0},
    {"BayerGB8", Expect::Colour, 0},
    {"BayerBG8", Expect::Colour, 0},
    {"BayerRG10", Expect::Colour, 0},
    {"BayerGR10", Expect::Colour, 0},
    {"BayerGB10", Expect::Colour, 0},
    {"BayerBG10", Expect::Colour, 0},
    {"BayerRG12", Expect::Colour, 0},
    {"BayerGR12", Expect::Colour, 0},
    {"BayerGB12", Expect::Colour, 0},
    {"BayerBG12", Expect::Colour, 0},
    {"BayerRG16", Expect::Colour, 0},
    {"BayerGR16", Expect::Colour, 0},
    {"BayerGB16", Expect::Colour, 0},
    {"BayerBG16", Expect::Colour, 0},
    {"BayerRG10p", Expect::Colour, 0},
    {"BayerGR10p", Expect::Colour, 0},
    {"BayerGB10p", Expect::Colour, 0},
    {"BayerBG10p", Expect::Colour, 0},
    {"BayerRG12p", Expect::Colour, 0},
    {"BayerGR12p", Expect::Colour, 0},
    {"BayerGB12p", Expect::Colour, 0},
    {"BayerBG12p", Expect::Colour, 0},
    {"BayerRG12Packed", Expect::Colour, 0},
    {"BayerGR12Packed", Expect::Colour, 0},
    {"BayerGB12Packed", Expect::Colour, 0},
    {"BayerBG12Packed", Expect::Colour, 0},
    {"BayerRG10Packed", Expect::Colour, 0},
    {"BayerGR10Packed", Expect::Colour, 0},
    {"BayerGB10Packed", Expect::Colour, 0},
    {"BayerBG10Packed", Expect::Colour, 0},
    {"RGB8", Expect::Colour, 0},
    {"RGB8Packed", Expect::Colour, 0},
    {"BGR8", Expect::Colour, 0},
    {"BGR8Packed", Expect::Colour, 0},
    {"RGBa8", Expect::Colour, 0},
    {"BGRa8", Expect::Colour, 0},
    {"BayerRGB8Packed", Expect::Colour, 0},
    {"YUV422Packed", Expect::Colour, 3},
    {"YUV422_8", Expect::Colour, 3},
    {"YUV411Packed", Expect::Colour, 3},
    {"YUV444Packed", Expect::Colour, 3},
    {"YUV422_8_UYVY", Expect::Colour, 3},
    {"YUV411_8_UYYVYY", Expect::Colour, 3},
    {"YUV8_UYV", Expect::Colour, 3},
};

class ColourBarTest : public ::testing::TestWithParam<std::tuple<FormatCase, Size>> {};

TEST_P(ColourBarTest, BarInteriorsComeBackAsTheirBgrValues) {
    const auto& [c, size] = GetParam();
    std::vector<unsigned char> frame = renderedFrame(c.format, size.width, size.height);
    const ImageHandle source = createImage(c.format, size.width, size.height, frame);
    const ImageHandle bgr = transform(*source, "BGR8");

    ASSERT_EQ(bgr->GetPixelFormat().str(), "BGR8");
    ASSERT_EQ(bgr->GetWidth(), size.width);
    ASSERT_EQ(bgr->GetHeight(), size.height);
    ASSERT_EQ(bgr->GetBufferSize(), uint64_t{size.width} * size.height * 3);
    for (uint32_t bar = 0; bar < kBarColours.size(); ++bar) {
        const Bgr& colour = kBarColours[bar];
        const int grey = lumaOf(colour);
        const Bgr expected = c.expect == Expect::Grey ? Bgr{grey, grey, grey} : colour;
        const uint32_t first = bar * size.width / 8 + kMargin;
        const uint32_t end = (bar + 1) * size.width / 8 - kMargin;
        for (uint32_t y = kRowMargin; y + kRowMargin < size.height; ++y) {
            for (uint32_t x = first; x < end; ++x) {
                const Bgr got = bgrAt(*bgr, x, y);
                ASSERT_TRUE(std::abs(got.blue - expected.blue) <= c.tolerance &&
                            std::abs(got.green - expected.green) <= c.tolerance &&
                            std::abs(got.red - expected.red) <= c.tolerance)
                    << "bar " << bar << " at (" << x << ", " << y << "): got BGR " << got.blue << " " << got.green
                    << " " << got.red << ", expected " << expected.blue << " " << expected.green << " " << expected.red
                    << " +-" << c.tolerance;
            }
        }
    }
}

// A target equal to the source copies the frame in its own layout, into memory of the converted image's own.
TEST_P(ColourBarTest, OwnFormatAsTargetKeepsTheLayout) {
    const auto& [c, size] = GetParam();
    std::vector<unsigned char> frame = renderedFrame(c.format, size.width, size.height);
    const ImageHandle source = createImage(c.format, size.width, size.height, frame);
    const ImageHandle copy = transform(*source, c.format);

    EXPECT_EQ(copy->GetPixelFormat().str(), c.format);
    EXPECT_NE(copy->GetBuffer(), static_cast<void*>(frame.data()));
    ASSERT_EQ(copy->GetBufferSize(), frame.size());
    EXPECT_EQ(std::memcmp(copy->GetBuffer(), frame.data(), frame.size()), 0);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<FormatCase, Size>>& info) {
    const auto& [c, size] = info.param;
    return std::string(c.format) + "_" + std::to_string(size.width) + "x" + std::to_string(size.height);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ColourBarTest,
                         ::testing::Combine(::testing::ValuesIn(kFormats), ::testing::ValuesIn(kSizes)), caseName);

// The image over a frame is the frame's own memory, described as the caller said.
TEST(CreateImage, ShowsTheCallersMemoryWithoutCopying) {
    std::vector<unsigned char> frame = renderedFrame("BayerGB12p", 64, 4);
    const ImageHandle image = createImage("BayerGB12p", 64, 4, frame);
    EXPECT_EQ(image->GetBuffer(), static_cast<void*>(frame.data()));
    EXPECT_EQ(image->GetBufferSize(), frame.size());
    EXPECT_EQ(image->GetWidth(), 64U);
    EXPECT_EQ(image->GetHeight(), 4U);
    EXPECT_EQ(image->GetPixelFormat().str(), "BayerGB12p");
}

struct SmallCase {
    const char* format;
    uint32_t width;
    uint32_t height;
};

std::ostream& operator<<(std::ostream& out, const SmallCase& c) {
    return out << c.format << " " << c.width << " x " << c.height;
}

class SmallestFrameTest : public ::testing::TestWithParam<SmallCase> {};

// The smallest frames each layout allows, in memory of exactly their size and with every bit set: a uniform
// frame comes out uniform (white where every sample at its maximum is white; 16-bit containers whose unused bits
// are set saturate instead of wrapping), and nothing outside the memory is read (ASan).
TEST_P(SmallestFrameTest, UniformFrameComesOutUniform) {
    const SmallCase& c = GetParam();
    std::vector<unsigned char> frame(payloadOf(c.format, c.width, c.height), 0xFF);
    const ImageHandle source = createImage(c.format, c.width, c.height, frame);
    const ImageHandle bgr = transform(*source, "BGR8");

    const bool yuv = std::string(c.format).rfind("YUV", 0) == 0;
    const Bgr first = bgrAt(*bgr, 0, 0);
    for (uint32_t y = 0; y < c.height; ++y) {
        for (uint32_t x = 0; x < c.width; ++x) {
            const Bgr got = bgrAt(*bgr, x, y);
            EXPECT_TRUE(got.blue == first.blue && got.green == first.green && got.red == first.red)
                << "pixel (" << x << ", " << y << ") differs from pixel (0, 0)";
        }
    }
    if (!yuv) {
        EXPECT_TRUE(first.blue == 255 && first.green == 255 && first.red == 255)
            << "got BGR " << first.blue << " " << first.green << " " << first.red;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SmallestFrameTest,
                         ::testing::Values(SmallCase{"Mono8", 1, 1}, SmallCase{"Mono10", 1, 1},
                                           SmallCase{"Mono10p", 1, 4}, SmallCase{"Mono10p", 4, 1},
                                           SmallCase{"Mono12p", 2, 1}, SmallCase{"Mono12Packed", 1, 2},
                                           SmallCase{"Mono16", 17, 1}, SmallCase{"BayerRG8", 2, 2},
                                           SmallCase{"BayerBG8", 3, 3}, SmallCase{"BayerGR10", 2, 3},
                                           SmallCase{"BayerGB10p", 2, 2}, SmallCase{"BayerRG12Packed", 3, 2},
                                           SmallCase{"RGB8", 1, 1}, SmallCase{"RGBa8", 1, 1}, SmallCase{"BGRa8", 5, 1},
                                           SmallCase{"BayerRGB8Packed", 1, 1}, SmallCase{"YUV422Packed", 2, 1},
                                           SmallCase{"YUV422_8", 2, 1}, SmallCase{"YUV411Packed", 4, 1},
                                           SmallCase{"YUV411Packed", 36, 1}, SmallCase{"YUV444Packed", 1, 1},
                                           SmallCase{"YUV444Packed", 17, 1}, SmallCase{"Mono10Packed", 1, 2},
                                           SmallCase{"BayerGB10Packed", 3, 2}, SmallCase{"YUV422_8_UYVY", 2, 1},
                                           SmallCase{"YUV411_8_UYYVYY", 4, 1}, SmallCase{"YUV8_UYV", 17, 1}));

} // namespace
} // namespace vxcam::test
