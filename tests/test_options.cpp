#include <climits>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/options.h"

namespace {

struct NumberCase {
    const char* text;
    int32_t expected;
};

TEST(OptionNumber, FollowsC23BaseZeroRulesCutTo32Bits) {
    const NumberCase cases[] = {
        {"502", 502},
        {"0x1F6", 502},
        {"0X1f6", 502},
        {"0766", 502},
        {"0b111110110", 502},
        {"0B111110110", 502},
        {"abc", 0},
        {"", 0},
        {"65536", 65536},
        {"-1", -1},
        {"4294967298", 2},
        {"  +42", 42},
        {"\t-0x10", -16},
        {"12abc", 12},
        {"0x", 0},
        {"0b", 0},
        {"0b2", 0},
        {"0b12", 1},
        {"09", 0},
        {"-", 0},
        {"99999999999999999999999", -1},
        {"-99999999999999999999999", -1},
        {"18446744073709551615", -1},
        {"2147483648", INT32_MIN},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(parseOptionNumber(c.text), c.expected) << "text: '" << c.text << "'";
    }
}

TEST(OptionNumber, AgreesWithTheCLibraryWhereItHasNoBinaryPrefix) {
    const char* texts[] = {"0",   "077", "0x7fffffff",         "-2147483649",         "  0xg",
                           "1e5", "+-1", "0xFFFFFFFFFFFFFFFF", "0x10000000000000000", "-0",
                           "007x"};
    for (const char* text : texts) {
        const auto expected =
            static_cast<int32_t>(static_cast<uint32_t>(std::strtoul(text, nullptr, 0)));
        EXPECT_EQ(parseOptionNumber(text), expected) << "text: '" << text << "'";
    }
}

StartupSettings parse(std::vector<std::string> words) {
    static std::deque<std::vector<std::string>> kept;  // the settings point into argv
    kept.push_back(std::move(words));
    std::vector<std::string>& args = kept.back();
    args.insert(args.begin(), "tesmar");
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return parseOptions(static_cast<int>(args.size()), argv.data());
}

TEST(Options, DefaultsAndLastOneWins) {
    const StartupSettings none = parse({});
    EXPECT_EQ(none.host, nullptr);
    EXPECT_EQ(none.device, nullptr);
    EXPECT_EQ(none.port, 502);
    EXPECT_EQ(none.baud, 19200);
    EXPECT_STREQ(none.format, "8N1");
    EXPECT_FALSE(none.show_usage);

    const StartupSettings rtu =
        parse({"-d", "/dev/ttyUSB0", "-d", "/dev/ttyUSB1", "-b", "9600", "-c", "8E1", "extra"});
    EXPECT_STREQ(rtu.device, "/dev/ttyUSB1");
    EXPECT_EQ(rtu.baud, 9600);
    EXPECT_STREQ(rtu.format, "8E1");
    EXPECT_FALSE(rtu.show_usage);

    const StartupSettings tcp =
        parse({"extra", "-h", "192.168.1.10", "-p", "0x1F6", "-d", "/dev/ttyS0"});
    EXPECT_STREQ(tcp.host, "192.168.1.10");
    EXPECT_EQ(tcp.port, 502);
    EXPECT_STREQ(tcp.device, "/dev/ttyS0");
}

TEST(Options, HelpAndEveryErrorAskForUsage) {
    for (const std::vector<std::string>& words :
         {std::vector<std::string>{"-?"}, {"-x"}, {"-p"}, {"-h", "h", "-c"}, {"-d", "x", "-Z"}}) {
        EXPECT_TRUE(parse(words).show_usage) << words.back();
    }
}

}  // namespace
