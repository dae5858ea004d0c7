#include <gtest/gtest.h>

#include "terminal/value_parsing.h"

namespace {

TEST(DecimalValue, StreamRulesWithEmptyMeaningNone) {
    EXPECT_EQ(parseDecimalValue(""), std::nullopt);
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"258", 258},
                 {"-1", -1},
                 {"+7", 7},
                 {"0x10", 0},
                 {"12abc", 12},
                 {"abc", 0},
                 {"5=6", 5},
                 {"99999999999", 2147483647},
                 {"-99999999999", -2147483647 - 1},
                 {" 3", 3},
                 {"-", 0},
                 {"007", 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseDecimalValue(c.text), c.value) << c.text;
    }
}

TEST(HexWord, HexDigitsWithOptionalPrefixSaturating) {
    const struct {
        const char* text;
        uint16_t value;
    } cases[] = {{"DEAD", 0xDEAD},  {"dead", 0xDEAD}, {"0X1A", 0x1A},    {"0x1a", 0x1A},
                 {"zz", 0},         {"12g", 0x12},    {"12345", 0xFFFF}, {"ffff", 0xFFFF},
                 {"10000", 0xFFFF}, {"0", 0},         {"0x", 0},         {"7", 7}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseHexWord(c.text), c.value) << c.text;
    }
}

TEST(WriteValues, EveryWordWithoutEqualsAfterTheCommandIsOneValue) {
    EXPECT_EQ(collectWriteValues(Words("")), std::vector<uint16_t>{});
    EXPECT_EQ(collectWriteValues(Words(" a=5")), std::vector<uint16_t>{});
    EXPECT_EQ(collectWriteValues(Words("1 a=5\t2 zz x=y=z ")), (std::vector<uint16_t>{1, 2, 0}));
}

}  // namespace
