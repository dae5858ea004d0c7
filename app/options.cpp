#include "app/options.h"

#include <unistd.h>
#include <cctype>
#include <climits>

namespace {

int digitIn(char c, unsigned base) {
    unsigned value = base;
    if (c >= '0' && c <= '9') {
        value = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
        value = static_cast<unsigned>(c - 'a') + 10;
    } else if (c >= 'A' && c <= 'Z') {
        value = static_cast<unsigned>(c - 'A') + 10;
    }
    return value < base ? static_cast<int>(value) : -1;
}

}  // namespace

int32_t parseOptionNumber(const char* text) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = (*p == '-');
        ++p;
    }
    // A prefix counts only when a digit of its base follows, as "0x" alone is the number 0.
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digitIn(p[2], 16) >= 0) {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && (p[1] == 'b' || p[1] == 'B') && digitIn(p[2], 2) >= 0) {
        base = 2;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    unsigned long long value = 0;
    bool overflow = false;
    for (int digit = digitIn(*p, base); digit >= 0; digit = digitIn(*++p, base)) {
        if (value > (ULLONG_MAX - static_cast<unsigned>(digit)) / base) {
            overflow = true;
        } else {
            value = value * base + static_cast<unsigned>(digit);
        }
    }
    if (overflow) {
        value = ULLONG_MAX;
    } else if (negative) {
        value = 0ULL - value;
    }
    return static_cast<int32_t>(static_cast<uint32_t>(value & 0xFFFFFFFFULL));
}

StartupSettings parseOptions(int argc, char** argv) {
    StartupSettings settings;
    optind = 0;  // a full restart of the parser, so it can be used more than once
    int option;
    while ((option = getopt(argc, argv, "?d:p:h:b:c:")) != -1) {
        switch (option) {
            case 'd':
                settings.device = optarg;
                break;
            case 'p':
                settings.port = parseOptionNumber(optarg);
                break;
            case 'h':
                settings.host = optarg;
                break;
            case 'b':
                settings.baud = parseOptionNumber(optarg);
                break;
            case 'c':
                settings.format = optarg;
                break;
            default:
                settings.show_usage = true;
                return settings;
        }
    }
    return settings;
}
