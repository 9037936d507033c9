#include "sdk/ImageProcessor.h"

#include "sdk/SdkExceptions.h"
#include "sdk/convert/ConvertFrame.h"
#include "sdk/convert/ConvertImagePool.h"
#include "sdk/core/Session.h"

namespace sdk {
namespace {

constexpr const char* kCreate = "ImageProcessor::CreateImage";

const core::PixelFormatInfo& sourceFormat(const String& name) {
    if (name.isNull()) {
        Exceptions::raise("InvalidArgumentException", kCreate, "the pixel format is null");
    }
    const core::PixelFormatInfo* format = core::findPixelFormat(name.view());
    if (format == nullptr) {
        Exceptions::raise("InvalidArgumentException", kCreate, "unknown pixel format \"" + name.str() + "\"");
    }
    return *format;
}

} // namespace

ImageProcessor::ImageProcessor() : m_pPool(std::make_unique<convert::ImagePool>()) {}

ImageProcessor::~ImageProcessor() = default;

ImageProcessor* ImageProcessor::GetInstance() {
    if (const std::shared_ptr<core::CallGate> gate = core::Session::currentGate()) {
        gate->pass("ImageProcessor::GetInstance", {});
    }
    static ImageProcessor processor;
    return &processor;
}

Image* ImageProcessor::CreateImage(uint32_t width, uint32_t height, const String& pixelFormat, void* memory,
                                   uint64_t size) {
    if (core::CallGate* gate = core::Session::frameGate()) {
        gate->passUntraced(kCreate, pixelFormat.view());
    }
    const convert::FrameView frame{&sourceFormat(pixelFormat), width, height, static_cast<unsigned char*>(memory),
                                   size};
    if (const convert::FrameProblem problem = convert::findFrameProblem(frame)) {
        Exceptions::raise(problem.type, kCreate, problem.description);
    }
    convert::PooledImage image = m_pPool->take(0, kCreate);
    image->showFrame(frame);
    return image.release();
}

Image* Image::TransformImage(const String& targetFormat) {
    if (core::CallGate* gate = core::Session::frameGate()) {
        gate->passUntraced("Image::TransformImage", targetFormat.view());
    }
    return doTransformImage(targetFormat);
}

} // namespace sdk
