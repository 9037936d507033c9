// The largest frame the SDK layer gives memory to, for every producer: a buffer is refused by its size before
// any memory is asked for.
#include "sdk/Buffer.h"
#include "sdk/SdkExceptions.h"
#include "sdk/core/BufferAccess.h"
#include "sdk/core/PayloadLimit.h"

#include <gtest/gtest.h>

#include <string>

namespace vxcam::test {
namespace {

class NoStream final : public sdk::core::BufferOwner {
public:
    void queueBuffer(sdk::Buffer& /*buffer*/) override {}
    void forgetBuffer(sdk::Buffer& /*buffer*/) noexcept override {}
};

struct AttachCase {
    uint64_t bytes;
    bool taken;
};

class BufferMemoryTest : public ::testing::TestWithParam<AttachCase> {};

TEST_P(BufferMemoryTest, IsGivenUpToTheLimitAndRefusedByItsSizeBeyond) {
    const AttachCase& c = GetParam();
    NoStream stream;
    sdk::Buffer buffer;
    if (c.taken) {
        sdk::core::BufferAccess::attach(buffer, stream, c.bytes);
        EXPECT_EQ(buffer.GetMemSize(), c.bytes);
        EXPECT_EQ(sdk::core::BufferAccess::owner(buffer), &stream);
        sdk::core::BufferAccess::detach(buffer);
        return;
    }
    try {
        sdk::core::BufferAccess::attach(buffer, stream, c.bytes);
        ADD_FAILURE() << c.bytes << " bytes were given";
    } catch (const sdk::Exceptions::IException& e) {
        EXPECT_EQ(e.GetType().str(), "ResourceException");
        EXPECT_NE(e.GetErrorDescription().str().find(std::to_string(c.bytes) + " bytes"), std::string::npos)
            << e.GetErrorDescription().str();
    }
    EXPECT_EQ(buffer.GetMemSize(), 0U);
    EXPECT_EQ(buffer.GetMemPtr(), nullptr);
    EXPECT_EQ(sdk::core::BufferAccess::owner(buffer), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BufferMemoryTest,
                         ::testing::Values(AttachCase{64, true}, AttachCase{sdk::core::kMaxFrameBytes + 1, false},
                                           AttachCase{uint64_t{65535} * 65535 * 3, false},
                                           AttachCase{UINT64_MAX, false}));

TEST(PayloadLimit, SizesAreNamedInBytesAndInTheirUnit) {
    EXPECT_EQ(sdk::core::describeBytes(100), "100 bytes");
    EXPECT_EQ(sdk::core::describeBytes(1536), "1536 bytes (1.5 KiB)");
    EXPECT_EQ(sdk::core::describeBytes(uint64_t{12884508675}), "12884508675 bytes (12.0 GiB)");
}

} // namespace
} // namespace vxcam::test
