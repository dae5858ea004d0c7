#include <gtest/gtest.h>

#include "terminal/RequestParams.h"
#include "terminal/value_parsing.h"
#include "terminal/write_check.h"

namespace {

TEST(DecimalValue, StreamRulesWithEmptyMeaningNone) {
    EXPECT_EQ(parseDecimalValue(""), std::nullopt);
    EXPECT_EQ(decimalForm("", 255), DecimalForm::empty);
    // The form is against a field of 0 to 255.
    const struct {
        const char* text;
        int32_t value;
        DecimalForm form;
    } cases[] = {{"258", 258, DecimalForm::out_of_range},
                 {"255", 255, DecimalForm::plain},
                 {"-1", -1, DecimalForm::signed_number},
                 {"+7", 7, DecimalForm::signed_number},
                 {"0x10", 0, DecimalForm::not_decimal},
                 {"12abc", 12, DecimalForm::not_decimal},
                 {"abc", 0, DecimalForm::not_decimal},
                 {"5=6", 5, DecimalForm::not_decimal},
                 {"99999999999", 2147483647, DecimalForm::out_of_range},
                 {"-99999999999", -2147483647 - 1, DecimalForm::signed_number},
                 {" 3", 3, DecimalForm::not_decimal},
                 {"-", 0, DecimalForm::not_decimal},
                 {"007", 7, DecimalForm::plain}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseDecimalValue(c.text), c.value) << c.text;
        EXPECT_EQ(decimalForm(c.text, 255), c.form) << c.text;
    }
}

TEST(HexWord, HexDigitsWithOptionalPrefixSaturating) {
    const std::string not_hex = "is not a hexadecimal value";
    const struct {
        const char* text;
        uint16_t value;
        std::string fault;
    } cases[] = {{"DEAD", 0xDEAD, ""},
                 {"dead", 0xDEAD, ""},
                 {"0X1A", 0x1A, ""},
                 {"0x1a", 0x1A, ""},
                 {"zz", 0, not_hex},
                 {"12g", 0x12, not_hex},
                 {"12345", 0xFFFF, "has more than four hexadecimal digits"},
                 {"ffff", 0xFFFF, ""},
                 {"0x0000", 0, ""},
                 {"-1", 0xFFFF, not_hex},
                 {"0", 0, ""},
                 {"0x", 0, not_hex},
                 {"7", 7, ""}};
    for (const auto& c : cases) {
        EXPECT_EQ(parseHexWord(c.text), c.value) << c.text;
        EXPECT_EQ(hexWordFault(c.text), c.fault) << c.text;
    }
}

std::string repeated(const std::string& word, int times) {
    std::string line;
    for (int i = 0; i < times; ++i) {
        line += word + " ";
    }
    return line;
}

TEST(WriteCheck, SendsOnlyWhatEveryWordTookAsTyped) {
    using Verdict = WriteCheck::Verdict;
    const std::string sent = ": nothing sent";
    const std::string decimal = " was read as 0 (parameter values are decimal)" + sent;
    const struct {
        std::string earlier;  // applied on a line before
        std::string line;     // the words after wr
        Verdict verdict;
        std::vector<uint16_t> values;
        std::string refusal;
    } cases[] = {
        // clang-format off
        {"", "", Verdict::no_values, {}, "We need data to write"},
        {"", " a=5", Verdict::no_values, {}, "We need data to write"},
        {"", "1 a=5\t2 ffff 0X1a", Verdict::send, {1, 2, 0xffff, 0x1a}, ""},
        {"", "1 a=5\t2 zz x=y=z ", Verdict::withheld, {1, 2, 0},
         "'zz' is not a hexadecimal value" + sent},
        {"", "A=5 12345", Verdict::withheld, {0xffff},
         "A=5 is not a parameter (the tags are s, a, p, o, f and l)" + sent},
        {"", "s=0x11 6", Verdict::withheld, {6}, "s=0x11" + decimal},
        {"", "a= 6", Verdict::withheld, {6}, "a= has no value" + sent},
        {"", "6 s=-1", Verdict::withheld, {6},
         "s=-1 was read as 255 (parameter values take no sign)" + sent},
        {"", "a=70000 f=300 6", Verdict::withheld, {6},
         "a=70000 was read as 4464 (a takes 0 to 65535)" + sent},
        {"a=0x64", "5", Verdict::withheld, {5}, "a=0x64 (set earlier)" + decimal},
        {"a=0x64", "a=100 5", Verdict::send, {5}, ""},
        {"p=300", "o=5 1", Verdict::withheld, {1},
         "p=300 (set earlier) was read as 44 (p takes 0 to 255)" + sent},
        {"a=abc s=1x", "p=1 1", Verdict::withheld, {1},
         "s=1x (set earlier) was read as 1 (parameter values are decimal)" + sent},
        {"a=abc s=1x", "p=1 s=1 1", Verdict::withheld, {1}, "a=abc (set earlier)" + decimal},
        {"s=300 l=300", "s=01 a=00 1", Verdict::send, {1}, ""},
        {"", repeated("1", 123), Verdict::send, std::vector<uint16_t>(123, 1), ""},
        {"", repeated("zz", 124), Verdict::too_many, {},
         "Too many values: 124 given, at most 123 fit in one write"},
        // clang-format on
    };
    for (const auto& c : cases) {
        RequestParams params;
        std::ostringstream shown;
        params.applyTokens(Words(c.earlier), shown);
        params.applyTokens(Words(c.line), shown);
        const WriteCheck check = checkWrite(Words(c.line), params);
        EXPECT_EQ(check.verdict, c.verdict) << c.line;
        EXPECT_EQ(check.values, c.values) << c.line;
        EXPECT_EQ(check.refusal, c.refusal) << c.line;
    }
}

}  // namespace
