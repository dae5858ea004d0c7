#include "terminal/register_view.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int bytes_per_row = 16;
constexpr std::size_t row_width = 74;
constexpr std::size_t char_column = 58;

constexpr char column_header[] =
    "        +0          +4          +8          +c            0   4   8   c   \n";

char hexDigit(unsigned value) {
    return "0123456789abcdef"[value & 0xF];
}

// A blank row with its "+xxxx" offset label and the trailing newline.
void startRow(char* row, int offset) {
    std::memset(row, ' ', row_width);
    row[0] = '+';
    for (int digit = 0; digit < 4; ++digit) {
        row[4 - digit] = hexDigit(static_cast<unsigned>(offset) >> (4 * digit));
    }
    row[row_width] = '\n';
}

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    char text[160];
    const int length = std::snprintf(text, sizeof text, pattern, args...);
    if (length < 0) {
        return std::string();
    }
    if (static_cast<std::size_t>(length) < sizeof text) {
        return std::string(text, static_cast<std::size_t>(length));
    }
    std::string long_text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(long_text.data(), long_text.size(), pattern, args...);
    long_text.pop_back();
    return long_text;
}

}  // namespace

std::size_t registerImage(const uint16_t* registers, int count, unsigned char* image) {
    std::size_t size = 0;
    for (int i = 0; i < count; ++i) {
        image[size++] = static_cast<unsigned char>(registers[i] >> 8);
        image[size++] = static_cast<unsigned char>(registers[i] & 0xFF);
    }
    return size;
}

std::string dumpHeader(const char* title, const void* data, int size) {
    return format("---------> %20s <--------- (%d bytes from %p)\n", title, size, data);
}

std::string dumpRows(const unsigned char* data, int size) {
    std::string text(column_header);
    if (size <= 0) {
        return text;
    }
    const std::size_t rows = (static_cast<std::size_t>(size) + bytes_per_row - 1) / bytes_per_row;
    text.reserve(text.size() + rows * (row_width + 1));
    char row[row_width + 1];
    for (int start = 0; start < size; start += bytes_per_row) {
        startRow(row, start);
        for (int j = 0; j < bytes_per_row && start + j < size; ++j) {
            const unsigned char byte = data[start + j];
            row[8 + 3 * j] = hexDigit(byte >> 4u);
            row[9 + 3 * j] = hexDigit(byte);
            row[char_column + static_cast<std::size_t>(j)] =
                (byte >= 0x20 && byte <= 0x7E) ? static_cast<char>(byte) : '.';
        }
        text.append(row, row_width + 1);
    }
    return text;
}

void dumpBytes(const char* title, const unsigned char* data, int size) {
    std::fputs(dumpHeader(title, data, size).c_str(), stdout);
    std::fputs(dumpRows(data, size).c_str(), stdout);
}

std::string registerViews(const uint16_t* registers, int count) {
    if (count == 1) {
        // The two bytes exchanged, for a slave that sends the low byte first; the dump shows
        // them high byte first, as they came.
        const unsigned swapped =
            static_cast<unsigned>((registers[0] & 0xFF) << 8 | registers[0] >> 8);
        return format("16: %04X %d\n", swapped, static_cast<int>(swapped));
    }
    if (count == 2) {
        const uint32_t bits = static_cast<uint32_t>(registers[0]) << 16 | registers[1];
        float real = 0;
        std::memcpy(&real, &bits, sizeof real);
        return format("32: %08X %d\n", bits, static_cast<int32_t>(bits)) +
               format("f :%f\n", static_cast<double>(real));
    }
    return std::string();
}
