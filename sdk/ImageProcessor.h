// Pixel conversion: the process-wide ImageProcessor makes Images over frame memory and transforms them.
#pragma once

#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

#include <cstdint>

namespace sdk {

// An image made by the ImageProcessor. The memory of a transformed image lives until Release().
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
    // A new image holding this one converted to `targetFormat`; release both.
    [[nodiscard]] virtual Image* TransformImage(const String& targetFormat) = 0;
    // Gives the image back to the processor; the image must not be used afterwards.
    virtual void Release() = 0;

protected:
    virtual ~Image();
};

class VXSDK_API ImageProcessor {
public:
    // The process-wide processor. It lives as long as the SDK library; nobody releases it.
    static ImageProcessor* GetInstance();

    // An image over `memory` (not copied, not owned) of `size` bytes in `pixelFormat`. Thread-safe.
    [[nodiscard]] Image* CreateImage(uint32_t width, uint32_t height, const String& pixelFormat, void* memory,
                                     uint64_t size);

    ImageProcessor(const ImageProcessor&) = delete;
    ImageProcessor& operator=(const ImageProcessor&) = delete;

private:
    ImageProcessor() = default;
    ~ImageProcessor() = default;
};

} // namespace sdk
