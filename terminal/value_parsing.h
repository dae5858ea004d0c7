#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "terminal/words.h"

// A parameter value: decimal with an optional sign, stopping at the first non-digit, clamped
// to the int range; text without a leading number gives 0. An empty text gives no value.
std::optional<int32_t> parseDecimalValue(const std::string& text);

// A write value: hexadecimal with an optional 0x, stopping at the first non-hex character;
// no number gives 0 and anything above 0xFFFF gives 0xFFFF.
uint16_t parseHexWord(const std::string& text);

// The values of a write line: every word left that holds no "=".
std::vector<uint16_t> collectWriteValues(Words words);
