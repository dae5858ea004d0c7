#include "terminal/value_parsing.h"

#include <algorithm>
#include <sstream>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool allOf(std::string_view text, bool (*is)(char)) {
    for (char c : text) {
        if (!is(c)) {
            return false;
        }
    }
    return true;
}

bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

std::optional<int32_t> parseDecimalValue(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    // The stream gives 0 when nothing is a number and the nearer bound when out of range.
    int value = 0;
    std::istringstream stream(text);
    stream >> value;
    return value;
}

DecimalForm decimalForm(std::string_view text, uint32_t most) {
    if (text.empty()) {
        return DecimalForm::empty;
    }
    if (allOf(text, isDigit)) {
        // Past most the number stops growing, so any length of digits is safe.
        uint64_t number = 0;
        for (char c : text) {
            number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(c - '0'), most + 1ull);
        }
        return number <= most ? DecimalForm::plain : DecimalForm::out_of_range;
    }
    if (text.size() > 1 && (text[0] == '-' || text[0] == '+') && allOf(text.substr(1), isDigit)) {
        return DecimalForm::signed_number;
    }
    return DecimalForm::not_decimal;
}

uint16_t parseHexWord(const std::string& text) {
    uint16_t value = 0;
    std::istringstream stream(text);
    stream >> std::hex >> value;
    return value;
}

std::string hexWordFault(std::string_view word) {
    std::string_view digits = word;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits.remove_prefix(2);
    }
    if (digits.empty() || !allOf(digits, isHexDigit)) {
        return "is not a hexadecimal value";
    }
    return digits.size() > 4 ? "has more than four hexadecimal digits" : "";
}
