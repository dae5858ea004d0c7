#include "terminal/value_parsing.h"

#include <sstream>

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

uint16_t parseHexWord(const std::string& text) {
    uint16_t value = 0;
    std::istringstream stream(text);
    stream >> std::hex >> value;
    return value;
}

std::vector<uint16_t> collectWriteValues(Words words) {
    std::vector<uint16_t> values;
    std::string_view word;
    while (words.next(word)) {
        if (word.find('=') == std::string_view::npos) {
            values.push_back(parseHexWord(std::string(word)));
        }
    }
    return values;
}
