// Register map files for the simulator: what a good file sets, and the message for each bad line.
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "sim/registers.h"

namespace {

MapFile parse(const std::string& text) {
    std::istringstream in(text);
    return parseRegisterMap(in, "plant.map");
}

TEST(SimMap, GoodLinesSetTheirTablesAndNothingElse) {
    const MapFile file = parse(
        "# a comment line\n"
        "\n"
        "holding 100 0x4148 0 65535   # trailing comment\n"
        "  input\t7 0XbeeF 010\n"
        "coil 65535 1\n"
        "discrete 0 0 1\n"
        "holding 100 7\n");
    ASSERT_TRUE(file.map) << file.error;
    const RegisterMap& map = *file.map;
    EXPECT_EQ(map.holding[100], 7);  // the later line wins
    EXPECT_EQ(map.holding[101], 0);
    EXPECT_EQ(map.holding[102], 0xFFFF);
    EXPECT_EQ(map.input[7], 0xBEEF);
    EXPECT_EQ(map.input[8], 10);  // decimal, not octal
    EXPECT_EQ(map.coils[65535], 1);
    EXPECT_EQ(map.discrete_inputs[1], 1);
    EXPECT_EQ(map.input[100], 0);
    EXPECT_EQ(map.holding[0], 0);  // no presets under a map file
}

TEST(SimMap, EachBadLineIsRefusedWithItsLineAndReason) {
    const struct {
        std::string line;
        std::string error;
    } cases[] = {
        {"holdings 1 2", "unknown table 'holdings' (holding, input, coil or discrete)"},
        {"Holding 1 2", "unknown table 'Holding' (holding, input, coil or discrete)"},
        {"coil", "no address after 'coil'"},
        {"input # 5 6", "no address after 'input'"},
        {"holding 65536 1", "bad address '65536' (0 to 65535)"},
        {"holding -1 1", "bad address '-1' (0 to 65535)"},
        {"holding 0x 1", "bad address '0x' (0 to 65535)"},
        {"holding 10", "no values after the address"},
        {"holding 10 0x10000", "bad value '0x10000' (0 to 65535)"},
        {"input 10 12a", "bad value '12a' (0 to 65535)"},
        {"holding 10 99999999999999999999", "bad value '99999999999999999999' (0 to 65535)"},
        {"coil 10 2", "bad value '2' (0 or 1)"},
        {"discrete 10 0x1 +1", "bad value '+1' (0 or 1)"},
        {"holding 65535 1 2", "values run past address 65535"},
        {"holding 1 " + std::string(50, '7'),
         "bad value '" + std::string(40, '7') + "...' (0 to 65535)"},
        {std::string("hold\0ing\x01\xff 1 1", 14),
         "unknown table 'hold\\x00ing\\x01\\xff' (holding, input, coil or discrete)"},
        {"input " + std::string(70000, '1'), "line longer than 65536 characters"},
    };
    for (const auto& c : cases) {
        const MapFile file = parse("holding 1 1\n# fine so far\n" + c.line + "\nholding 2 2\n");
        EXPECT_FALSE(file.map) << c.line;
        EXPECT_EQ(file.error, "plant.map:3: " + c.error);
    }
}

}  // namespace
