// Pixel conversion: the process-wide ImageProcessor makes Images over frame memory and transforms them.
#pragma once

#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>
#include <memory>

namespace sdk {

namespace convert {
class ImagePool;
} // namespace convert

// An image made by the ImageProcessor. The memory of a transformed image lives until Release(). One thread at a
// time uses an image; different images may be used on different threads at once.
class VXSDK_API Image {
public:
    Image() = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    [[nodiscard]] virtual uint32_t GetWidth() = 0;
    [[nodiscard]] virtual uint32_t GetHeight() = 0;
    [[nodiscard]] virtual String GetPixelFormat() = 0;
    [[nodiscard]] virtual void* GetBuffer() = 0;
    [[nodiscard]] virtual uint64_t GetBufferSize() = 0;
    // A new image holding this one converted to `targetFormat`; release both. Targets: "BGR8" (also under its
    // older name "BGR8Packed"), or the image's own format, which copies the pixels as they are.
    // The call passes the session's gate ("Image::TransformImage", faults matched on the target name).
    [[nodiscard]] Image* TransformImage(const String& targetFormat);
    // Gives the image back to the processor; the image must not be used afterwards.
    virtual void Release() = 0;

protected:
    virtual ~Image();
    [[nodiscard]] virtual Image* doTransformImage(const String& targetFormat) = 0;
};

class VXSDK_API ImageProcessor {
public:
    // The process-wide processor. It lives as long as the SDK library; nobody releases it.
    static ImageProcessor* GetInstance();

    // An image over `memory` (not copied, not owned) of `size` bytes in `pixelFormat`. Raises an SDK error for an
    // unknown format, a null memory, a size the format cannot hold or memory smaller than the frame. Thread-safe.
    [[nodiscard]] Image* CreateImage(uint32_t width, uint32_t height, const String& pixelFormat, void* memory,
                                     uint64_t size);

    ImageProcessor(const ImageProcessor&) = delete;
    ImageProcessor& operator=(const ImageProcessor&) = delete;

private:
    ImageProcessor();
    ~ImageProcessor();

    std::unique_ptr<convert::ImagePool> m_pPool; // the images not in use, with their memory; thread-safe itself
};

} // namespace sdk
