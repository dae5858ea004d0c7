#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RequestParams.h"
#include "cTerminal.h"

namespace {

using Lines = std::vector<std::string>;

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

struct TokenCase {
    Lines words;
    Lines printed;
    unsigned address, page, offset, length, slave, function_code;
};

TEST(RequestParams, TokensApplyInOrderWithWrappingAndClamping) {
    const TokenCase cases[] = {
        {{"set"}, {}, 0, 0, 0, 1, 0, 3},
        {{"set", "a=258"},
         {"Got param 'a=258' tag: 'a' val: '258'", "Address: 258"},
         258,
         1,
         2,
         1,
         0,
         3},
        {{"set", "p=2", "o=3"},
         {"Got param 'p=2' tag: 'p' val: '2'", "Got param 'o=3' tag: 'o' val: '3'"},
         515,
         2,
         3,
         1,
         0,
         3},
        {{"set", "a=70000"},
         {"Got param 'a=70000' tag: 'a' val: '70000'", "Address: 4464"},
         4464,
         17,
         112,
         1,
         0,
         3},
        {{"set", "a=-1"},
         {"Got param 'a=-1' tag: 'a' val: '-1'", "Address: 65535"},
         65535,
         255,
         255,
         1,
         0,
         3},
        {{"set", "l=300"},
         {"Got param 'l=300' tag: 'l' val: '300'", "Length: 44"},
         0,
         0,
         0,
         44,
         0,
         3},
        {{"set", "a=0x10"},
         {"Got param 'a=0x10' tag: 'a' val: '0x10'", "Address: 0"},
         0,
         0,
         0,
         1,
         0,
         3},
        {{"set", "a=12abc", "s=abc"},
         {"Got param 'a=12abc' tag: 'a' val: '12abc'", "Address: 12",
          "Got param 's=abc' tag: 's' val: 'abc'"},
         12,
         0,
         12,
         1,
         0,
         3},
        {{"set", "f=99999999999"},
         {"Got param 'f=99999999999' tag: 'f' val: '99999999999'"},
         0,
         0,
         0,
         1,
         0,
         255},
        {{"set", "f=-99999999999"},
         {"Got param 'f=-99999999999' tag: 'f' val: '-99999999999'"},
         0,
         0,
         0,
         1,
         0,
         0},
        {{"set", "al=5", "A=5"},
         {"Got param 'al=5' tag: 'al' val: '5'", "Unknown parameter 'al'",
          "Got param 'A=5' tag: 'A' val: '5'", "Unknown parameter 'A'"},
         0,
         0,
         0,
         1,
         0,
         3},
        {{"set", "=5"},
         {"Got param '=5' tag: '' val: '5'", "Unknown parameter ''"},
         0,
         0,
         0,
         1,
         0,
         3},
        {{"set", "a=5=6"},
         {"Got param 'a=5=6' tag: 'a' val: '5=6'", "Address: 5"},
         5,
         0,
         5,
         1,
         0,
         3},
        {{"set", "10", "rr"}, {}, 0, 0, 0, 1, 0, 3},
        {{"set", "a=256", "o=5"},
         {"Got param 'a=256' tag: 'a' val: '256'", "Address: 256",
          "Got param 'o=5' tag: 'o' val: '5'"},
         261,
         1,
         5,
         1,
         0,
         3},
        {{"set", "o=5", "a=256"},
         {"Got param 'o=5' tag: 'o' val: '5'", "Got param 'a=256' tag: 'a' val: '256'",
          "Address: 256"},
         256,
         1,
         0,
         1,
         0,
         3},
        {{"set", "s=-1", "s=+7", "l=0"},
         {"Got param 's=-1' tag: 's' val: '-1'", "Got param 's=+7' tag: 's' val: '+7'",
          "Got param 'l=0' tag: 'l' val: '0'", "Length: 0"},
         0,
         0,
         0,
         0,
         7,
         3},
    };
    for (const TokenCase& c : cases) {
        RequestParams params;
        EXPECT_EQ(params.applyTokens(c.words), c.printed) << c.words.back();
        EXPECT_EQ(params.address, c.address) << c.words.back();
        EXPECT_EQ(params.page, c.page) << c.words.back();
        EXPECT_EQ(params.offset, c.offset) << c.words.back();
        EXPECT_EQ(params.length, c.length) << c.words.back();
        EXPECT_EQ(params.slave, c.slave) << c.words.back();
        EXPECT_EQ(params.function_code, c.function_code) << c.words.back();
        EXPECT_EQ(params.address, params.page * 256 + params.offset);
    }
}

TEST(RequestParams, EmptyValueKeepsTheFieldAndShowsIt) {
    RequestParams params;
    params.applyTokens({"set", "a=300", "l=9", "s=4", "p=7"});
    const Lines printed = params.applyTokens({"set", "a=", "l=", "s=", "p=", "o=", "f="});
    EXPECT_EQ(printed,
              (Lines{"Got param 'a=' tag: 'a' val: ''", "Address: 1836",
                     "Got param 'l=' tag: 'l' val: ''", "Length: 9",
                     "Got param 's=' tag: 's' val: ''", "Got param 'p=' tag: 'p' val: ''",
                     "Got param 'o=' tag: 'o' val: ''", "Got param 'f=' tag: 'f' val: ''"}));
    EXPECT_EQ(listingOf(params),
              "Current Parameter settings:\ns=4 (Slave Address)\na=1836 (I/O Address)\n"
              "p=7 (I/O Page)\no=44 (I/O Offset)\nf=3 (Function Code)\nl=9 (Data Length)\n");
}

TEST(SplitWords, SplitsAtAnyWhiteSpaceKeepingCaseAndEquals) {
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
        EXPECT_EQ(cTerminal::splitWords(c.line), c.words);
    }
}

}  // namespace
