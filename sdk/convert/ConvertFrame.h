// One frame's pixels, the checks a frame must pass before any byte of it is read, and its conversion to BGR8.
#pragma once

#include "sdk/core/PixelFormats.h"

#include <cstdint>
#include <string>

namespace sdk::convert {

// Pixels somebody else owns, described by the caller of ImageProcessor::CreateImage.
struct FrameView {
    const core::PixelFormatInfo* format = nullptr;
    uint32_t width = 0;
    uint32_t height = 0;
    const unsigned char* memory = nullptr;
    uint64_t size = 0; // bytes the caller vouches for
};

// Why a frame cannot be read as described: the SDK error type to raise and its description.
struct FrameProblem {
    const char* type = nullptr; // null: no problem
    std::string description;
    explicit operator bool() const noexcept { return type != nullptr; }
};

// Finds a null memory, no pixels, more pixels than the engine handles, a size the format's groups do not fill,
// or fewer bytes than the frame needs. `frame.format` must not be null.
[[nodiscard]] FrameProblem findFrameProblem(const FrameView& frame);

// Bytes of the BGR8 output of a frame, and the extra bytes the conversion uses as its scratch space.
[[nodiscard]] uint64_t bgr8Bytes(const FrameView& frame) noexcept;
[[nodiscard]] uint64_t bgr8ScratchBytes(const FrameView& frame) noexcept;

// Converts a frame that passed findFrameProblem into BGR8 at `out` (bgr8Bytes), using `scratch` (bgr8ScratchBytes,
// may be null when that is 0). Raises an SDK error for "Image::TransformImage" when OpenCV refuses. Thread-safe
// for distinct outputs.
void convertToBgr8(const FrameView& frame, unsigned char* out, unsigned char* scratch);

} // namespace sdk::convert
