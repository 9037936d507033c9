// What the conversion tests share: the colour bars as the tests expect them, frames rendered into memory of
// exactly their size, and images that give themselves back.
#pragma once

#include "sdk/ImageProcessor.h"
#include "sdk/core/PixelFormats.h"
#include "sdk/sim/SimPattern.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vxcam::test {

struct Bgr {
    int blue;
    int green;
    int red;
};

// The eight bars left to right, as the pattern promises them.
inline constexpr std::array<Bgr, 8> kBarColours{{
    {255, 255, 255}, // white
    {0, 255, 255},   // yellow
    {255, 255, 0},   // cyan
    {0, 255, 0},     // green
    {255, 0, 255},   // magenta
    {0, 0, 255},     // red
    {255, 0, 0},     // blue
    {0, 0, 0},       // black
}};

// BT.601 luma of a colour, rounded: what a monochrome camera sees of it.
inline int lumaOf(const Bgr& c) {
    return static_cast<int>(std::lround(0.299 * c.red + 0.587 * c.green + 0.114 * c.blue));
}

// Names a parameterised case after its `label` member.
template <typename Case>
std::string caseLabel(const ::testing::TestParamInfo<Case>& param) {
    return param.param.label;
}

struct ReleaseImage {
    void operator()(sdk::Image* image) const { image->Release(); }
};
using ImageHandle = std::unique_ptr<sdk::Image, ReleaseImage>;

inline uint64_t payloadOf(const std::string& format, uint32_t width, uint32_t height) {
    const sdk::core::PixelFormatInfo* info = sdk::core::findPixelFormat(format);
    return info != nullptr ? sdk::core::framePayloadSize(*info, width, height) : 0;
}

// A colour-bar frame in memory of exactly its payload size, so that a read past its end is caught by ASan.
inline std::vector<unsigned char> renderedFrame(const std::string& format, uint32_t width, uint32_t height) {
    std::vector<unsigned char> frame(payloadOf(format, width, height));
    EXPECT_TRUE(sdk::sim::renderColourBars(format, width, height, frame.data(), frame.size()))
        << format << " " << width << " x " << height;
    return frame;
}

inline ImageHandle createImage(const std::string& format, uint32_t width, uint32_t height,
                               std::vector<unsigned char>& frame) {
    return ImageHandle(
        sdk::ImageProcessor::GetInstance()->CreateImage(width, height, format.c_str(), frame.data(), frame.size()));
}

inline ImageHandle transform(sdk::Image& image, const char* target) {
    return ImageHandle(image.TransformImage(target));
}

// The pixel at (x, y) of a BGR8 image.
inline Bgr bgrAt(sdk::Image& image, uint32_t x, uint32_t y) {
    const auto* bytes = static_cast<const unsigned char*>(image.GetBuffer());
    const unsigned char* pixel = bytes + (uint64_t{y} * image.GetWidth() + x) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

} // namespace vxcam::test
