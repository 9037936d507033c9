#include "sdk/core/PixelFormats.h"

#include <array>

namespace sdk::core {
namespace {

using L = ColourLayout;
using C = SampleCoding;

constexpr std::array kFormats{
    PixelFormatInfo{"Mono8", 8, L::Mono, C::Byte, 8},
    PixelFormatInfo{"Mono10", 16, L::Mono, C::Word16, 10},
    PixelFormatInfo{"Mono12", 16, L::Mono, C::Word16, 12},
    PixelFormatInfo{"Mono14", 16, L::Mono, C::Word16, 14},
    PixelFormatInfo{"Mono16", 16, L::Mono, C::Word16, 16},
    PixelFormatInfo{"Mono10p", 10, L::Mono, C::Packed10Lsb, 10},
    PixelFormatInfo{"Mono12p", 12, L::Mono, C::Packed12Lsb, 12},
    PixelFormatInfo{"Mono12Packed", 12, L::Mono, C::Packed12Nibs, 12},
    PixelFormatInfo{"BayerRG8", 8, L::BayerRG, C::Byte, 8},
    PixelFormatInfo{"BayerGR8", 8, L::BayerGR, C::Byte, 8},
    PixelFormatInfo{"BayerGB8", 8, L::BayerGB, C::Byte, 8},
    PixelFormatInfo{"BayerBG8", 8, L::BayerBG, C::Byte, 8},
    PixelFormatInfo{"BayerRG10", 16, L::BayerRG, C::Word16, 10},
    PixelFormatInfo{"BayerGR10", 16, L::BayerGR, C::Word16, 10},
    PixelFormatInfo{"BayerGB10", 16, L::BayerGB, C::Word16, 10},
    PixelFormatInfo{"BayerBG10", 16, L::BayerBG, C::Word16, 10},
    PixelFormatInfo{"BayerRG12", 16, L::BayerRG, C::Word16, 12},
    PixelFormatInfo{"BayerGR12", 16, L::BayerGR, C::Word16, 12},
    PixelFormatInfo{"BayerGB12", 16, L::BayerGB, C::Word16, 12},
    PixelFormatInfo{"BayerBG12", 16, L::BayerBG, C::Word16, 12},
    PixelFormatInfo{"BayerRG16", 16, L::BayerRG, C::Word16, 16},
    PixelFormatInfo{"BayerGR16", 16, L::BayerGR, C::Word16, 16},
    PixelFormatInfo{"BayerGB16", 16, L::BayerGB, C::Word16, 16},
    PixelFormatInfo{"BayerBG16", 16, L::BayerBG, C::Word16, 16},
    PixelFormatInfo{"BayerRG10p", 10, L::BayerRG, C::Packed10Lsb, 10},
    PixelFormatInfo{"BayerGR10p", 10, L::BayerGR, C::Packed10Lsb, 10},
    PixelFormatInfo{"BayerGB10p", 10, L::BayerGB, C::Packed10Lsb, 10},
    PixelFormatInfo{"BayerBG10p", 10, L::BayerBG, C::Packed10Lsb, 10},
    PixelFormatInfo{"BayerRG12p", 12, L::BayerRG, C::Packed12Lsb, 12},
    PixelFormatInfo{"BayerGR12p", 12, L::BayerGR, C::Packed12Lsb, 12},
    PixelFormatInfo{"BayerGB12p", 12, L::BayerGB, C::Packed12Lsb, 12},
    PixelFormatInfo{"BayerBG12p", 12, L::BayerBG, C::Packed12Lsb, 12},
    PixelFormatInfo{"BayerRG12Packed", 12, L::BayerRG, C::Packed12Nibs, 12},
    PixelFormatInfo{"BayerGR12Packed", 12, L::BayerGR, C::Packed12Nibs, 12},
    PixelFormatInfo{"BayerGB12Packed", 12, L::BayerGB, C::Packed12Nibs, 12},
    PixelFormatInfo{"BayerBG12Packed", 12, L::BayerBG, C::Packed12Nibs, 12},
    PixelFormatInfo{"RGB8", 24, L::Rgb, C::Byte, 8},
    PixelFormatInfo{"RGB8Packed", 24, L::Rgb, C::Byte, 8},
    PixelFormatInfo{"BGR8", 24, L::Bgr, C::Byte, 8},
    PixelFormatInfo{"BGR8Packed", 24, L::Bgr, C::Byte, 8},
    PixelFormatInfo{"RGBa8", 32, L::Rgba, C::Byte, 8},
    PixelFormatInfo{"BGRa8", 32, L::Bgra, C::Byte, 8},
    PixelFormatInfo{"YUV422Packed", 16, L::Uyvy, C::Byte, 8},
    PixelFormatInfo{"YUV422_8", 16, L::Yuyv, C::Byte, 8},
    PixelFormatInfo{"YUV411Packed", 12, L::Uyyvyy, C::Byte, 8},
    PixelFormatInfo{"YUV444Packed", 24, L::Uyv, C::Byte, 8},
    // Not a GenICam name. The driver's format table files it with RGB8Packed (24 bits, RGB24), so it is taken
    // for what such cameras send: the sensor's mosaic already interpolated on the camera, delivered as R, G, B
    // bytes per pixel, exactly the RGB8Packed layout.
    PixelFormatInfo{"BayerRGB8Packed", 24, L::Rgb, C::Byte, 8},
};

} // namespace

const PixelFormatInfo* findPixelFormat(std::string_view name) noexcept {
    for (const PixelFormatInfo& format : kFormats) {
        if (name == format.name) {
            return &format;
        }
    }
    return nullptr;
}

} // namespace sdk::core
