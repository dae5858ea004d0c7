// Words of a write line through collectWriteValues and parseHexWord, and parameter values
// through parseDecimalValue, each checked against what its header promises.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "value_parsing.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

// The hex digits from the start of text, saturated at 0x10000 so it cannot overflow.
unsigned long leadingHex(const std::string& text) {
    unsigned long value = 0;
    for (std::size_t i = 0; i < text.size() && hexDigit(text[i]) >= 0; ++i) {
        value = value * 16 + static_cast<unsigned long>(hexDigit(text[i]));
        if (value > 0xFFFF) {
            return 0x10000;
        }
    }
    return value;
}

// parseHexWord's promise for a word that carries no sign.
void checkHexWord(const std::string& word) {
    const uint16_t parsed = parseHexWord(word);
    if (word.empty() || word[0] == '+' || word[0] == '-') {
        return;
    }
    std::string digits = word;
    if (word.size() >= 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        digits = word.substr(2);
    }
    if (digits.empty() || hexDigit(digits[0]) < 0) {
        check(parsed == 0);
        return;
    }
    const unsigned long expected = leadingHex(digits);
    check(parsed == (expected > 0xFFFF ? 0xFFFFu : expected));

    // Plain hex digits are what strtoul reads in base 16.
    if (expected <= 0xFFFF && digits.size() == word.size() &&
        word.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
        check(parsed == std::strtoul(word.c_str(), nullptr, 16));
    }
}

void checkDecimalValue(const std::string& word) {
    const std::optional<int32_t> parsed = parseDecimalValue(word);
    if (word.empty()) {
        check(!parsed.has_value());
        return;
    }
    check(parsed.has_value());
    std::size_t first_digit = 0;
    if (word[0] == '+' || word[0] == '-') {
        first_digit = 1;
    }
    if (first_digit >= word.size() || !isDecimalDigit(word[first_digit])) {
        check(*parsed == 0);
        return;
    }
    // The digit run read as a long long (strtoll saturates), then clamped to int.
    std::size_t end = first_digit;
    while (end < word.size() && isDecimalDigit(word[end])) {
        ++end;
    }
    const long long wide = std::strtoll(word.substr(0, end).c_str(), nullptr, 10);
    const long long expected = wide > INT_MAX ? INT_MAX : (wide < INT_MIN ? INT_MIN : wide);
    check(*parsed == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> tokens{"wr"};
    std::size_t start = 0;
    while (start < text.size()) {
        if (isBlank(text[start])) {
            ++start;
            continue;
        }
        std::size_t end = start;
        while (end < text.size() && !isBlank(text[end])) {
            ++end;
        }
        tokens.push_back(text.substr(start, end - start));
        start = end;
    }

    const std::vector<uint16_t> values = collectWriteValues(tokens);
    std::size_t next = 0;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
        const std::string& word = tokens[i];
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) {
            check(next < values.size() && values[next] == parseHexWord(word));
            ++next;
            checkHexWord(word);
        } else {
            checkDecimalValue(word.substr(equals + 1));
        }
        checkDecimalValue(word);
    }
    check(next == values.size());

    // Whole text, blanks and all: only that it holds a value when it is not empty.
    check(parseDecimalValue(text).has_value() == !text.empty());
    parseHexWord(text);
    return 0;
}
