#pragma once

#include <cstdint>
#include <vector>

// The four tables of the slave, every address from 0 to 65535 present. Coils and discrete
// inputs hold 0 or 1.
struct RegisterMap {
    std::vector<uint8_t> coils = std::vector<uint8_t>(65536);
    std::vector<uint8_t> discrete_inputs = std::vector<uint8_t>(65536);
    std::vector<uint16_t> holding = std::vector<uint16_t>(65536);
    std::vector<uint16_t> input = std::vector<uint16_t>(65536);
};

// The map served without a map file: the presets the usage text lists.
RegisterMap presetRegisters();
