// A received frame as a picture that keeps its content: 8-bit grey, 16-bit grey, or 8-bit colour.
#pragma once

#include "host/ReceivedLayout.h"

#include <QImage>

#include <cstdint>
#include <vector>

namespace vxcam::host {

// The frame in `bytes` (at least layout.frameBytes(width, height) of them) as an image: Mono8 as Grayscale8,
// RGB8 and BGR8 as RGB888, and every deeper grey layout as Grayscale16 with its values stretched to the full
// 16 bits (v * 65535 / (2^bits - 1), rounded), so that Mono12 white is PNG white. These are formats the PNG
// writer takes as they are. A null image when the layout is unknown or the bytes are too few.
[[nodiscard]] QImage frameImage(const ReceivedLayout& layout, int32_t width, int32_t height,
                                const std::vector<unsigned char>& bytes);

} // namespace vxcam::host
