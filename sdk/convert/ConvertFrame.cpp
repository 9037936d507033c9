#include "sdk/convert/ConvertFrame.h"

#include "sdk/SdkExceptions.h"
#include "sdk/convert/ConvertSamples.h"
#include "sdk/convert/ConvertYuv.h"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>

namespace sdk::convert {
namespace {

using core::ColourLayout;
using core::SampleCoding;

// Beyond this the sizes no longer fit OpenCV's int dimensions with room to spare; no camera comes near it.
constexpr uint64_t kMaxPixels = uint64_t{1} << 30U;

std::string geometry(const FrameView& frame) {
    return std::to_string(frame.width) + " x " + std::to_string(frame.height) + " " + frame.format->name;
}

uint64_t pixelCount(const FrameView& frame) noexcept {
    return uint64_t{frame.width} * frame.height;
}

// OpenCV names a Bayer pattern by the second and third pixel of its second row, GenICam by the first two of the
// first row; one cell's rows and columns both shift by one, so the GenICam pattern is OpenCV's with red and blue
// swapped, and green sites stay green. The colour-bar tests hold each pair to this.
int openCvBayerToBgr(ColourLayout layout) noexcept {
    switch (layout) {
    case ColourLayout::BayerRG:
        return cv::COLOR_BayerBG2BGR;
    case ColourLayout::BayerGR:
        return cv::COLOR_BayerGB2BGR;
    case ColourLayout::BayerGB:
        return cv::COLOR_BayerGR2BGR;
    default:
        return cv::COLOR_BayerRG2BGR;
    }
}

// The OpenCV conversion of a layout whose kernel OpenCV has, with the element type of its input; -1 otherwise.
struct OpenCvStep {
    int code = -1;
    int inputType = 0;
};

OpenCvStep openCvStep(ColourLayout layout) noexcept {
    switch (layout) {
    case ColourLayout::Rgb:
        return {cv::COLOR_RGB2BGR, CV_8UC3};
    case ColourLayout::Rgba:
        return {cv::COLOR_RGBA2BGR, CV_8UC4};
    case ColourLayout::Bgra:
        return {cv::COLOR_BGRA2BGR, CV_8UC4};
    case ColourLayout::Uyvy:
        return {cv::COLOR_YUV2BGR_UYVY, CV_8UC2};
    case ColourLayout::Yuyv:
        return {cv::COLOR_YUV2BGR_YUY2, CV_8UC2};
    case ColourLayout::Mono:
        return {cv::COLOR_GRAY2BGR, CV_8UC1};
    default:
        return {};
    }
}

// OpenCV's demosaicing answers black for a mosaic of two rows or columns; such a frame takes each pixel's
// colour from the 2 x 2 cell it lies in (the last whole cell for a last odd row or column).
void smallMosaicToBgr(ColourLayout layout, const unsigned char* mosaic, uint32_t width, uint32_t height,
                      unsigned char* out) noexcept {
    // Where red sits in the cell, as (row, column); blue is diagonal to it, green on the other two sites.
    const uint32_t redRow = layout == ColourLayout::BayerRG || layout == ColourLayout::BayerGR ? 0 : 1;
    const uint32_t redColumn = layout == ColourLayout::BayerRG || layout == ColourLayout::BayerGB ? 0 : 1;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t top = std::min(y & ~1U, height - 2);
            const uint32_t left = std::min(x & ~1U, width - 2);
            const auto site = [&](uint32_t row, uint32_t column) {
                return static_cast<unsigned>(mosaic[uint64_t{top + row} * width + left + column]);
            };
            unsigned char* pixel = out + (uint64_t{y} * width + x) * 3;
            pixel[0] = static_cast<unsigned char>(site(1 - redRow, 1 - redColumn));
            pixel[1] = static_cast<unsigned char>((site(redRow, 1 - redColumn) + site(1 - redRow, redColumn) + 1) / 2);
            pixel[2] = static_cast<unsigned char>(site(redRow, redColumn));
        }
    }
}

