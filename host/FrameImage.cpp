#include "host/FrameImage.h"

#include <algorithm>
#include <cstring>

namespace vxcam::host {
namespace {

// Grey samples of a layout, one after another, as their values.
class GreyReader {
public:
    GreyReader(const ReceivedLayout& layout, const unsigned char* bytes) noexcept : m_layout(layout), m_bytes(bytes) {}

    [[nodiscard]] uint32_t sample(uint64_t index) const noexcept {
        switch (m_layout.samples) {
        case SampleLayout::Gray16:
            return uint32_t{m_bytes[2 * index]} | (uint32_t{m_bytes[2 * index + 1]} << 8U);
        case SampleLayout::GrayPacked10:
            return bitStreamSample(index, 10);
        case SampleLayout::GrayPacked12:
            return bitStreamSample(index, 12);
        case SampleLayout::GrayNibbles12:
            return nibblePairSample(index);
        default:
            return m_bytes[index];
        }
    }

private:
    // Sample `index` of a least-significant-bit-first stream of `bits`-bit samples.
    [[nodiscard]] uint32_t bitStreamSample(uint64_t index, uint32_t bits) const noexcept {
        const uint64_t first = index * bits;
        uint32_t value = 0;
        for (uint32_t bit = 0; bit < bits; ++bit) {
            const uint64_t position = first + bit;
            value |= ((uint32_t{m_bytes[position / 8]} >> (position % 8)) & 1U) << bit;
        }
        return value;
    }

    // Byte 0 and byte 2 of a group hold bits 11..4 of the first and the second sample; byte 1 holds their bits
    // 3..0, the first sample's in the low nibble.
    [[nodiscard]] uint32_t nibblePairSample(uint64_t index) const noexcept {
        const unsigned char* group = m_bytes + index / 2 * 3;
        const bool second = index % 2 == 1;
        const uint32_t high = group[second ? 2 : 0];
        const uint32_t low = second ? (uint32_t{group[1]} >> 4U) : (uint32_t{group[1]} & 0xFU);
        return (high << 4U) | low;
    }

    const ReceivedLayout& m_layout;
    const unsigned char* m_bytes;
};

QImage copiedRows(QImage::Format format, int32_t width, int32_t height, int bytesPerPixel,
                  const std::vector<unsigned char>& bytes) {
    QImage image(width, height, format);
    if (image.isNull()) {
        return image;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(bytesPerPixel);
    for (int32_t row = 0; row < height; ++row) {
        std::memcpy(image.scanLine(row), bytes.data() + static_cast<std::size_t>(row) * rowBytes, rowBytes);
    }
    return image;
}

// BGR8 becomes RGB888 here rather than in Qt, whose conversions of large images run on its thread pool.
QImage swappedToRgb(int32_t width, int32_t height, const std::vector<unsigned char>& bytes) {
    QImage image(width, height, QImage::Format_RGB888);
    if (image.isNull()) {
        return image;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int32_t row = 0; row < height; ++row) {
        const unsigned char* in = bytes.data() + static_cast<std::size_t>(row) * rowBytes;
        unsigned char* out = image.scanLine(row);
        for (std::size_t i = 0; i < rowBytes; i += 3) {
            out[i] = in[i + 2];
            out[i + 1] = in[i + 1];
            out[i + 2] = in[i];
        }
    }
    return image;
}

QImage stretchedGrey(const ReceivedLayout& layout, int32_t width, int32_t height,
                     const std::vector<unsigned char>& bytes) {
    QImage image(width, height, QImage::Format_Grayscale16);
    if (image.isNull()) {
        return image;
    }
    const GreyReader reader(layout, bytes.data());
    const uint32_t top = (1U << static_cast<uint32_t>(layout.significantBits)) - 1U;
    for (int32_t row = 0; row < height; ++row) {
        // Grayscale16 scan lines hold native 16-bit values and are 4-byte aligned.
        auto* line = reinterpret_cast<quint16*>(image.scanLine(row)); // NOLINT
        for (int32_t column = 0; column < width; ++column) {
            const uint64_t index =
                static_cast<uint64_t>(row) * static_cast<uint64_t>(width) + static_cast<uint64_t>(column);
            const uint32_t value = std::min(reader.sample(index), top);
            line[column] = static_cast<quint16>((2 * uint64_t{value} * 65535U + top) / (2 * uint64_t{top}));
        }
    }
    return image;
}

} // namespace

QImage frameImage(const ReceivedLayout& layout, int32_t width, int32_t height,
                  const std::vector<unsigned char>& bytes) {
    const std::optional<std::size_t> needed = layout.frameBytes(width, height);
    if (!needed || bytes.size() < *needed) {
        return {};
    }
    switch (layout.samples) {
    case SampleLayout::Gray8:
        return copiedRows(QImage::Format_Grayscale8, width, height, 1, bytes);
    case SampleLayout::Rgb8:
        return copiedRows(QImage::Format_RGB888, width, height, 3, bytes);
    case SampleLayout::Bgr8:
        return swappedToRgb(width, height, bytes);
    case SampleLayout::Gray16:
    case SampleLayout::GrayPacked10:
    case SampleLayout::GrayPacked12:
    case SampleLayout::GrayNibbles12:
        return stretchedGrey(layout, width, height, bytes);
    case SampleLayout::Unknown:
        break;
    }
    return {};
}

} // namespace vxcam::host
