#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "terminal/register_view.h"

namespace {

const std::string column_header =
    "        +0          +4          +8          +c            0   4   8   c   \n";

std::string rowsOf(const std::vector<uint16_t>& registers) {
    unsigned char image[256];
    const std::size_t size =
        registerImage(registers.data(), static_cast<int>(registers.size()), image);
    return dumpRows(image, static_cast<int>(size));
}

TEST(Dump, HeaderShowsTitleRightAlignedSizeAndAddress) {
    const unsigned char data[2] = {0, 0};
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(data));
    EXPECT_EQ(dumpHeader("", data, 2), "--------->                      <--------- (2 bytes from " +
                                           std::string(address) + ")\n");
    EXPECT_EQ(dumpHeader("title", data, 250).substr(0, 47),
              "--------->                title <--------- (250");
    EXPECT_EQ(dumpHeader("a title longer than twenty", data, 2).substr(0, 38),
              "---------> a title longer than twenty ");
}

TEST(Dump, RowsAreSeventyFourColumnsWithHexAndPrintables) {
    EXPECT_EQ(rowsOf({0x1234}),
              column_header +
                  "+0000   12 34                                             .4              \n");
    EXPECT_EQ(rowsOf({0x4148, 0x0000}),
              column_header +
                  "+0000   41 48 00 00                                       AH..            \n");
    // The printable boundaries: 0x1F and 0x7F and above are dots, 0x20 and 0x7E are themselves.
    EXPECT_EQ(rowsOf({0x1F20, 0x7E7F, 0x8000, 0xFF41}),
              column_header +
                  "+0000   1f 20 7e 7f 80 00 ff 41                           . ~....A        \n");
}

TEST(Dump, SixteenBytesARowWithAPartialLastRowAndNoEmptyOne) {
    std::vector<uint16_t> registers;
    for (uint16_t i = 0; i < 9; ++i) {
        registers.push_back(static_cast<uint16_t>(0x6162 + 0x0202 * i));
    }
    EXPECT_EQ(rowsOf(registers),
              column_header +
                  "+0000   61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f 70   abcdefghijklmnop\n"
                  "+0010   71 72                                             qr              \n");
    registers.pop_back();
    const std::string eight = rowsOf(registers);
    EXPECT_EQ(eight.size(), column_header.size() + 75);

    for (int count : {16, 24, 125}) {
        const std::string rows =
            rowsOf(std::vector<uint16_t>(static_cast<std::size_t>(count), 0x2E2E));
        const std::size_t row_count = (static_cast<std::size_t>(count) * 2 + 15) / 16;
        EXPECT_EQ(rows.size(), column_header.size() + row_count * 75) << count;
        const std::string last_label = rows.substr(rows.size() - 75, 5);
        char expected_label[24];
        std::snprintf(expected_label, sizeof expected_label, "+%04zx", (row_count - 1) * 16);
        EXPECT_EQ(last_label, expected_label) << count;
    }
}

TEST(Views, OneRegisterSwappedTwoRegistersAs32BitsAndFloat) {
    const struct {
        std::vector<uint16_t> registers;
        std::string views;
    } cases[] = {
        {{0x1234}, "16: 3412 13330\n"},
        {{0x00FF}, "16: FF00 65280\n"},
        {{0x4148, 0x0000}, "32: 41480000 1095237632\nf :12.500000\n"},
        {{0xBF80, 0x0000}, "32: BF800000 -1082130432\nf :-1.000000\n"},
        {{0xFFFF, 0xFFFF}, "32: FFFFFFFF -1\nf :-nan\n"},
        {{0x7F80, 0x0000}, "32: 7F800000 2139095040\nf :inf\n"},
        {{0x7F7F, 0xFFFF},
         "32: 7F7FFFFF 2139095039\nf :340282346638528859811704183484516925440.000000\n"},
        {{1, 2, 3}, ""},
        {std::vector<uint16_t>(8, 0), ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(registerViews(c.registers.data(), static_cast<int>(c.registers.size())), c.views);
    }
}

}  // namespace
