// The images ImageProcessor hands out: views of a caller's frame, and converted images over memory of their own.
#pragma once

#include "sdk/ImageProcessor.h"
#include "sdk/convert/ConvertFrame.h"

#include <cstdint>
#include <memory>

namespace sdk::convert {

class ImagePool;

// One image of the processor. A view describes memory that the caller owns; a converted image holds its pixels
// in a block of its own, which it keeps when it goes back to the pool so that the next frame of the same size
// needs no allocation. Ownership: the pool owns an idle image; whoever took it owns it until Release().
// Not thread-safe: one thread at a time uses an image, the one that holds it.
class ConvertImage final : public Image {
public:
    explicit ConvertImage(ImagePool& pool) noexcept : m_pool(pool) {}
    ConvertImage(const ConvertImage&) = delete;
    ConvertImage& operator=(const ConvertImage&) = delete;
    ~ConvertImage() override = default;

    // Becomes a view of `frame`, which passed findFrameProblem; the memory stays the caller's.
    void showFrame(const FrameView& frame) noexcept { m_frame = frame; }
    // Room for `bytes` bytes in the image's own block, grown when it is smaller. Raises ResourceException for
    // "Image::TransformImage" when the memory cannot be had.
    [[nodiscard]] unsigned char* blockOf(uint64_t bytes);
    // Bytes the own block holds; 0 for an image that never held converted pixels.
    [[nodiscard]] uint64_t capacity() const noexcept { return m_nCapacity; }

    uint32_t GetWidth() override { return m_frame.width; }
    uint32_t GetHeight() override { return m_frame.height; }
    String GetPixelFormat() override { return String(m_frame.format->name); }
    void* GetBuffer() override;
    uint64_t GetBufferSize() override { return m_frame.size; }
    void Release() override;

protected:
    // "BGR8" (or its older name "BGR8Packed"), or this image's own format for a plain copy. Thread-safe towards
    // other images.
    Image* doTransformImage(const String& targetFormat) override;

private:
    struct FreeBlock {
        void operator()(unsigned char* block) const noexcept;
    };

    ImagePool& m_pool;
    FrameView m_frame;                                   // what the image shows: the caller's memory or the own block
    std::unique_ptr<unsigned char[], FreeBlock> m_block; // converted pixels, then scratch; kept across uses
    uint64_t m_nCapacity = 0;                            // bytes of m_block
};

} // namespace sdk::convert
