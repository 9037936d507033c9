// The arithmetic of a camera's share of a link: what a delay between packets lets a camera send, at the edges
// where the inputs say nothing or the share is tiny.
#include "sdk/aravis/AravisLinkBudget.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

namespace sdk::aravis::gev {
namespace {

constexpr uint64_t kGigabit = 1000000000;
constexpr uint64_t kNanosecondTicks = 1000000000;

struct ShareCase {
    const char* name;
    uint32_t packetSize;
    uint64_t linkBitsPerSecond;
    uint32_t cameras;
    uint64_t tickHz;
};

void PrintTo(const ShareCase& c, std::ostream* out) {
    *out << c.name;
}

class ShareTest : public ::testing::TestWithParam<ShareCase> {};

// The delay holds the camera to its share and gives away at most one tick's worth of it.
TEST_P(ShareTest, TheDelayHoldsTheCameraToItsShare) {
    const ShareCase& c = GetParam();
    const uint32_t delay = interPacketDelayTicks(c.packetSize, c.linkBitsPerSecond, c.cameras, c.tickHz);
    const double share = kStreamShareOfLink * static_cast<double>(c.linkBitsPerSecond) / c.cameras;
    EXPECT_LE(streamBitsPerSecond(c.packetSize, c.linkBitsPerSecond, delay, c.tickHz), share * (1 + 1e-9));
    ASSERT_GT(delay, 0U);
    EXPECT_GT(streamBitsPerSecond(c.packetSize, c.linkBitsPerSecond, delay - 1, c.tickHz), share);
}

INSTANTIATE_TEST_SUITE_P(Links, ShareTest,
                         ::testing::Values(ShareCase{"OneCameraGigabit", 1500, kGigabit, 1, kNanosecondTicks},
                                           ShareCase{"EightCamerasGigabitJumbo", 8000, kGigabit, 8, kNanosecondTicks},
                                           ShareCase{"ThreeCamerasFastEthernet", 1400, 100000000, 3, kNanosecondTicks},
                                           ShareCase{"TwoCamerasTenGigabit125MHzClock", 9000, 10 * kGigabit, 2,
                                                     125000000},
                                           ShareCase{"SmallestPackets", 576, kGigabit, 4, kNanosecondTicks}),
                         [](const ::testing::TestParamInfo<ShareCase>& c) { return std::string(c.param.name); });

// Nothing known about the link, the camera's clock or its packets, or no camera: no delay rather than a guess.
TEST(LinkBudget, UnknownInputsGiveNoDelay) {
    EXPECT_EQ(interPacketDelayTicks(0, kGigabit, 2, kNanosecondTicks), 0U);
    EXPECT_EQ(interPacketDelayTicks(1500, 0, 2, kNanosecondTicks), 0U);
    EXPECT_EQ(interPacketDelayTicks(1500, kGigabit, 0, kNanosecondTicks), 0U);
    EXPECT_EQ(interPacketDelayTicks(1500, kGigabit, 2, 0), 0U);
}

// A share too small for the register holds the camera as far as the register goes, never wrapping round to a
// short delay.
TEST(LinkBudget, ADelayBeyondTheRegisterStaysAtItsLargestValue) {
    EXPECT_EQ(interPacketDelayTicks(9000, 1000, 1000, kNanosecondTicks), std::numeric_limits<uint32_t>::max());
}

} // namespace
} // namespace sdk::aravis::gev
