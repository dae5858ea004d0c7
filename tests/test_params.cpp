#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "terminal/RequestParams.h"
#include "terminal/words.h"

namespace {

using Lines = std::vector<std::string>;

// Applies the words after the command word of a line made of these words, and returns the lines
// written.
Lines apply(RequestParams& params, const Lines& words) {
    std::string line;
    for (const std::string& word : words) {
        line += word + " ";
    }
    Words arguments(line);
    std::string_view command;
    arguments.next(command);
    std::ostringstream out;
    params.applyTokens(arguments, out);
    std::istringstream written(out.str());
    Lines lines;
    for (std::string text; std::getline(written, text);) {
        lines.push_back(text);
    }
    return lines;
}

std::string listingOf(const RequestParams& params) {
    std::string text;
    for (const std::string& line : params.listing()) {
        text += line + "\n";
    }
    return text;
}

TEST(RequestParams, NewBlockListsTheDefaults) {
    EXPECT_EQ(listingOf(RequestParams{}),
              "Current Parameter settings:\n"
              "s=0 (Slave Address)\n"
              "a=0 (I/O Address)\n"
              "p=0 (I/O Page)\n"
              "o=0 (I/O Offset)\n"
              "f=3 (Function Code)\n"
              "l=1 (Data Length)\n");
}

// The fields in one line, so a case states the whole outcome at a glance.
std::string fieldsOf(const RequestParams& params) {
    return "a=" + std::to_string(params.address) + " p=" + std::to_string(params.page) +
           " o=" + std::to_string(params.offset) + " l=" + std::to_string(params.length) +
           " s=" + std::to_string(params.slave) + " f=" + std::to_string(params.function_code);
}

TEST(RequestParams, TokensApplyInOrderWithWrappingAndClamping) {
    const struct {
        Lines words;
        Lines printed;
        std::string fields;
    } cases[] = {
        // clang-format off
        {{"set"}, {}, "a=0 p=0 o=0 l=1 s=0 f=3"},
        {{"set", "a=258"}, {"Got param 'a=258' tag: 'a' val: '258'", "Address: 258"},
         "a=258 p=1 o=2 l=1 s=0 f=3"},
        {{"set", "p=2", "o=3"},
         {"Got param 'p=2' tag: 'p' val: '2'", "Got param 'o=3' tag: 'o' val: '3'"},
         "a=515 p=2 o=3 l=1 s=0 f=3"},
        {{"set", "a=70000"}, {"Got param 'a=70000' tag: 'a' val: '70000'", "Address: 4464"},
         "a=4464 p=17 o=112 l=1 s=0 f=3"},
        {{"set", "a=-1"}, {"Got param 'a=-1' tag: 'a' val: '-1'", "Address: 65535"},
         "a=65535 p=255 o=255 l=1 s=0 f=3"},
        {{"set", "l=300"}, {"Got param 'l=300' tag: 'l' val: '300'", "Length: 44"},
         "a=0 p=0 o=0 l=44 s=0 f=3"},
        {{"set", "a=0x10"}, {"Got param 'a=0x10' tag: 'a' val: '0x10'", "Address: 0"},
         "a=0 p=0 o=0 l=1 s=0 f=3"},
        {{"set", "a=12abc", "s=abc"},
         {"Got param 'a=12abc' tag: 'a' val: '12abc'", "Address: 12",
          "Got param 's=abc' tag: 's' val: 'abc'"},
         "a=12 p=0 o=12 l=1 s=0 f=3"},
        {{"set", "f=99999999999"}, {"Got param 'f=99999999999' tag: 'f' val: '99999999999'"},
         "a=0 p=0 o=0 l=1 s=0 f=255"},
        {{"set", "f=-99999999999"}, {"Got param 'f=-99999999999' tag: 'f' val: '-99999999999'"},
         "a=0 p=0 o=0 l=1 s=0 f=0"},
        {{"set", "al=5", "A=5"},
         {"Got param 'al=5' tag: 'al' val: '5'", "Unknown parameter 'al'",
          "Got param 'A=5' tag: 'A' val: '5'", "Unknown parameter 'A'"},
         "a=0 p=0 o=0 l=1 s=0 f=3"},
        {{"set", "=5"}, {"Got param '=5' tag: '' val: '5'", "Unknown parameter ''"},
         "a=0 p=0 o=0 l=1 s=0 f=3"},
        {{"set", "a=5=6"}, {"Got param 'a=5=6' tag: 'a' val: '5=6'", "Address: 5"},
         "a=5 p=0 o=5 l=1 s=0 f=3"},
        {{"set", "10", "rr"}, {}, "a=0 p=0 o=0 l=1 s=0 f=3"},
        {{"set", "a=256", "o=5"},
         {"Got param 'a=256' tag: 'a' val: '256'", "Address: 256", "Got param 'o=5' tag: 'o' val: '5'"},
         "a=261 p=1 o=5 l=1 s=0 f=3"},
        {{"set", "o=5", "a=256"},
         {"Got param 'o=5' tag: 'o' val: '5'", "Got param 'a=256' tag: 'a' val: '256'", "Address: 256"},
         "a=256 p=1 o=0 l=1 s=0 f=3"},
        {{"set", "s=-1", "s=+7", "l=0"},
         {"Got param 's=-1' tag: 's' val: '-1'", "Got param 's=+7' tag: 's' val: '+7'",
          "Got param 'l=0' tag: 'l' val: '0'", "Length: 0"},
         "a=0 p=0 o=0 l=0 s=7 f=3"},
        // clang-format on
    };
    for (const auto& c : cases) {
        RequestParams params;
        EXPECT_EQ(apply(params, c.words), c.printed) << c.words.back();
        EXPECT_EQ(fieldsOf(params), c.fields) << c.words.back();
    }
}

TEST(RequestParams, EmptyValueKeepsTheFieldAndShowsIt) {
    RequestParams params;
    apply(params, {"set", "a=300", "l=9", "s=4", "p=7"});
    const Lines printed = apply(params, {"set", "a=", "l=", "s=", "p=", "o=", "f="});
    EXPECT_EQ(printed,
              (Lines{"Got param 'a=' tag: 'a' val: ''", "Address: 1836",
                     "Got param 'l=' tag: 'l' val: ''", "Length: 9",
                     "Got param 's=' tag: 's' val: ''", "Got param 'p=' tag: 'p' val: ''",
                     "Got param 'o=' tag: 'o' val: ''", "Got param 'f=' tag: 'f' val: ''"}));
    EXPECT_EQ(listingOf(params),
              "Current Parameter settings:\ns=4 (Slave Address)\na=1836 (I/O Address)\n"
              "p=7 (I/O Page)\no=44 (I/O Offset)\nf=3 (Function Code)\nl=9 (Data Length)\n");
}

TEST(Words, SplitAtAnyWhiteSpaceKeepingCaseAndEquals) {
    const struct {
        std::string line;
        Lines words;
    } cases[] = {
        {"", {}},
        {" \t \r\v\f", {}},
        {"rr s=1 a=100 l=2", {"rr", "s=1", "a=100", "l=2"}},
        {"  \tset\t\ta==5   RR\r", {"set", "a==5", "RR"}},
        {std::string("x\0y z", 5), {std::string("x\0y", 3), "z"}},
    };
    for (const auto& c : cases) {
        Words words(c.line);
        EXPECT_EQ(words.empty(), c.words.empty()) << c.line;
        Lines taken;
        for (std::string_view word; words.next(word);) {
            taken.emplace_back(word);
        }
        EXPECT_EQ(taken, c.words);
    }
}

}  // namespace
