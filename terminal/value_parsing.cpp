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

std::vector<uint16_t> collectWriteValues(const std::vector<std::string>& tokens) {
    std::vector<uint16_t> values;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i].find('=') == std::string::npos) {
            values.push_back(parseHexWord(tokens[i]));
        }
    }
    return values;
}
