#include "bus/serial_format.h"

#include <cstddef>

namespace {

int digitValue(char c) {
    return static_cast<signed char>(c) - '0';
}

}  // namespace

SerialFormat parseSerialFormat(const char* format) {
    char chosen[3] = {'8', 'N', '1'};
    for (std::size_t i = 0; format != nullptr && i < 3 && format[i] != '\0'; ++i) {
        chosen[i] = format[i];
    }
    return SerialFormat{digitValue(chosen[0]), chosen[1], digitValue(chosen[2])};
}
