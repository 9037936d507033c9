#include "sdk/sim/SimPattern.h"

#include "sdk/core/PixelFormats.h"

#include <array>
#include <cmath>
#include <cstring>
#include <optional>

// The pattern is the tests' oracle for the image processor, so it reads the pixel-format names on its own terms
// and encodes every layout the plain way, one sample at a time, sharing no code with the conversion kernels.
// Only the frame size comes from the SDK's format table, as it does for the simulated streams' buffers.

namespace sdk::sim {
namespace {

struct Colour {
    unsigned red;
    unsigned green;
    unsigned blue;
};

constexpr std::array<Colour, 8> kBars{{
    {255, 255, 255}, // white
    {255, 255, 0},   // yellow
    {0, 255, 255},   // cyan
    {0, 255, 0},     // green
    {255, 0, 255},   // magenta
    {255, 0, 0},     // red
    {0, 0, 255},     // blue
    {0, 0, 0},       // black
}};

enum class Picture { Mono, Bayer, Rgb, Bgr, Rgba, Bgra, YuvUyvy, YuvYuyv, YuvUyyvyy, YuvUyv };

enum class Packing {
    Bytes,      // one byte per sample
    Words,      // 16-bit little-endian containers
    BitStream,  // GenICam "p": samples one after the other, least significant bit first
    NibblePair, // "12Packed": two 12-bit samples in three bytes, the low nibbles sharing the middle byte
    BitPairs,   // "10Packed": two 10-bit samples in three bytes, their low two bits sharing the middle byte
};

struct Layout {
    Picture picture = Picture::Mono;
    uint32_t bits = 8;
    Packing packing = Packing::Bytes;
    std::array<std::array<char, 2>, 2> cell{}; // Bayer: the colour ('R', 'G', 'B') of each site, [row][column]
};

// "8", "10", ... followed by "", "p" or "Packed": the depth and the packing of Mono and Bayer names.
std::optional<Layout> depthAndPacking(std::string_view rest, Picture picture) {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') {
        ++digits;
    }
    const std::string_view depth = rest.substr(0, digits);
    const std::string_view suffix = rest.substr(digits);
    Layout layout;
    layout.picture = picture;
    if (depth == "8" && suffix.empty()) {
        return layout;
    }
    struct Depth {
        std::string_view digits;
        uint32_t bits;
    };
    for (const Depth& known : {Depth{"10", 10}, Depth{"12", 12}, Depth{"14", 14}, Depth{"16", 16}}) {
        if (depth != known.digits) {
            continue;
        }
        const uint32_t bits = known.bits;
        layout.bits = bits;
        if (suffix.empty()) {
            layout.packing = Packing::Words;
        } else if (suffix == "p" && bits != 16) {
            layout.packing = Packing::BitStream;
        } else if (suffix == "Packed" && bits == 12) {
            layout.packing = Packing::NibblePair;
        } else if (suffix == "Packed" && bits == 10) {
            layout.packing = Packing::BitPairs;
        } else {
            return std::nullopt;
        }
        return layout;
    }
    return std::nullopt;
}

// The 2 x 2 cell of a Bayer name's two letters, which give its first row; the second row holds green under the
// first row's red or blue and the other of red and blue under its green.
std::optional<Layout> bayerLayout(std::string_view rest) {
    const std::string_view firstRow = rest.substr(0, 2);
    if (firstRow != "RG" && firstRow != "GR" && firstRow != "GB" && firstRow != "BG") {
        return std::nullopt;
    }
    std::optional<Layout> layout = depthAndPacking(rest.substr(2), Picture::Bayer);
    if (layout) {
        const char other = firstRow.find('R') != std::string_view::npos ? 'B' : 'R';
        for (std::size_t column = 0; column < 2; ++column) {
            layout->cell[0][column] = firstRow[column];
            layout->cell[1][column] = firstRow[column] == 'G' ? other : 'G';
        }
    }
    return layout;
}

std::optional<Layout> layoutOf(std::string_view name) {
    struct Fixed {
        std::string_view name;
        Picture picture;
    };
    // "BayerRGB8Packed" is the mosaic already interpolated on the camera: R, G, B bytes like "RGB8Packed".
    constexpr std::array<Fixed, 14> kFixed{{
        {"RGB8", Picture::Rgb},
        {"RGB8Packed", Picture::Rgb},
        {"BayerRGB8Packed", Picture::Rgb},
        {"BGR8", Picture::Bgr},
        {"BGR8Packed", Picture::Bgr},
        {"RGBa8", Picture::Rgba},
        {"BGRa8", Picture::Bgra},
        {"YUV422Packed", Picture::YuvUyvy},
        {"YUV422_8", Picture::YuvYuyv},
        {"YUV411Packed", Picture::YuvUyyvyy},
        {"YUV444Packed", Picture::YuvUyv},
        {"YUV422_8_UYVY", Picture::YuvUyvy},
        {"YUV411_8_UYYVYY", Picture::YuvUyyvyy},
        {"YUV8_UYV", Picture::YuvUyv},
    }};
    for (const Fixed& fixed : kFixed) {
        if (name == fixed.name) {
            Layout layout;
            layout.picture = fixed.picture;
            return layout;
        }
    }
    if (name.substr(0, 4) == "Mono") {
        return depthAndPacking(name.substr(4), Picture::Mono);
    }
    if (name.substr(0, 5) == "Bayer") {
        return bayerLayout(name.substr(5));
    }
    return std::nullopt;
}

// Pixels along a line that share one chroma sample, and samples that a packing binds into one group.
uint32_t chromaGroup(Picture picture) {
    return picture == Picture::YuvUyvy || picture == Picture::YuvYuyv ? 2U : picture == Picture::YuvUyyvyy ? 4U : 1U;
}
uint32_t packingGroup(const Layout& layout) {
    if (layout.packing == Packing::BitStream) {
        return layout.bits == 10 ? 4U : 2U;
    }
    return layout.packing == Packing::NibblePair || layout.packing == Packing::BitPairs ? 2U : 1U;
}

// Writes samples one after another into zeroed memory, in the layout's packing.
class SampleWriter {
public:
    SampleWriter(unsigned char* memory, const Layout& layout) noexcept : m_memory(memory), m_layout(layout) {}

