// Input the image processor cannot read is an SDK error with a description, raised before any byte is read; and
// the session's call gate can make either call fail.
#include "sdk/SdkExceptions.h"
#include "sdk/SystemList.h"
#include "tests/convert/ConvertTestSupport.h"
#include "tests/support/SimEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>
#include <string>

namespace vxcam::test {
namespace {

// Runs `call` and gives back the SDK error it raised (`raised` false when it raised none).
struct RaisedError {
    bool raised = false;
    std::string type;
    std::string function;
    std::string description;
};

RaisedError raisedBy(const std::function<void()>& call) {
    RaisedError error;
    try {
        call();
    } catch (const sdk::Exceptions::IException& e) {
        error = {true, e.GetType().str(), e.GetFunctionName().str(), e.GetErrorDescription().str()};
    }
    return error;
}

struct BadInput {
    const char* label;
    const char* format; // null: the null text
    uint32_t width;
    uint32_t height;
    int64_t sizeDelta; // bytes given beyond (or, negative, short of) the frame's payload
    bool nullMemory;
    const char* type;
    const char* mentions; // a word the description must contain
};

std::ostream& operator<<(std::ostream& out, const BadInput& c) {
    return out << c.label;
}

constexpr const char* kInvalid = "InvalidArgumentException";
constexpr const char* kOutOfRange = "OutOfRangeException";

constexpr BadInput kBadInputs[] = {
    {"UnknownName", "Mono9", 8, 8, 0, false, kInvalid, "Mono9"},
    {"NameInWrongCase", "mono8", 8, 8, 0, false, kInvalid, "mono8"},
    {"EmptyName", "", 8, 8, 0, false, kInvalid, "unknown"},
    {"NullName", nullptr, 8, 8, 0, false, kInvalid, "null"},
    {"NullMemory", "Mono8", 8, 8, 0, true, kInvalid, "null"},
    {"ZeroWidth", "Mono8", 0, 8, 0, false, kInvalid, "no pixels"},
    {"ZeroHeight", "RGB8", 8, 0, 0, false, kInvalid, "no pixels"},
    {"BeyondTheEnginesReach", "Mono8", 65536, 65536, 0, false, kOutOfRange, "pixels"},
    {"Mono8OneByteShort", "Mono8", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"Mono16OneByteShort", "Mono16", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"Mono10pOneByteShort", "Mono10p", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"BayerRG12PackedOneByteShort", "BayerRG12Packed", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"RGBa8OneByteShort", "RGBa8", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"YUV411OneByteShort", "YUV411Packed", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"NoMemoryAtAll", "YUV444Packed", 8, 8, -192, false, kOutOfRange, "bytes"},
    {"YUV422PackedOddWidth", "YUV422Packed", 5, 4, 8, false, kInvalid, "multiple"},
    {"YUV422_8OddWidth", "YUV422_8", 3, 2, 8, false, kInvalid, "multiple"},
    {"YUV411WidthNotFour", "YUV411Packed", 6, 4, 8, false, kInvalid, "multiple"},
    {"Mono10pPartGroup", "Mono10p", 3, 3, 8, false, kInvalid, "whole groups"},
    {"Mono12pPartGroup", "Mono12p", 3, 1, 8, false, kInvalid, "whole groups"},
    {"Mono12PackedPartGroup", "Mono12Packed", 1, 1, 8, false, kInvalid, "whole groups"},
    {"BayerBG10pPartGroup", "BayerBG10p", 2, 3, 8, false, kInvalid, "whole groups"},
    {"Mono10PackedOneByteShort", "Mono10Packed", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"BayerRG10PackedOneByteShort", "BayerRG10Packed", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"Mono10PackedPartGroup", "Mono10Packed", 1, 1, 8, false, kInvalid, "whole groups"},
    {"BayerGR10PackedPartGroup", "BayerGR10Packed", 3, 3, 8, false, kInvalid, "whole groups"},
    {"YUV422_8_UYVYOddWidth", "YUV422_8_UYVY", 5, 4, 8, false, kInvalid, "multiple"},
    {"YUV411_8_UYYVYYWidthNotFour", "YUV411_8_UYYVYY", 6, 4, 8, false, kInvalid, "multiple"},
    {"YUV411_8_UYYVYYOneByteShort", "YUV411_8_UYYVYY", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"YUV8_UYVOneByteShort", "YUV8_UYV", 8, 8, -1, false, kOutOfRange, "bytes"},
    {"BayerOneColumn", "BayerRG8", 1, 8, 0, false, kInvalid, "2 x 2"},
    {"BayerOneRow", "BayerGB16", 8, 1, 0, false, kInvalid, "2 x 2"},
};

class BadInputTest : public ::testing::TestWithParam<BadInput> {};

// The memory given is exactly as large as the caller says, so that a read past it would show under ASan.
TEST_P(BadInputTest, IsRefusedWithADescription) {
    const BadInput& c = GetParam();
    const uint64_t payload = c.format != nullptr ? payloadOf(c.format, c.width, c.height) : 0;
    const auto size = static_cast<uint64_t>(std::max<int64_t>(static_cast<int64_t>(payload) + c.sizeDelta, 0));
    // Beyond-reach frames are refused on their size alone; they get a token buffer rather than gigabytes. A size
    // of 0 still comes with a valid pointer.
    std::vector<unsigned char> memory(std::clamp<uint64_t>(size, 1, 1 << 20));
    const RaisedError error = raisedBy([&] {
        sdk::Image* image = sdk::ImageProcessor::GetInstance()->CreateImage(
            c.width, c.height, c.format != nullptr ? sdk::String(c.format) : sdk::String(),
            c.nullMemory ? nullptr : memory.data(), size);
        image->Release();
    });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.type, c.type);
    EXPECT_EQ(error.function, "ImageProcessor::CreateImage");
    EXPECT_NE(error.description.find(c.mentions), std::string::npos) << error.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadInputTest, ::testing::ValuesIn(kBadInputs), caseLabel<BadInput>);

struct BadTarget {
    const char* label;
    const char* target;
    const char* type;
    const char* mentions;
};

std::ostream& operator<<(std::ostream& out, const BadTarget& c) {
    return out << c.label;
}

class BadTargetTest : public ::testing::TestWithParam<BadTarget> {};

TEST_P(BadTargetTest, IsRefusedWithADescription) {
    const BadTarget& c = GetParam();
    std::vector<unsigned char> frame = renderedFrame("BayerRG8", 16, 4);
    const ImageHandle source = createImage("BayerRG8", 16, 4, frame);
    const RaisedError error = raisedBy([&] { static_cast<void>(transform(*source, c.target)); });
    ASSERT_TRUE(error.raised);
    EXPECT_EQ(error.type, c.type);
    EXPECT_EQ(error.function, "Image::TransformImage");
    EXPECT_NE(error.description.find(c.mentions), std::string::npos) << error.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, BadTargetTest,
                         ::testing::Values(BadTarget{"Unknown", "BGR9", kInvalid, "BGR9"},
                                           BadTarget{"Null", nullptr, kInvalid, "null"},
                                           BadTarget{"NeitherBgr8NorOwn", "Mono8", "NotAvailableException", "Mono8"},
                                           BadTarget{"RgbOrder", "RGB8", "NotAvailableException", "RGB8"}),
                         caseLabel<BadTarget>);

// Faults configured for the two calls strike them, matched by the pixel-format name the call carries.
TEST(ConvertFaults, TheSessionsGateCanFailEitherCall) {
    const SimEnvironment env(simConfig(
        {simDevice(QStringLiteral("SN1"))},
        QStringLiteral(R"({ "call": "ImageProcessor::CreateImage", "match": "BayerRG8", "description": "no engine" },
                          { "call": "Image::TransformImage", "nth": 2, "type": "ResourceException",
                            "description": "out of images" })")));
    ASSERT_NE(sdk::SystemList::GetInstance(), nullptr);
    std::vector<unsigned char> bayer = renderedFrame("BayerRG8", 16, 4);
    std::vector<unsigned char> mono = renderedFrame("Mono8", 16, 4);

    const RaisedError createFault = raisedBy([&] { static_cast<void>(createImage("BayerRG8", 16, 4, bayer)); });
    EXPECT_TRUE(createFault.raised);
    EXPECT_EQ(createFault.function, "ImageProcessor::CreateImage");
    EXPECT_EQ(createFault.description, "no engine");

    const ImageHandle image = createImage("Mono8", 16, 4, mono);                          // another format: not matched
    EXPECT_FALSE(raisedBy([&] { static_cast<void>(transform(*image, "BGR8")); }).raised); // the first passes
    const RaisedError transformFault = raisedBy([&] { static_cast<void>(transform(*image, "BGR8")); });
    EXPECT_TRUE(transformFault.raised);
    EXPECT_EQ(transformFault.type, "ResourceException");
    EXPECT_EQ(transformFault.description, "out of images");

    // Between sessions there is no gate, and nothing fails.
    sdk::SystemList::ReleaseInstance();
    EXPECT_FALSE(
        raisedBy([&] { static_cast<void>(transform(*createImage("BayerRG8", 16, 4, bayer), "BGR8")); }).raised);
}

} // namespace
} // namespace vxcam::test
