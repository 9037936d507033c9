#include "sdk/core/PixelFormats.h"

#include <array>

namespace sdk::core {
namespace {

using L = ColourLayout;
using C = SampleCoding;

constexpr std::array kFormats{
    PixelFormatInfo{"Mono8", 8, L::Mono, C::Byte, 8, 0x01080001},
    PixelFormatInfo{"Mono10", 16, L::Mono, C::Word16, 10, 0x01100003},
    PixelFormatInfo{"Mono12", 16, L::Mono, C::Word16, 12, 0x01100005},
    PixelFormatInfo{"Mono14", 16, L::Mono, C::Word16, 14, 0x01100025},
    PixelFormatInfo{"Mono16", 16, L::Mono, C::Word16, 16, 0x01100007},
    PixelFormatInfo{"Mono10p", 10, L::Mono, C::Packed10Lsb, 10, 0x010A0046},
    PixelFormatInfo{"Mono12p", 12, L::Mono, C::Packed12Lsb, 12, 0x010C0047},
    PixelFormatInfo{"Mono10Packed", 12, L::Mono, C::Packed10Pairs, 10, 0x010C0004},
    PixelFormatInfo{"Mono12Packed", 12, L::Mono, C::Packed12Nibs, 12, 0x010C0006},
    PixelFormatInfo{"BayerRG8", 8, L::BayerRG, C::Byte, 8, 0x01080009},
    PixelFormatInfo{"BayerGR8", 8, L::BayerGR, C::Byte, 8, 0x01080008},
    PixelFormatInfo{"BayerGB8", 8, L::BayerGB, C::Byte, 8, 0x0108000A},
    PixelFormatInfo{"BayerBG8", 8, L::BayerBG, C::Byte, 8, 0x0108000B},
    PixelFormatInfo{"BayerRG10", 16, L::BayerRG, C::Word16, 10, 0x0110000D},
    PixelFormatInfo{"BayerGR10", 16, L::BayerGR, C::Word16, 10, 0x0110000C},
    PixelFormatInfo{"BayerGB10", 16, L::BayerGB, C::Word16, 10, 0x0110000E},
    PixelFormatInfo{"BayerBG10", 16, L::BayerBG, C::Word16, 10, 0x0110000F},
    PixelFormatInfo{"BayerRG12", 16, L::BayerRG, C::Word16, 12, 0x01100011},
    PixelFormatInfo{"BayerGR12", 16, L::BayerGR, C::Word16, 12, 0x01100010},
    PixelFormatInfo{"BayerGB12", 16, L::BayerGB, C::Word16, 12, 0x01100012},
    PixelFormatInfo{"BayerBG12", 16, L::BayerBG, C::Word16, 12, 0x01100013},
    PixelFormatInfo{"BayerRG16", 16, L::BayerRG, C::Word16, 16, 0x0110002F},
    PixelFormatInfo{"BayerGR16", 16, L::BayerGR, C::Word16, 16, 0x0110002E},
    PixelFormatInfo{"BayerGB16", 16, L::BayerGB, C::Word16, 16, 0x01100030},
    PixelFormatInfo{"BayerBG16", 16, L::BayerBG, C::Word16, 16, 0x01100031},
    PixelFormatInfo{"BayerRG10p", 10, L::BayerRG, C::Packed10Lsb, 10, 0x010A0058},
    PixelFormatInfo{"BayerGR10p", 10, L::BayerGR, C::Packed10Lsb, 10, 0x010A0056},
    PixelFormatInfo{"BayerGB10p", 10, L::BayerGB, C::Packed10Lsb, 10, 0x010A0054},
    PixelFormatInfo{"BayerBG10p", 10, L::BayerBG, C::Packed10Lsb, 10, 0x010A0052},
    PixelFormatInfo{"BayerRG12p", 12, L::BayerRG, C::Packed12Lsb, 12, 0x010C0059},
    PixelFormatInfo{"BayerGR12p", 12, L::BayerGR, C::Packed12Lsb, 12, 0x010C0057},
    PixelFormatInfo{"BayerGB12p", 12, L::BayerGB, C::Packed12Lsb, 12, 0x010C0055},
    PixelFormatInfo{"BayerBG12p", 12, L::BayerBG, C::Packed12Lsb, 12, 0x010C0053},
    PixelFormatInfo{"BayerRG10Packed", 12, L::BayerRG, C::Packed10Pairs, 10, 0x010C0027},
    PixelFormatInfo{"BayerGR10Packed", 12, L::BayerGR, C::Packed10Pairs, 10, 0x010C0026},
    PixelFormatInfo{"BayerGB10Packed", 12, L::BayerGB, C::Packed10Pairs, 10, 0x010C0028},
    PixelFormatInfo{"BayerBG10Packed", 12, L::BayerBG, C::Packed10Pairs, 10, 0x010C0029},
    PixelFormatInfo{"BayerRG12Packed", 12, L::BayerRG, C::Packed12Nibs, 12, 0x010C002B},
    PixelFormatInfo{"BayerGR12Packed", 12, L::BayerGR, C::Packed12Nibs, 12, 0x010C002A},
    PixelFormatInfo{"BayerGB12Packed", 12, L::BayerGB, C::Packed12Nibs, 12, 0x010C002C},
    PixelFormatInfo{"BayerBG12Packed", 12, L::BayerBG, C::Packed12Nibs, 12, 0x010C002D},
    PixelFormatInfo{"RGB8", 24, L::Rgb, C::Byte, 8, 0x02180014},
    PixelFormatInfo{"RGB8Packed", 24, L::Rgb, C::Byte, 8, 0x02180014},
    PixelFormatInfo{"BGR8", 24, L::Bgr, C::Byte, 8, 0x02180015},
    PixelFormatInfo{"BGR8Packed", 24, L::Bgr, C::Byte, 8, 0x02180015},
    PixelFormatInfo{"RGBa8", 32, L::Rgba, C::Byte, 8, 0x02200016},
    PixelFormatInfo{"BGRa8", 32, L::Bgra, C::Byte, 8, 0x02200017},
    PixelFormatInfo{"YUV422Packed", 16, L::Uyvy, C::Byte, 8, 0x0210001F},
    PixelFormatInfo{"YUV422_8", 16, L::Yuyv, C::Byte, 8, 0x02100032},
    PixelFormatInfo{"YUV411Packed", 12, L::Uyyvyy, C::Byte, 8, 0x020C001E},
    PixelFormatInfo{"YUV444Packed", 24, L::Uyv, C::Byte, 8, 0x02180020},
    // The same three layouts under their current names (the ones above are their legacy spellings).
    PixelFormatInfo{"YUV422_8_UYVY", 16, L::Uyvy, C::Byte, 8, 0x0210001F},
    PixelFormatInfo{"YUV411_8_UYYVYY", 12, L::Uyyvyy, C::Byte, 8, 0x020C001E},
    PixelFormatInfo{"YUV8_UYV", 24, L::Uyv, C::Byte, 8, 0x02180020},
    // Not a GenICam name. The driver's format table files it with RGB8Packed (24 bits, RGB24), so it is taken
    // for what such cameras send: the sensor's mosaic already interpolated on the camera, delivered as R, G, B
    // bytes per pixel, exactly the RGB8Packed layout.
    PixelFormatInfo{"BayerRGB8Packed", 24, L::Rgb, C::Byte, 8, 0x00000000},
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

const PixelFormatInfo* findPixelFormatByCode(uint32_t code) noexcept {
    if (code == 0) {
        return nullptr; // the table's mark for a name the convention lacks
    }
    for (const PixelFormatInfo& format : kFormats) {
        if (format.code == code) {
            return &format;
        }
    }
    return nullptr;
}

} // namespace sdk::core
