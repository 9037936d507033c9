// The picture every simulated camera sends: colour bars, rendered in the camera's own pixel format.
#pragma once

#include <cstdint>
#include <string_view>

namespace sdk::sim {

// Eight vertical bars, left to right: white, yellow, cyan, green, magenta, red, blue, black (bar k spans columns
// [k*width/8, (k+1)*width/8)), rendered into `memory` in `pixelFormat`: mono formats carry BT.601 luma scaled to
// their bit depth, Bayer formats each site's own channel, YUV formats BT.601 limited range (the convention the
// SDK's image processor decodes), packed formats their standard bit layout. False, with memory untouched, when
// the format is unknown, `size` is smaller than the frame needs, or the size is one the format cannot hold (no
// pixels, a YUV width that splits a chroma group, a pixel count that does not fill whole packed groups).
// Thread-safe; `memory` is the caller's.
bool renderColourBars(std::string_view pixelFormat, uint32_t width, uint32_t height, unsigned char* memory,
                      uint64_t size) noexcept;

} // namespace sdk::sim
