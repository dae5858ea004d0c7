// Words of a write line through collectWriteValues and parseHexWord, and parameter values
// through parseDecimalValue, each checked against glibc where glibc reads the same way.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "terminal/value_parsing.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A write value is what glibc's strtoul reads in base 16, capped at 0xFFFF. The stream reads a
// minus sign its own way (it negates in 16 bits), so signed words are left to the unit tests.
void checkHexWord(const std::string& word) {
    if (word.empty() || word[0] == '+' || word[0] == '-') {
        return;
    }
    const unsigned long glibc = std::strtoul(word.c_str(), nullptr, 16);
    check(parseHexWord(word) == (glibc > 0xFFFF ? 0xFFFFu : glibc));
}

// A parameter value is what glibc's strtoll reads in base 10, clamped to the int range.
void checkDecimalValue(const std::string& word) {
    const std::optional<int32_t> parsed = parseDecimalValue(word);
    check(parsed.has_value() == !word.empty());
    if (parsed) {
        const long long glibc = std::strtoll(word.c_str(), nullptr, 10);
        check(*parsed == (glibc > INT_MAX ? INT_MAX : (glibc < INT_MIN ? INT_MIN : glibc)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> tokens;
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

    const std::vector<uint16_t> values = collectWriteValues(Words(text));
    std::size_t next = 0;
    for (const std::string& word : tokens) {
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
