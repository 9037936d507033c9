// The images of the processor that are not in use, kept with their memory for the next frames.
#pragma once

#include "sdk/convert/ConvertImage.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace sdk::convert {

class ImagePool;

// Gives an image back to its pool when a conversion fails before the image reaches the caller.
struct GiveBackToPool {
    ImagePool* pool = nullptr;
    void operator()(ConvertImage* image) const noexcept;
};
using PooledImage = std::unique_ptr<ConvertImage, GiveBackToPool>;

class ImagePool {
public:
    ImagePool();
    ImagePool(const ImagePool&) = delete;
    ImagePool& operator=(const ImagePool&) = delete;
    ~ImagePool();

    // An idle image, or a new one. With `bytes` above 0, an image whose own block is likeliest to hold that many
    // bytes without growing (ConvertImage::blockOf makes sure). Raises ResourceException for `caller` when
    // memory runs out. Thread-safe.
    [[nodiscard]] PooledImage take(uint64_t bytes, const char* caller);
    // Takes back an image that was handed out; it is kept idle, or destroyed when enough are. Thread-safe.
    void giveBack(ConvertImage* image) noexcept;

private:
    // Idle images kept per list: enough for a few delivery threads with a source and a converted image each.
    static constexpr std::size_t kMaxIdle = 16;

    [[nodiscard]] std::unique_ptr<ConvertImage> takeIdle(uint64_t bytes);

    // Guards both idle lists: images are taken and given back on every delivery thread at once.
    std::mutex m_mutex;
    std::vector<std::unique_ptr<ConvertImage>> m_idleViews;  // images without a block of their own
    std::vector<std::unique_ptr<ConvertImage>> m_idleBlocks; // images with one, most recently returned last
};

} // namespace sdk::convert
