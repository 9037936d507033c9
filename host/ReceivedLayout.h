// How the host reads the bytes at m_pImageData. The module names their layout for every frame (IGetFrameLayout,
// a PFNC name such as "Mono12p" or "BGR8"); this is what the tool makes of that name.
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
    QString name;            // for people: "Mono12 in 16-bit containers", "Mono12p (packed bit stream)"
    QString pfncName;        // as the module names it: "Mono12", "BGR8"; empty when it named none

    [[nodiscard]] bool known() const noexcept { return samples != SampleLayout::Unknown; }
    // Bytes of a frame of this size, or nothing when the size is not a frame's or the layout is unknown.
    [[nodiscard]] std::optional<std::size_t> frameBytes(int32_t width, int32_t height) const noexcept;
};

// The layout the module names `pfncName` for a frame. Unknown (its name kept for people) for an empty name and
// for layouts this tool does not read.
[[nodiscard]] ReceivedLayout layoutNamed(const QString& pfncName);

// Bytes of one line of `width` pixels when lines start on a byte, else nothing (packed formats whose lines
// run on in one bit stream).
[[nodiscard]] std::optional<std::size_t> lineBytes(const ReceivedLayout& layout, int32_t width) noexcept;

} // namespace vxcam::host
