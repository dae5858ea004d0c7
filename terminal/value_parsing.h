#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A parameter value: decimal with an optional sign, stopping at the first non-digit, clamped
// to the int range; text without a leading number gives 0. An empty text gives no value.
std::optional<int32_t> parseDecimalValue(const std::string& text);

// How a parameter value reads against a field that holds 0 to most: plain is one or more ASCII
// digits and nothing else, whose number fits the field unchanged.
enum class DecimalForm { plain, empty, out_of_range, signed_number, not_decimal };
DecimalForm decimalForm(std::string_view text, uint32_t most);

// A write value: hexadecimal with an optional 0x, stopping at the first non-hex character;
// a minus counts down from 0x10000 (-1 gives 0xFFFF), no number gives 0 and anything beyond
// 16 bits gives 0xFFFF.
uint16_t parseHexWord(const std::string& text);

// Why a write value word is not taken as typed ("is not a hexadecimal value"); empty when it is
// 1 to 4 hexadecimal digits, with or without 0x or 0X.
std::string hexWordFault(std::string_view word);
