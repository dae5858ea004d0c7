#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <string>
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

// A register map read from a file: the map, or why it was refused.
struct MapFile {
    std::optional<RegisterMap> map;
    std::string error;  // "FILE:LINE: what is wrong" when there is no map
};

// Reads map lines such as "holding 100 0x4148 0x0000" (a table: holding, input, coil or
// discrete; a start address; one or more values in decimal or 0x hex, 0 or 1 for coil and
// discrete) over a map of zeros. "#" starts a comment; blank lines are skipped. The first bad
// line refuses the whole file; name is the file's name in the message.
MapFile parseRegisterMap(std::istream& in, const std::string& name);
