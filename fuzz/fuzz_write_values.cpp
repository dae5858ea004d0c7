// Words of a write line through checkWrite, parseHexWord and hexWordFault, and parameter values
// through parseDecimalValue and decimalForm, each checked against glibc where glibc reads the
// same way.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "terminal/RequestParams.h"
#include "terminal/value_parsing.h"
#include "terminal/write_check.h"

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
    char* end = nullptr;
    const unsigned long glibc = std::strtoul(word.c_str(), &end, 16);
    check(parseHexWord(word) == (glibc > 0xFFFF ? 0xFFFFu : glibc));
    // Taken when glibc reads the whole word and it holds 1 to 4 digits after any 0x.
    const bool prefixed = word.size() > 1 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X');
    const std::size_t digits = word.size() - (prefixed ? 2 : 0);
    const bool whole = *end == '\0' && word.find('\0') == std::string::npos;
    check(hexWordFault(word).empty() == (whole && digits >= 1 && digits <= 4));
}

// A parameter value is what glibc's strtoll reads in base 10, clamped to the int range.
void checkDecimalValue(const std::string& word) {
    const std::optional<int32_t> parsed = parseDecimalValue(word);
    check(parsed.has_value() == !word.empty());
    if (parsed) {
        const long long glibc = std::strtoll(word.c_str(), nullptr, 10);
        check(*parsed == (glibc > INT_MAX ? INT_MAX : (glibc < INT_MIN ? INT_MIN : glibc)));
    }
    // Plain when it is digits only, and glibc reads them as a number of at most 255.
    const bool digits = !word.empty() && word.find_first_not_of("0123456789") == std::string::npos;
    check((decimalForm(word, 255) == DecimalForm::plain) ==
          (digits && std::strtoul(word.c_str(), nullptr, 10) <= 255));
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

    RequestParams params;
    std::ostringstream shown;
    params.applyTokens(Words(text), shown);
    const WriteCheck write = checkWrite(Words(text), params);
    std::vector<uint16_t> values;
    for (const std::string& word : tokens) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) {
            values.push_back(parseHexWord(word));
            checkHexWord(word);
        } else {
            checkDecimalValue(word.substr(equals + 1));
        }
        checkDecimalValue(word);
    }
    // The values are shown only for a line that one write may carry.
    check(write.values == (values.size() <= 123 ? values : std::vector<uint16_t>{}));
    check(write.refusal.empty() == (write.verdict == WriteCheck::Verdict::send));

    // Whole text, blanks and all: only that it holds a value when it is not empty.
    check(parseDecimalValue(text).has_value() == !text.empty());
    parseHexWord(text);
    return 0;
}