void runOpenCv(int code, int inputType, const FrameView& frame, const unsigned char* in, unsigned char* out) {
    const int rows = static_cast<int>(frame.height);
    const int cols = static_cast<int>(frame.width);
    try {
        // OpenCV wants a mutable pointer for every header; the input is only read.
        const cv::Mat source(rows, cols, inputType, const_cast<unsigned char*>(in)); // NOLINT
        cv::Mat target(rows, cols, CV_8UC3, out);
        cv::cvtColor(source, target, code);
        if (target.data != out) {
            Exceptions::raise("RuntimeException", "Image::TransformImage",
                              "OpenCV wrote the " + geometry(frame) + " frame somewhere else");
        }
    } catch (const cv::Exception& e) {
        Exceptions::raise("RuntimeException", "Image::TransformImage",
                          "OpenCV could not convert the " + geometry(frame) + " frame: " + e.what());
    }
}

} // namespace

FrameProblem findFrameProblem(const FrameView& frame) {
    const core::PixelFormatInfo& format = *frame.format;
    if (frame.memory == nullptr) {
        return {"InvalidArgumentException", "the image memory is null"};
    }
    if (frame.width == 0 || frame.height == 0) {
        return {"InvalidArgumentException", "a " + geometry(frame) + " image has no pixels"};
    }
    if (pixelCount(frame) > kMaxPixels) {
        return {"OutOfRangeException",
                "a " + geometry(frame) + " image has more than " + std::to_string(kMaxPixels) + " pixels"};
    }
    if (const uint32_t group = core::pixelsPerChromaGroup(format.layout); frame.width % group != 0) {
        return {"InvalidArgumentException", std::string(format.name) + " shares chroma among " + std::to_string(group) +
                                                " pixels of a line, so the width " + std::to_string(frame.width) +
                                                " must be a multiple of it"};
    }
    if (const uint32_t group = core::samplesPerPackedGroup(format.coding); pixelCount(frame) % group != 0) {
        return {"InvalidArgumentException", std::string(format.name) + " packs " + std::to_string(group) +
                                                " pixels together; the " + std::to_string(pixelCount(frame)) +
                                                " pixels of " + geometry(frame) + " do not fill whole groups"};
    }
    if (core::isBayer(format.layout) && (frame.width < 2 || frame.height < 2)) {
        return {"InvalidArgumentException",
                "a Bayer mosaic needs at least one whole 2 x 2 cell, " + geometry(frame) + " has none"};
    }
    if (const uint64_t needed = core::framePayloadSize(format, frame.width, frame.height); frame.size < needed) {
        return {"OutOfRangeException", "a " + geometry(frame) + " image needs " + std::to_string(needed) +
                                           " bytes, the memory holds " + std::to_string(frame.size)};
    }
    return {};
}

uint64_t bgr8Bytes(const FrameView& frame) noexcept {
    return pixelCount(frame) * 3;
}

uint64_t bgr8ScratchBytes(const FrameView& frame) noexcept {
    const bool bayerBeyondBytes = core::isBayer(frame.format->layout) && frame.format->coding != SampleCoding::Byte;
    return bayerBeyondBytes ? pixelCount(frame) : 0;
}

void convertToBgr8(const FrameView& frame, unsigned char* out, unsigned char* scratch) {
    const core::PixelFormatInfo& format = *frame.format;
    const auto pixels = static_cast<std::size_t>(pixelCount(frame));
    if (core::isBayer(format.layout)) {
        const unsigned char* mosaic = frame.memory;
        if (format.coding != SampleCoding::Byte) {
            samplesToBytes(format.coding, format.significantBits, frame.memory, scratch, pixels);
            mosaic = scratch;
        }
        if (frame.width < 3 || frame.height < 3) {
            smallMosaicToBgr(format.layout, mosaic, frame.width, frame.height, out);
        } else {
            runOpenCv(openCvBayerToBgr(format.layout), CV_8UC1, frame, mosaic, out);
        }
        return;
    }
    switch (format.layout) {
    case ColourLayout::Bgr:
        std::memcpy(out, frame.memory, pixels * 3);
        return;
    case ColourLayout::Uyyvyy:
        yuv411ToBgr(frame.memory, out, pixels);
        return;
    case ColourLayout::Uyv:
        yuv444ToBgr(frame.memory, out, pixels);
        return;
    case ColourLayout::Mono:
        if (format.coding != SampleCoding::Byte) {
            samplesToGreyBgr(format.coding, format.significantBits, frame.memory, out, pixels);
            return;
        }
        break;
    default:
        break;
    }
    const OpenCvStep step = openCvStep(format.layout);
    runOpenCv(step.code, step.inputType, frame, frame.memory, out);
}

} // namespace sdk::convert