    void put(uint32_t value) noexcept {
        switch (m_layout.packing) {
        case Packing::Bytes:
            m_memory[m_nIndex] = static_cast<unsigned char>(value);
            break;
        case Packing::Words:
            m_memory[2 * m_nIndex] = static_cast<unsigned char>(value & 0xFFU);
            m_memory[2 * m_nIndex + 1] = static_cast<unsigned char>(value >> 8U);
            break;
        case Packing::BitStream:
            for (uint32_t bit = 0; bit < m_layout.bits; ++bit) {
                const uint64_t position = m_nIndex * m_layout.bits + bit;
                if (((value >> bit) & 1U) != 0) {
                    m_memory[position / 8] =
                        static_cast<unsigned char>(m_memory[position / 8] | (1U << (position % 8)));
                }
            }
            break;
        case Packing::NibblePair: {
            unsigned char* group = m_memory + m_nIndex / 2 * 3;
            const bool second = m_nIndex % 2 == 1;
            group[second ? 2 : 0] = static_cast<unsigned char>(value >> 4U);
            group[1] = static_cast<unsigned char>(group[1] | ((value & 0xFU) << (second ? 4U : 0U)));
            break;
        }
        case Packing::BitPairs: {
            unsigned char* group = m_memory + m_nIndex / 2 * 3;
            const bool second = m_nIndex % 2 == 1;
            group[second ? 2 : 0] = static_cast<unsigned char>(value >> 2U);
            group[1] = static_cast<unsigned char>(group[1] | ((value & 0x3U) << (second ? 4U : 0U)));
            break;
        }
        }
        ++m_nIndex;
    }

private:
    unsigned char* m_memory;
    const Layout& m_layout;
    uint64_t m_nIndex = 0; // samples written so far
};

const Colour& barAt(uint32_t column, uint32_t width) noexcept {
    std::size_t bar = 0;
    while (bar + 1 < kBars.size() && uint64_t{column} >= (bar + 1) * uint64_t{width} / 8) {
        ++bar;
    }
    return kBars[bar];
}

// 0..255 scaled to 0..2^bits-1, rounded.
uint32_t scaled(double value, uint32_t bits) noexcept {
    const auto top = static_cast<double>((1U << bits) - 1U);
    return static_cast<uint32_t>(std::lround(value * top / 255.0));
}

double lumaOf(const Colour& c) noexcept {
    return 0.299 * c.red + 0.587 * c.green + 0.114 * c.blue;
}

uint32_t bayerSite(const Colour& c, char site) noexcept {
    return site == 'R' ? c.red : site == 'G' ? c.green : c.blue;
}

// BT.601 limited range.
struct Yuv {
    double y;
    double u;
    double v;
};
Yuv yuvOf(const Colour& c) noexcept {
    return {16.0 + (65.481 * c.red + 128.553 * c.green + 24.966 * c.blue) / 255.0,
            128.0 + (-37.797 * c.red - 74.203 * c.green + 112.0 * c.blue) / 255.0,
            128.0 + (112.0 * c.red - 93.786 * c.green - 18.214 * c.blue) / 255.0};
}
uint32_t yuvByte(double value) noexcept {
    return static_cast<uint32_t>(std::lround(value));
}

// One line of a YUV picture; the pixels of a chroma group share the mean of their chroma.
void putYuvLine(SampleWriter& out, Picture picture, uint32_t width) noexcept {
    const uint32_t group = chromaGroup(picture);
    for (uint32_t first = 0; first < width; first += group) {
        std::array<uint32_t, 4> luma{};
        double u = 0;
        double v = 0;
        for (uint32_t i = 0; i < group; ++i) {
            const Yuv yuv = yuvOf(barAt(first + i, width));
            luma[i] = yuvByte(yuv.y);
            u += yuv.u / group;
            v += yuv.v / group;
        }
        switch (picture) {
        case Picture::YuvUyvy:
            for (const uint32_t sample : {yuvByte(u), luma[0], yuvByte(v), luma[1]}) {
                out.put(sample);
            }
            break;
        case Picture::YuvYuyv:
            for (const uint32_t sample : {luma[0], yuvByte(u), luma[1], yuvByte(v)}) {
                out.put(sample);
            }
            break;
        case Picture::YuvUyyvyy:
            for (const uint32_t sample : {yuvByte(u), luma[0], luma[1], yuvByte(v), luma[2], luma[3]}) {
                out.put(sample);
            }
            break;
        default:
            for (const uint32_t sample : {yuvByte(u), luma[0], yuvByte(v)}) {
                out.put(sample);
            }
            break;
        }
    }
}

void putLine(SampleWriter& out, const Layout& layout, uint32_t row, uint32_t width) noexcept {
    switch (layout.picture) {
    case Picture::Mono:
        for (uint32_t x = 0; x < width; ++x) {
            out.put(scaled(lumaOf(barAt(x, width)), layout.bits));
        }
        return;
    case Picture::Bayer:
        for (uint32_t x = 0; x < width; ++x) {
            out.put(scaled(bayerSite(barAt(x, width), layout.cell[row % 2][x % 2]), layout.bits));
        }
        return;
    case Picture::Rgb:
    case Picture::Bgr:
    case Picture::Rgba:
    case Picture::Bgra:
        for (uint32_t x = 0; x < width; ++x) {
            const Colour& c = barAt(x, width);
            const bool rgbOrder = layout.picture == Picture::Rgb || layout.picture == Picture::Rgba;
            out.put(rgbOrder ? c.red : c.blue);
            out.put(c.green);
            out.put(rgbOrder ? c.blue : c.red);
            if (layout.picture == Picture::Rgba || layout.picture == Picture::Bgra) {
                out.put(255);
            }
        }
        return;
    default:
        putYuvLine(out, layout.picture, width);
        return;
    }
}

} // namespace

bool renderColourBars(std::string_view pixelFormat, uint32_t width, uint32_t height, unsigned char* memory,
                      uint64_t size) noexcept {
    const core::PixelFormatInfo* format = core::findPixelFormat(pixelFormat);
    const std::optional<Layout> layout = format != nullptr ? layoutOf(pixelFormat) : std::nullopt;
    const uint64_t pixels = uint64_t{width} * height;
    if (!layout || memory == nullptr || pixels == 0 || pixels > (uint64_t{1} << 40U) ||
        width % chromaGroup(layout->picture) != 0 || pixels % packingGroup(*layout) != 0) {
        return false;
    }
    const uint64_t needed = core::framePayloadSize(*format, width, height);
    if (size < needed) {
        return false;
    }
    std::memset(memory, 0, static_cast<std::size_t>(needed));
    SampleWriter out(memory, *layout);
    for (uint32_t row = 0; row < height; ++row) {
        putLine(out, *layout, row, width);
    }
    return true;
}

} // namespace sdk::sim
