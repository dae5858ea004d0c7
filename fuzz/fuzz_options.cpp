// The start-up texts: parseOptionNumber against glibc's strtoul, parseSerialFormat on a copy of
// exact length, and parseOptions on an argv made of the input's NUL-separated words.
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/options.h"
#include "bus/serial_format.h"

namespace {

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

int32_t low32(unsigned long value) {
    return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFUL));
}

// What parseOptionNumber must give: glibc's strtoul in base 0. That base knows the 0b prefix only
// from glibc 2.38 on, so a text with that prefix goes to strtoul in base 2 without it.
int32_t expectedNumber(const char* text) {
    const char* p = text + std::strspn(text, " \t\n\v\f\r");
    p += (*p == '+' || *p == '-') ? 1 : 0;
    if (p[0] != '0' || (p[1] != 'b' && p[1] != 'B') || (p[2] != '0' && p[2] != '1')) {
        return low32(std::strtoul(text, nullptr, 0));
    }
    const std::string without_prefix = std::string(text, p) + (p + 2);
    return low32(std::strtoul(without_prefix.c_str(), nullptr, 2));
}

void checkSerialFormat(const char* text, std::size_t length) {
    // Exactly the text and its NUL, nothing after: a read past the end is an ASan report.
    std::unique_ptr<char[]> copy(new char[length + 1]);
    std::memcpy(copy.get(), text, length + 1);
    const SerialFormat format = parseSerialFormat(copy.get());
    const char chosen[3] = {length > 0 ? text[0] : '8', length > 1 ? text[1] : 'N',
                            length > 2 ? text[2] : '1'};
    check(format.data_bits == static_cast<signed char>(chosen[0]) - '0');
    check(format.parity == chosen[1]);
    check(format.stop_bits == static_cast<signed char>(chosen[2]) - '0');
}

bool pointsInto(const char* text, const std::vector<std::unique_ptr<char[]>>& words,
                const std::vector<std::size_t>& lengths) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (text >= words[i].get() && text <= words[i].get() + lengths[i]) {
            return true;
        }
    }
    return false;
}

void checkOptions(const uint8_t* data, std::size_t size) {
    // argv[0] and then each NUL-separated word, every one in a heap block of its own size.
    std::vector<std::unique_ptr<char[]>> words;
    std::vector<std::size_t> lengths;
    const char* program = "tesmar";
    words.emplace_back(new char[7]);
    std::memcpy(words.back().get(), program, 7);
    lengths.push_back(6);
    std::size_t start = 0;
    while (start < size) {
        const void* nul = std::memchr(data + start, 0, size - start);
        const std::size_t end =
            nul != nullptr ? static_cast<std::size_t>(static_cast<const uint8_t*>(nul) - data)
                           : size;
        const std::size_t length = end - start;
        words.emplace_back(new char[length + 1]);
        std::memcpy(words.back().get(), data + start, length);
        words.back()[length] = '\0';
        lengths.push_back(length);
        start = end + 1;
    }
    std::vector<char*> argv;
    for (const auto& word : words) {
        argv.push_back(word.get());
    }
    argv.push_back(nullptr);

    const StartupSettings settings = parseOptions(static_cast<int>(words.size()), argv.data());
    if (settings.show_usage) {
        return;
    }
    // Texts are taken from argv, never copied.
    check(settings.host == nullptr || pointsInto(settings.host, words, lengths));
    check(settings.device == nullptr || pointsInto(settings.device, words, lengths));
    check(std::strcmp(settings.format, "8N1") == 0 || pointsInto(settings.format, words, lengths));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // getopt's complaints would bury the log; what it returns is the same either way.
    opterr = 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* c_text = text.c_str();  // up to the first NUL

    check(parseOptionNumber(c_text) == expectedNumber(c_text));
    checkSerialFormat(c_text, std::strlen(c_text));
    checkOptions(data, size);
    return 0;
}
