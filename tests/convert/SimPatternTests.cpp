// The colour-bar renderer refuses what it cannot draw without touching the memory, and writes no byte beyond the
// frame.
#include "tests/convert/ConvertTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

namespace vxcam::test {
namespace {

constexpr unsigned char kUntouched = 0xA5;

struct Refusal {
    const char* label;
    const char* format;
    uint32_t width;
    uint32_t height;
    int64_t sizeDelta;
};

std::ostream& operator<<(std::ostream& out, const Refusal& c) {
    return out << c.label;
}

class PatternRefusalTest : public ::testing::TestWithParam<Refusal> {};

TEST_P(PatternRefusalTest, LeavesTheMemoryUntouched) {
    const Refusal& c = GetParam();
    const uint64_t payload = payloadOf(c.format, c.width, c.height);
    std::vector<unsigned char> memory(256, kUntouched);
    const auto size = static_cast<uint64_t>(static_cast<int64_t>(payload) + c.sizeDelta);
    ASSERT_LE(size, memory.size());
    EXPECT_FALSE(sdk::sim::renderColourBars(c.format, c.width, c.height, memory.data(), size));
    EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](unsigned char b) { return b == kUntouched; }));
}

INSTANTIATE_TEST_SUITE_P(Cases, PatternRefusalTest,
                         ::testing::Values(Refusal{"UnknownFormat", "Mono9", 8, 2, 64},
                                           Refusal{"OneByteShort", "BayerGB12p", 8, 2, -1},
                                           Refusal{"NoPixels", "Mono8", 0, 2, 0},
                                           Refusal{"YUV422OddWidth", "YUV422_8", 7, 2, 0},
                                           Refusal{"YUV411WidthNotFour", "YUV411Packed", 6, 2, 0},
                                           Refusal{"PackedPartGroup", "Mono10p", 3, 1, 0}),
                         caseLabel<Refusal>);

// Every byte of the payload is written (a guard before and after stays as it was, and a frame rendered over old
// contents equals one rendered over zeros).
TEST(PatternRendering, WritesExactlyThePayload) {
    for (const char* format : {"Mono10p", "BayerRG12Packed", "YUV411Packed", "RGBa8", "Mono14"}) {
        const uint64_t payload = payloadOf(format, 20, 3);
        std::vector<unsigned char> clean(payload, 0);
        ASSERT_TRUE(sdk::sim::renderColourBars(format, 20, 3, clean.data(), clean.size())) << format;

        std::vector<unsigned char> guarded(payload + 2, kUntouched);
        ASSERT_TRUE(sdk::sim::renderColourBars(format, 20, 3, guarded.data() + 1, payload)) << format;
        EXPECT_EQ(guarded.front(), kUntouched) << format;
        EXPECT_EQ(guarded.back(), kUntouched) << format;
        EXPECT_TRUE(std::equal(clean.begin(), clean.end(), guarded.begin() + 1)) << format;
    }
}

} // namespace
} // namespace vxcam::test
