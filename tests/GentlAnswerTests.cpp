// A producer's answers are taken only for what they are: a text that ends within both the room given and the
// size reported, a number of the size and kind asked for.
#include "sdk/gentl/GentlAnswers.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using sdk::gentl::numberFits;
using sdk::gentl::producerText;

TEST(GentlAnswers, ATextCountsOnlyWhenItEndsWithinTheRoomAndTheReportedSize) {
    const char room[8] = {'a', 'b', 'c', '\0', 'X', 'X', 'X', 'X'};
    const char full[4] = {'a', 'b', 'c', 'd'};
    const struct {
        const char* name;
        const char* text;
        size_t capacity;
        size_t reported;
        const char* expected; // null: no text
    } cases[] = {
        {"exact", room, sizeof room, 4, "abc"},
        {"reported beyond the room", room, sizeof room, 400, "abc"},
        {"empty", room + 3, 5, 1, ""},
        {"reported short of the terminator", room, sizeof room, 3, nullptr},
        {"reported nothing", room, sizeof room, 0, nullptr},
        {"no terminator in the room", full, sizeof full, 400, nullptr},
        {"no text at all", nullptr, 0, 10, nullptr},
    };
    for (const auto& c : cases) {
        const auto text = producerText(c.text, c.capacity, c.reported);
        if (c.expected == nullptr) {
            EXPECT_FALSE(text.has_value()) << c.name << ": " << text.value_or("");
        } else {
            EXPECT_EQ(text, std::string(c.expected)) << c.name;
        }
    }
}

TEST(GentlAnswers, ANumberCountsOnlyWithItsSizeAndAKindThatFits) {
    EXPECT_TRUE(numberFits<uint64_t>(INFO_DATATYPE_UINT64, 8));
    EXPECT_TRUE(numberFits<uint64_t>(INFO_DATATYPE_SIZET, 8));
    EXPECT_TRUE(numberFits<uint64_t>(INFO_DATATYPE_UNKNOWN, 8)) << "a type left unset passes on its size";
    EXPECT_TRUE(numberFits<uint8_t>(INFO_DATATYPE_BOOL8, 1));
    EXPECT_TRUE(numberFits<double>(INFO_DATATYPE_FLOAT64, 8));
    EXPECT_TRUE(numberFits<void*>(INFO_DATATYPE_PTR, sizeof(void*)));

    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_UINT64, 4)) << "short";
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_UINT64, 16)) << "beyond the room";
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_STRING, 8));
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_BUFFER, 8));
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_FLOAT64, 8));
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_UINT32, 8)) << "a narrower type claimed for eight bytes";
    EXPECT_FALSE(numberFits<uint64_t>(INFO_DATATYPE_PTR, 8));
    EXPECT_FALSE(numberFits<double>(INFO_DATATYPE_UINT64, 8));
    EXPECT_FALSE(numberFits<uint64_t>(static_cast<INFO_DATATYPE>(1001), 8));
}

} // namespace
