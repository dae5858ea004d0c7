#include <gtest/gtest.h>

#include "terminal/value_parsing.h"
#include "terminal/write_check.h"

namespace {

TEST(DecimalValue, StreamRulesWithEmptyMeaningNone) {
    EXPECT_EQ(parseDecimalValue(""), std::nullopt);
    EXPECT_EQ(decimalForm("", 255), DecimalForm::empty);
    using Form = DecimalForm;
    // The form is against a field of 0 to 255.
    const struct {
        const char* text;
        int32_t value;
        DecimalForm form;
    } cases[] = {{"258", 258, Form::out_of_range},
                 {"-1", -1, Form::signed_number},
                 {"+7", 7, Form::signed_number},
                 {"0x10", 0, Form::not_decimal},
                 {"12abc", 12, Form::not_decimal},
                 {"abc", 0, Form::not_decimal},
                 {"5=6", 5, Form::not_decimal},
                 {"99999999999", 2147483647, Form::out_of_range},
                 {"-99999999999", -2147483647 - 1, Form::signed_number},
                 {" 3", 3, Form::not_decimal},
                 {"-", 0, Form::not_decimal},
                 {"0255", 255, Form::plain}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseDecimalValue(c.text), c.value) << c.text;
        EXPECT_EQ(decimalForm(c.text, 255), c.form) << c.text;
    }
}

TEST(HexWord, HexDigitsWithOptionalPrefixSaturating) {
    // Whether the word is taken as typed.
    const struct {
        const char* text;
        uint16_t value;
        bool taken;
    } cases[] = {{"DEAD", 0xDEAD, 1},  {"dead", 0xDEAD, 1}, {"0X1A", 0x1A, 1},
                 {"0x1a", 0x1A, 1},    {"zz", 0, 0},        {"12g", 0x12, 0},
                 {"12345", 0xFFFF, 0}, {"ffff", 0xFFFF, 1}, {"10000", 0xFFFF, 0},
                 {"0", 0, 1},          {"0x", 0, 0},        {"7", 7, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseHexWord(c.text), c.value) << c.text;
        EXPECT_EQ(hexWordFault(c.text).empty(), c.taken) << c.text;
    }
}

TEST(WriteValues, EveryWordWithoutEqualsAfterTheCommandIsOneValue) {
    const RequestParams params;
    EXPECT_EQ(checkWrite(Words(""), params).values, std::vector<uint16_t>{});
    EXPECT_EQ(checkWrite(Words(" a=5"), params).values, std::vector<uint16_t>{});
    EXPECT_EQ(checkWrite(Words("1 a=5\t2 zz x=y=z "), params).values,
              (std::vector<uint16_t>{1, 2, 0}));
}

}  // namespace
