// Every copy of our kernels (baseline, AVX2) gives the same bytes as their scalar code on random input: the
// vector bodies are checked against the same kernel fed one group at a time, which only takes the scalar path.
#include "sdk/convert/ConvertKernelIsa.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace vxcam::test {
namespace {

using sdk::core::SampleCoding;

struct Kernels {
    const char* label;
    std::function<void(SampleCoding, uint32_t, const unsigned char*, unsigned char*, std::size_t)> toBytes;
    std::function<void(SampleCoding, uint32_t, const unsigned char*, unsigned char*, std::size_t)> toGreyBgr;
    std::function<void(const unsigned char*, unsigned char*, std::size_t)> yuv444;
    std::function<void(const unsigned char*, unsigned char*, std::size_t)> yuv411;
    bool available;
};

std::ostream& operator<<(std::ostream& out, const Kernels& k) {
    return out << k.label;
}

std::vector<Kernels> kernelCopies() {
    namespace base = sdk::convert::baseline;
    std::vector<Kernels> copies{
        {"baseline", base::samplesToBytes, base::samplesToGreyBgr, base::yuv444ToBgr, base::yuv411ToBgr, true}};
#if VXCAM_KERNELS_AVX2
    namespace avx2 = sdk::convert::avx2;
    copies.push_back({"avx2", avx2::samplesToBytes, avx2::samplesToGreyBgr, avx2::yuv444ToBgr, avx2::yuv411ToBgr,
                      __builtin_cpu_supports("avx2") != 0});
#endif
    return copies;
}

std::vector<unsigned char> randomBytes(std::size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> bytes(count);
    for (unsigned char& b : bytes) {
        b = static_cast<unsigned char>(byte(generator));
    }
    return bytes;
}

struct Coding {
    SampleCoding coding;
    uint32_t bits;
    std::size_t groupSamples;
    std::size_t groupBytes;
};

constexpr Coding kCodings[] = {
    {SampleCoding::Byte, 8, 1, 1},          {SampleCoding::Word16, 10, 1, 2},
    {SampleCoding::Word16, 12, 1, 2},       {SampleCoding::Word16, 16, 1, 2},
    {SampleCoding::Packed10Lsb, 10, 4, 5},  {SampleCoding::Packed12Lsb, 12, 2, 3},
    {SampleCoding::Packed12Nibs, 12, 2, 3}, {SampleCoding::Packed10Pairs, 10, 2, 3},
};

// Group counts around the vector widths and the grey chunk, so that bodies and tails both run.
constexpr std::size_t kGroupCounts[] = {1, 7, 16, 33, 64, 95, 130, 1024 + 37};

class KernelIsaTest : public ::testing::TestWithParam<Kernels> {
protected:
    void SetUp() override {
        if (!GetParam().available) {
            GTEST_SKIP() << "this processor does not run the " << GetParam().label << " kernels";
        }
    }
};

TEST_P(KernelIsaTest, SampleKernelsMatchTheirScalarPath) {
    const Kernels& k = GetParam();
    for (const Coding& c : kCodings) {
        for (const std::size_t groups : kGroupCounts) {
            const std::size_t samples = groups * c.groupSamples;
            const std::vector<unsigned char> in = randomBytes(groups * c.groupBytes, static_cast<unsigned>(samples));
            std::vector<unsigned char> bytesRef(samples);
            std::vector<unsigned char> greyRef(samples * 3);
            for (std::size_t g = 0; g < groups; ++g) {
                k.toBytes(c.coding, c.bits, in.data() + g * c.groupBytes, bytesRef.data() + g * c.groupSamples,
                          c.groupSamples);
                k.toGreyBgr(c.coding, c.bits, in.data() + g * c.groupBytes, greyRef.data() + g * c.groupSamples * 3,
                            c.groupSamples);
            }
            std::vector<unsigned char> bytes(samples);
            std::vector<unsigned char> grey(samples * 3);
            k.toBytes(c.coding, c.bits, in.data(), bytes.data(), samples);
            k.toGreyBgr(c.coding, c.bits, in.data(), grey.data(), samples);
            EXPECT_EQ(bytes, bytesRef) << "to bytes, " << c.bits << " bits, coding " << static_cast<int>(c.coding)
                                       << ", " << samples << " samples";
            EXPECT_EQ(grey, greyRef) << "to grey, " << c.bits << " bits, coding " << static_cast<int>(c.coding) << ", "
                                     << samples << " samples";
        }
    }
}

TEST_P(KernelIsaTest, YuvKernelsMatchTheirScalarPath) {
    const Kernels& k = GetParam();
    for (const std::size_t groups : kGroupCounts) {
        const std::vector<unsigned char> in444 = randomBytes(groups * 3, static_cast<unsigned>(groups));
        std::vector<unsigned char> ref444(groups * 3);
        for (std::size_t p = 0; p < groups; ++p) {
            k.yuv444(in444.data() + 3 * p, ref444.data() + 3 * p, 1);
        }
        std::vector<unsigned char> out444(groups * 3);
        k.yuv444(in444.data(), out444.data(), groups);
        EXPECT_EQ(out444, ref444) << "4:4:4, " << groups << " pixels";

        const std::vector<unsigned char> in411 = randomBytes(groups * 6, static_cast<unsigned>(groups + 1));
        std::vector<unsigned char> ref411(groups * 12);
        for (std::size_t g = 0; g < groups; ++g) {
            k.yuv411(in411.data() + 6 * g, ref411.data() + 12 * g, 4);
        }
        std::vector<unsigned char> out411(groups * 12);
        k.yuv411(in411.data(), out411.data(), groups * 4);
        EXPECT_EQ(out411, ref411) << "4:1:1, " << groups * 4 << " pixels";
    }
}

INSTANTIATE_TEST_SUITE_P(Copies, KernelIsaTest, ::testing::ValuesIn(kernelCopies()),
                         [](const ::testing::TestParamInfo<Kernels>& param) { return std::string(param.param.label); });

} // namespace
} // namespace vxcam::test
