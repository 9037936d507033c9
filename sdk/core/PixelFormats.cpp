#include "sdk/core/PixelFormats.h"

#include <array>

namespace sdk::core {
namespace {

constexpr std::array kFormats{
    PixelFormatInfo{"Mono8", 8},
    PixelFormatInfo{"Mono10", 16},
    PixelFormatInfo{"Mono12", 16},
    PixelFormatInfo{"Mono14", 16},
    PixelFormatInfo{"Mono16", 16},
    PixelFormatInfo{"Mono10p", 10},
    PixelFormatInfo{"Mono12p", 12},
    PixelFormatInfo{"Mono12Packed", 12},
    PixelFormatInfo{"BayerRG8", 8},
    PixelFormatInfo{"BayerGR8", 8},
    PixelFormatInfo{"BayerGB8", 8},
    PixelFormatInfo{"BayerBG8", 8},
    PixelFormatInfo{"BayerRG10", 16},
    PixelFormatInfo{"BayerGR10", 16},
    PixelFormatInfo{"BayerGB10", 16},
    PixelFormatInfo{"BayerBG10", 16},
    PixelFormatInfo{"BayerRG12", 16},
    PixelFormatInfo{"BayerGR12", 16},
    PixelFormatInfo{"BayerGB12", 16},
    PixelFormatInfo{"BayerBG12", 16},
    PixelFormatInfo{"BayerRG16", 16},
    PixelFormatInfo{"BayerGR16", 16},
    PixelFormatInfo{"BayerGB16", 16},
    PixelFormatInfo{"BayerBG16", 16},
    PixelFormatInfo{"BayerRG10p", 10},
    PixelFormatInfo{"BayerGR10p", 10},
    PixelFormatInfo{"BayerGB10p", 10},
    PixelFormatInfo{"BayerBG10p", 10},
    PixelFormatInfo{"BayerRG12p", 12},
    PixelFormatInfo{"BayerGR12p", 12},
    PixelFormatInfo{"BayerGB12p", 12},
    PixelFormatInfo{"BayerBG12p", 12},
    PixelFormatInfo{"BayerRG12Packed", 12},
    PixelFormatInfo{"BayerGR12Packed", 12},
    PixelFormatInfo{"BayerGB12Packed", 12},
    PixelFormatInfo{"BayerBG12Packed", 12},
    PixelFormatInfo{"RGB8", 24},
    PixelFormatInfo{"RGB8Packed", 24},
    PixelFormatInfo{"BGR8", 24},
    PixelFormatInfo{"BGR8Packed", 24},
    PixelFormatInfo{"RGBa8", 32},
    PixelFormatInfo{"BGRa8", 32},
    PixelFormatInfo{"YUV422Packed", 16},
    PixelFormatInfo{"YUV422_8", 16},
    PixelFormatInfo{"YUV411Packed", 12},
    PixelFormatInfo{"YUV444Packed", 24},
    PixelFormatInfo{"BayerRGB8Packed", 24},
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
