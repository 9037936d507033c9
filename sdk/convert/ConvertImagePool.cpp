#include "sdk/convert/ConvertImagePool.h"

#include "sdk/SdkExceptions.h"

#include <new>

namespace sdk::convert {

void GiveBackToPool::operator()(ConvertImage* image) const noexcept {
    pool->giveBack(image);
}

ImagePool::ImagePool() {
    // Reserved now so that giving an image back never allocates.
    m_idleViews.reserve(kMaxIdle);
    m_idleBlocks.reserve(kMaxIdle);
}

ImagePool::~ImagePool() = default;

std::unique_ptr<ConvertImage> ImagePool::takeIdle(uint64_t bytes) {
    const std::lock_guard lock(m_mutex);
    std::vector<std::unique_ptr<ConvertImage>>& idle = bytes == 0 ? m_idleViews : m_idleBlocks;
    if (idle.empty()) {
        return nullptr;
    }
    // The most recently returned block that is big enough, whose memory is likeliest still in the caches;
    // else the most recent one, which grows.
    auto chosen = idle.end() - 1;
    for (auto it = idle.end(); it != idle.begin();) {
        --it;
        if ((*it)->capacity() >= bytes) {
            chosen = it;
            break;
        }
    }
    std::unique_ptr<ConvertImage> image = std::move(*chosen);
    idle.erase(chosen);
    return image;
}

PooledImage ImagePool::take(uint64_t bytes, const char* caller) {
    std::unique_ptr<ConvertImage> image = takeIdle(bytes);
    if (image == nullptr) {
        try {
            image = std::make_unique<ConvertImage>(*this);
        } catch (const std::bad_alloc&) {
            Exceptions::raise("ResourceException", caller, "no memory for one more image");
        }
    }
    return PooledImage(image.release(), GiveBackToPool{this});
}

void ImagePool::giveBack(ConvertImage* image) noexcept {
    std::unique_ptr<ConvertImage> returned(image);
    {
        const std::lock_guard lock(m_mutex);
        std::vector<std::unique_ptr<ConvertImage>>& idle = returned->capacity() == 0 ? m_idleViews : m_idleBlocks;
        if (idle.size() < kMaxIdle) {
            idle.push_back(std::move(returned));
        }
    }
    // An image beyond the idle limit is destroyed here, outside the lock.
}

} // namespace sdk::convert
