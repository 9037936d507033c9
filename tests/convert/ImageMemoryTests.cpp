// Converted images' memory: kept across frames, never shared between images alive at once, and safe to use
// from several delivery threads.
#include "tests/convert/ConvertTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <vector>

namespace vxcam::test {
namespace {

// The BGR8 bytes of one conversion, copied out.
std::vector<unsigned char> convertedBytes(const std::string& format, uint32_t width, uint32_t height,
                                          std::vector<unsigned char>& frame) {
    const ImageHandle source = createImage(format, width, height, frame);
    const ImageHandle bgr = transform(*source, "BGR8");
    const auto* bytes = static_cast<const unsigned char*>(bgr->GetBuffer());
    return {bytes, bytes + bgr->GetBufferSize()};
}

TEST(ImageMemory, SameSizeFramesReuseTheConvertedMemory) {
    std::vector<unsigned char> frame = renderedFrame("BayerGR12", 64, 8);
    void* first = nullptr;
    {
        const ImageHandle source = createImage("BayerGR12", 64, 8, frame);
        first = transform(*source, "BGR8")->GetBuffer();
    }
    for (int n = 0; n < 3; ++n) {
        const ImageHandle source = createImage("BayerGR12", 64, 8, frame);
        const ImageHandle bgr = transform(*source, "BGR8");
        EXPECT_EQ(bgr->GetBuffer(), first) << "frame " << n;
    }
}

TEST(ImageMemory, SmallerFrameFitsInALargerFramesMemory) {
    std::vector<unsigned char> large = renderedFrame("RGB8", 64, 16);
    std::vector<unsigned char> small = renderedFrame("RGB8", 32, 8);
    void* largeMemory = nullptr;
    {
        const ImageHandle source = createImage("RGB8", 64, 16, large);
        largeMemory = transform(*source, "BGR8")->GetBuffer();
    }
    const ImageHandle source = createImage("RGB8", 32, 8, small);
    const ImageHandle bgr = transform(*source, "BGR8");
    EXPECT_EQ(bgr->GetBuffer(), largeMemory);
    EXPECT_EQ(bgr->GetBufferSize(), uint64_t{32} * 8 * 3);
}

TEST(ImageMemory, ImagesAliveAtOnceHaveTheirOwnMemory) {
    std::vector<unsigned char> frame = renderedFrame("Mono8", 64, 8);
    const ImageHandle source = createImage("Mono8", 64, 8, frame);
    const ImageHandle first = transform(*source, "BGR8");
    const std::vector<unsigned char> before(static_cast<const unsigned char*>(first->GetBuffer()),
                                            static_cast<const unsigned char*>(first->GetBuffer()) +
                                                first->GetBufferSize());
    std::vector<unsigned char> other = renderedFrame("BayerBG8", 64, 8);
    const ImageHandle otherSource = createImage("BayerBG8", 64, 8, other);
    const ImageHandle second = transform(*otherSource, "BGR8");

    EXPECT_NE(first->GetBuffer(), second->GetBuffer());
    EXPECT_EQ(std::memcmp(first->GetBuffer(), before.data(), before.size()), 0)
        << "the second conversion wrote into the first image";
}

// Four threads convert different formats and sizes at once; each result equals the same conversion done alone.
// Under ThreadSanitizer this also checks the processor's shared state.
TEST(ImageMemory, ConcurrentConversionsMatchSingleThreadedOnes) {
    struct Job {
        const char* format;
        uint32_t width;
        uint32_t height;
    };
    const std::vector<Job> jobs{
        {"BayerRG10p", 96, 12}, {"YUV411Packed", 64, 9}, {"Mono12Packed", 50, 10}, {"YUV422Packed", 48, 8}};
    std::vector<std::vector<unsigned char>> frames;
    std::vector<std::vector<unsigned char>> alone;
    for (const Job& job : jobs) {
        frames.push_back(renderedFrame(job.format, job.width, job.height));
        alone.push_back(convertedBytes(job.format, job.width, job.height, frames.back()));
    }

    constexpr int kRounds = 40;
    std::vector<std::future<int>> mismatches;
    for (std::size_t t = 0; t < jobs.size(); ++t) {
        mismatches.push_back(std::async(std::launch::async, [&, t] {
            int wrong = 0;
            for (int round = 0; round < kRounds; ++round) {
                const Job& job = jobs[(t + static_cast<std::size_t>(round)) % jobs.size()];
                const std::size_t index = (t + static_cast<std::size_t>(round)) % jobs.size();
                if (convertedBytes(job.format, job.width, job.height, frames[index]) != alone[index]) {
                    ++wrong;
                }
            }
            return wrong;
        }));
    }
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        EXPECT_EQ(mismatches[t].get(), 0) << "thread " << t;
    }
}

} // namespace
} // namespace vxcam::test
