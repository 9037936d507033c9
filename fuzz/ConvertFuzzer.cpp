// Fuzzes the conversion engine: a pixel-format name (known or not), a geometry, a memory size the caller vouches
// for and the frame's bytes go to ImageProcessor::CreateImage, and the image is transformed to BGR8, to its own
// format or to a random target. The memory handed over is exactly as large as the size given, so any read past
// it is the engine's fault and the address sanitizer reports it.
#include "fuzz/FuzzSupport.h"
#include "sdk/ImageProcessor.h"
#include "sdk/SdkExceptions.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fuzzer/FuzzedDataProvider.h>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr std::array<const char*, 50> kFormats{"Mono8",
                                               "Mono10",
                                               "Mono12",
                                               "Mono14",
                                               "Mono16",
                                               "Mono10p",
                                               "Mono12p",
                                               "Mono12Packed",
                                               "BayerRG8",
                                               "BayerGR8",
                                               "BayerGB8",
                                               "BayerBG8",
                                               "BayerRG10",
                                               "BayerGR10",
                                               "BayerGB10",
                                               "BayerBG10",
                                               "BayerRG12",
                                               "BayerGR12",
                                               "BayerGB12",
                                               "BayerBG12",
                                               "BayerRG16",
                                               "BayerGR16",
                                               "BayerGB16",
                                               "BayerBG16",
                                               "BayerRG10p",
                                               "BayerGR10p",
                                               "BayerGB10p",
                                               "BayerBG10p",
                                               "BayerRG12p",
                                               "BayerGR12p",
                                               "BayerGB12p",
                                               "BayerBG12p",
                                               "BayerRG12Packed",
                                               "BayerGR12Packed",
                                               "BayerGB12Packed",
                                               "BayerBG12Packed",
                                               "RGB8",
                                               "RGB8Packed",
                                               "BGR8",
                                               "BGR8Packed",
                                               "RGBa8",
                                               "BGRa8",
                                               "YUV422Packed",
                                               "YUV411Packed",
                                               "YUV444Packed",
                                               "BayerRGB8Packed",
                                               "YUV422_8",
                                               "Mono",
                                               "",
                                               "BGR8\n"};

// Frames stay small so that the fuzzer runs thousands of inputs a second; the sizes are still random.
constexpr uint64_t kMaxMemory = 1U << 16U;

std::string formatName(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) {
        return in.PickValueInArray(kFormats);
    }
    return in.ConsumeRandomLengthString(24);
}

uint32_t side(FuzzedDataProvider& in) {
    // Mostly camera-like sizes, sometimes anything a 32-bit field holds.
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 80) : in.ConsumeIntegral<uint32_t>();
}

// Reads every byte of the image, so that the sanitizer sees a buffer shorter than the image claims.
unsigned readAll(sdk::Image& image) {
    const auto* bytes = static_cast<const unsigned char*>(image.GetBuffer());
    unsigned sum = 0;
    for (uint64_t i = 0; i < image.GetBufferSize(); ++i) {
        sum += bytes[i];
    }
    return sum;
}

struct Released {
    void operator()(sdk::Image* image) const { image->Release(); }
};
using ImageHandle = std::unique_ptr<sdk::Image, Released>;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    vxcam::fuzz::silenceQtLogging();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string format = formatName(in);
    const uint32_t width = side(in);
    const uint32_t height = side(in);
    const auto memorySize = in.ConsumeIntegralInRange<uint64_t>(0, kMaxMemory);
    const bool nullMemory = in.ConsumeIntegralInRange<int>(0, 31) == 0;
    const int targetChoice = in.ConsumeIntegralInRange<int>(0, 3);
    const std::string randomTarget = targetChoice == 3 ? formatName(in) : std::string();
    std::vector<unsigned char> memory(static_cast<std::size_t>(memorySize));
    const std::vector<unsigned char> pixels = in.ConsumeRemainingBytes<unsigned char>();
    for (std::size_t at = 0; at < memory.size() && !pixels.empty(); at += pixels.size()) {
        std::memcpy(memory.data() + at, pixels.data(), std::min(pixels.size(), memory.size() - at));
    }

    sdk::ImageProcessor* processor = sdk::ImageProcessor::GetInstance();
    try {
        const ImageHandle source(
            processor->CreateImage(width, height, format.c_str(), nullMemory ? nullptr : memory.data(), memorySize));
        if (source->GetWidth() != width || source->GetHeight() != height) {
            vxcam::fuzz::violated("the image's geometry differs from the frame's",
                                  QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size))); // NOLINT
        }
        const std::string target = targetChoice == 0   ? std::string("BGR8")
                                   : targetChoice == 1 ? std::string("BGR8Packed")
                                   : targetChoice == 2 ? source->GetPixelFormat().str()
                                                       : randomTarget;
        const ImageHandle converted(source->TransformImage(target.c_str()));
        const bool toBgr8 = target == "BGR8" || target == "BGR8Packed";
        if (toBgr8 && converted->GetBufferSize() != uint64_t{width} * height * 3) {
            vxcam::fuzz::violated("a BGR8 image's size is not three bytes per pixel",
                                  QByteArray(reinterpret_cast<const char*>(data), static_cast<int>(size))); // NOLINT
        }
        static_cast<void>(readAll(*converted));
    } catch (const sdk::Exceptions::IException&) {
        // Refused input is an SDK error with a description; that is the promised answer.
    }
    return 0;
}
