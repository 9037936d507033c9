#include "sdk/convert/ConvertImage.h"

#include "sdk/SdkExceptions.h"
#include "sdk/convert/ConvertImagePool.h"

#include <cstdlib>
#include <cstring>

namespace sdk::convert {
namespace {

constexpr const char* kTransform = "Image::TransformImage";
constexpr std::size_t kBlockAlignment = 64;

// The format a transform of `source` into `target` produces: BGR8 under either of its names, or the source's
// own format (a copy that keeps its layout).
const core::PixelFormatInfo& transformTarget(const core::PixelFormatInfo& source, const String& target) {
    if (target.isNull()) {
        Exceptions::raise("InvalidArgumentException", kTransform, "the target pixel format is null");
    }
    const core::PixelFormatInfo* format = core::findPixelFormat(target.view());
    if (format == nullptr) {
        Exceptions::raise("InvalidArgumentException", kTransform,
                          "unknown target pixel format \"" + target.str() + "\"");
    }
    const bool bgr8 = format->layout == core::ColourLayout::Bgr && format->coding == core::SampleCoding::Byte;
    if (!bgr8 && format != &source) {
        Exceptions::raise("NotAvailableException", kTransform,
                          std::string("images are converted to BGR8 or copied in their own format; ") + source.name +
                              " to " + format->name + " is not supported");
    }
    return *format;
}

} // namespace

void ConvertImage::FreeBlock::operator()(unsigned char* block) const noexcept {
    std::free(block); // NOLINT(cppcoreguidelines-owning-memory): the block comes from std::aligned_alloc
}

unsigned char* ConvertImage::blockOf(uint64_t bytes) {
    if (bytes > m_nCapacity) {
        m_block.reset();
        m_nCapacity = 0;
        // Whole cache lines: the vector kernels' stores then never straddle two lines, as with OpenCV's own
        // allocations.
        const uint64_t rounded = (bytes + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
        m_block.reset(static_cast<unsigned char*>(std::aligned_alloc(kBlockAlignment, rounded))); // NOLINT
        if (m_block == nullptr) {
            Exceptions::raise("ResourceException", kTransform,
                              "no memory for a converted image of " + std::to_string(bytes) + " bytes");
        }
        m_nCapacity = rounded;
    }
    return m_block.get();
}

void* ConvertImage::GetBuffer() {
    // A view's memory is the caller's, handed over as mutable memory in CreateImage.
    return const_cast<unsigned char*>(m_frame.memory); // NOLINT(cppcoreguidelines-pro-type-const-cast)
}

Image* ConvertImage::doTransformImage(const String& targetFormat) {
    const core::PixelFormatInfo& source = *m_frame.format;
    const core::PixelFormatInfo& target = transformTarget(source, targetFormat);

    FrameView result{&target, m_frame.width, m_frame.height, nullptr, 0};
    const bool copy = &target == &source || target.layout == source.layout;
    result.size = copy ? core::framePayloadSize(source, m_frame.width, m_frame.height) : bgr8Bytes(m_frame);
    const uint64_t scratch = copy ? 0 : bgr8ScratchBytes(m_frame);

    PooledImage image = m_pool.take(result.size + scratch, kTransform);
    unsigned char* out = image->blockOf(result.size + scratch);
    result.memory = out;
    if (copy) {
        std::memcpy(out, m_frame.memory, static_cast<std::size_t>(result.size));
    } else {
        convertToBgr8(m_frame, out, scratch > 0 ? out + result.size : nullptr);
    }
    image->showFrame(result);
    return image.release();
}

void ConvertImage::Release() {
    m_pool.giveBack(this);
}

} // namespace sdk::convert
