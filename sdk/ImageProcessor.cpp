#include "sdk/ImageProcessor.h"

#include "sdk/SdkExceptions.h"
#include "sdk/core/Session.h"

namespace sdk {

ImageProcessor* ImageProcessor::GetInstance() {
    if (const std::shared_ptr<core::CallGate> gate = core::Session::currentGate()) {
        gate->pass("ImageProcessor::GetInstance", {});
    }
    static ImageProcessor processor;
    return &processor;
}

Image* ImageProcessor::CreateImage(uint32_t width, uint32_t height, const String& pixelFormat, void* memory,
                                   uint64_t size) {
    static_cast<void>(width);
    static_cast<void>(height);
    static_cast<void>(memory);
    static_cast<void>(size);
    Exceptions::raise("NotAvailableException", "ImageProcessor::CreateImage",
                      "no conversion engine is built in for " + pixelFormat.str());
}

} // namespace sdk
