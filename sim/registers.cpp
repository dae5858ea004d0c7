#include "sim/registers.h"

#include <string_view>

RegisterMap presetRegisters() {
    RegisterMap map;
    static constexpr struct {
        int address;
        uint16_t value;
    } presets[] = {
        {0, 0x1234},   {1, 0x5678},   {100, 0x4148}, {101, 0x0000}, {102, 0xBF80},   {103, 0x0000},
        {300, 0x1F20}, {301, 0x7E7F}, {302, 0x8000}, {303, 0xFF41}, {65535, 0xBEEF},
    };
    auto set_both = [&map](int address, uint16_t value) {
        map.holding[static_cast<std::size_t>(address)] = value;
        map.input[static_cast<std::size_t>(address)] = value;
    };
    for (const auto& p : presets) {
        set_both(p.address, p.value);
    }
    static constexpr std::string_view text = "tesmar simulator";
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        const auto high = static_cast<uint8_t>(text[i]);
        const auto low = static_cast<uint8_t>(text[i + 1]);
        set_both(200 + static_cast<int>(i / 2), static_cast<uint16_t>(high << 8 | low));
    }
    // Lets a master tell FC3 from FC4 at address 0.
    map.input[0] = 0x4321;
    return map;
}
