// Register bytes through registerImage, dumpHeader, dumpRows and registerViews, with every
// layout rule of the dump checked. Buffers are heap copies of exact size, so any read past the
// end is an ASan report.
//
// The first byte picks the dump size, 1 to 250 bytes; the bytes after it fill the dump (zeros
// when the input runs short) and, up to their first NUL, make the dump's title.
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "terminal/register_view.h"

namespace {

constexpr std::size_t row_width = 74;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

int hexValue(char c) {
    const char* digits = "0123456789abcdef";
    const char* at = std::strchr(digits, c);
    return c != '\0' && at != nullptr ? static_cast<int>(at - digits) : -1;
}

// A row is 74 columns and a newline: its label gives the offset back, each byte's two hex digits
// give the byte back, the character column shows the byte or a dot, and everything else is blank.
void checkRow(const std::string& row, const unsigned char* data, int size, int start) {
    check(row.size() == row_width + 1 && row.back() == '\n');
    check(row[0] == '+' && std::strtol(row.substr(1, 4).c_str(), nullptr, 16) == start);
    std::string blanks = row.substr(5, row_width - 5);
    for (int j = 0; j < 16; ++j) {
        const std::size_t hex_at = static_cast<std::size_t>(8 + 3 * j) - 5;
        const std::size_t char_at = static_cast<std::size_t>(58 + j) - 5;
        if (start + j < size) {
            const unsigned char byte = data[start + j];
            check(hexValue(blanks[hex_at]) * 16 + hexValue(blanks[hex_at + 1]) == byte);
            const char shown = blanks[char_at];
            check(shown == static_cast<char>(byte) ? std::isprint(byte) != 0
                                                   : shown == '.' && std::isprint(byte) == 0);
            blanks[hex_at] = blanks[hex_at + 1] = blanks[char_at] = ' ';
        }
    }
    check(blanks.find_first_not_of(' ') == std::string::npos);
}

void checkRows(const unsigned char* data, int size) {
    const std::string text = dumpRows(data, size);
    const std::size_t rows = static_cast<std::size_t>((size + 15) / 16);
    check(text.size() == (rows + 1) * (row_width + 1));
    // The column header comes first, as wide as a row.
    check(text.compare(0, 10, "        +0") == 0 && text[row_width] == '\n');
    for (std::size_t r = 0; r < rows; ++r) {
        checkRow(text.substr((r + 1) * (row_width + 1), row_width + 1), data, size,
                 static_cast<int>(r * 16));
    }
}

void checkHeader(const char* title, const void* data, int size) {
    const std::string header = dumpHeader(title, data, size);
    const std::size_t title_length = std::strlen(title);
    char address[32];
    std::snprintf(address, sizeof address, "%p", data);
    const std::string expected =
        "---------> " + std::string(title_length < 20 ? 20 - title_length : 0, ' ') + title +
        " <--------- (" + std::to_string(size) + " bytes from " + address + ")\n";
    check(header == expected);
}

void checkViews(const uint16_t* registers, int count) {
    const std::string views = registerViews(registers, count);
    if (count == 1) {
        const unsigned swapped =
            static_cast<unsigned>((registers[0] & 0xFF) << 8 | registers[0] >> 8);
        unsigned hex = 0;
        int number = -1;
        check(std::sscanf(views.c_str(), "16: %4X %d", &hex, &number) == 2);
        check(hex == swapped && number == static_cast<int>(swapped));
        check(views.size() == 10 + std::to_string(swapped).size() && views.back() == '\n');
        check(views.find_first_of("abcdef") == std::string::npos);
    } else if (count == 2) {
        const uint32_t bits = static_cast<uint32_t>(registers[0]) << 16 | registers[1];
        unsigned hex = 0;
        int number = 0;
        check(std::sscanf(views.c_str(), "32: %8X %d", &hex, &number) == 2);
        check(hex == bits && number == static_cast<int32_t>(bits));
        const std::size_t second = views.find('\n') + 1;
        check(second == 14 + std::to_string(static_cast<int32_t>(bits)).size());
        check(views.find_first_of("abcdef") >= second);
        check(views.compare(second, 3, "f :") == 0 && views.back() == '\n' &&
              views.find('\n', second) == views.size() - 1);
        float real = 0;
        std::memcpy(&real, &bits, sizeof real);
        const double shown = std::strtod(views.c_str() + second + 3, nullptr);
        if (std::isnan(real)) {
            check(std::isnan(shown));
        } else if (std::isinf(real)) {
            check(shown == static_cast<double>(real));
        } else {
            // Six decimals, rounded; reading the text back may cost a few units in the last place.
            const double exact = static_cast<double>(real);
            check(std::fabs(shown - exact) <= 5e-7 + std::fabs(exact) * 1e-15);
        }
    } else {
        check(views.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int dump_size = 1 + data[0] % 250;
    const std::size_t n = static_cast<std::size_t>(dump_size);
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[n]);
    for (std::size_t i = 0; i < n; ++i) {
        bytes[i] = 1 + i < size ? data[1 + i] : 0;
    }
    const std::string title(reinterpret_cast<const char*>(data + 1),
                            strnlen(reinterpret_cast<const char*>(data + 1), size - 1));

    checkRows(bytes.get(), dump_size);
    checkHeader(title.c_str(), bytes.get(), dump_size);

    // The same bytes as registers, high byte first, and back to bytes.
    const int count = dump_size / 2;
    const std::size_t registers_size = static_cast<std::size_t>(count);
    std::unique_ptr<uint16_t[]> registers(new uint16_t[registers_size]);
    for (std::size_t i = 0; i < registers_size; ++i) {
        registers[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    }
    std::unique_ptr<unsigned char[]> image(new unsigned char[2 * registers_size]);
    check(registerImage(registers.get(), count, image.get()) == 2 * registers_size);
    check(std::memcmp(image.get(), bytes.get(), 2 * registers_size) == 0);
    checkRows(image.get(), 2 * count);

    checkViews(registers.get(), count);
    if (count >= 2) {
        checkViews(registers.get(), 1);
        checkViews(registers.get(), 2);
    }
    return 0;
}
