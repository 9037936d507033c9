// What the host receives in m_pImageData for a camera pixel format. The contract passes monochrome formats and
// those whose name begins with "RGB8" through in the camera's own layout and converts every other format to
// BGR8; it says nothing about the size of the pixel memory, so the host must know the layout before it reads.
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace vxcam::host {

enum class SampleLayout {
    Unknown,       // the host cannot tell: it must not read the pixels
    Gray8,         // one byte per pixel
    Gray16,        // a little-endian 16-bit container per pixel, the value in its low `significantBits`
    GrayPacked10,  // "Mono10p": 10-bit samples in one bit stream, least significant bit first
    GrayPacked12,  // "Mono12p": the same with 12-bit samples
    GrayNibbles12, // "Mono12Packed": two samples in three bytes, their low nibbles sharing the middle byte
    Rgb8,          // three bytes per pixel: red, green, blue
    Bgr8,          // three bytes per pixel: blue, green, red
};

struct ReceivedLayout {
    SampleLayout samples = SampleLayout::Unknown;
    int significantBits = 0; // of one grey value; 8 for colour
    QString name;            // for people: "Mono12 in 16-bit containers", "BGR8 (converted by the module)"

    [[nodiscard]] bool known() const noexcept { return samples != SampleLayout::Unknown; }
    // Bytes of a frame of this size, or nothing when the size is not a frame's or the layout is unknown.
    [[nodiscard]] std::optional<std::size_t> frameBytes(int32_t width, int32_t height) const noexcept;
};

// The layout in which frames of a camera sending `cameraPixelFormat` reach the host. Unknown for an empty name
// and for monochrome names this tool does not know.
[[nodiscard]] ReceivedLayout receivedLayoutFor(const QString& cameraPixelFormat);

} // namespace vxcam::host
