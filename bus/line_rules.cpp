#include "bus/line_rules.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <modbus/modbus.h>

namespace {

const long bits_per_character = 11;

}  // namespace

long silentIntervalMicros(int baud) {
    if (baud > 19200) {
        return 1750;
    }
    // A baud rate the line cannot have is taken as the slowest common one, to stay on the safe
    // side.
    const long rate = baud > 0 ? baud : 1200;
    return (35 * bits_per_character * 1000000L + 10 * rate - 1) / (10 * rate);
}

long serialMicros(int baud, int bytes) {
    const long rate = baud > 0 ? baud : 1200;
    return (bytes * bits_per_character * 1000000L + rate - 1) / rate;
}

long quietWaitMillis(long since_arrival_ms, long since_start_ms, long timeout_ms, long bound_ms) {
    if (since_arrival_ms >= timeout_ms || since_start_ms >= bound_ms) {
        return -1;
    }
    return std::min(timeout_ms - since_arrival_ms, bound_ms - since_start_ms);
}

bool failureMayLeaveBytes(int error) {
    const bool exception_reply = error > MODBUS_ENOBASE && error <= EMBXGTAR;
    const bool not_sent = error == EMBMDATA || error == EINVAL;
    return !exception_reply && !not_sent;
}

int baudOfSpeed(speed_t speed) {
    static const std::pair<speed_t, int> speeds[] = {
        {B50, 50},           {B75, 75},           {B110, 110},         {B134, 134},
        {B150, 150},         {B200, 200},         {B300, 300},         {B600, 600},
        {B1200, 1200},       {B1800, 1800},       {B2400, 2400},       {B4800, 4800},
        {B9600, 9600},       {B19200, 19200},     {B38400, 38400},     {B57600, 57600},
        {B115200, 115200},   {B230400, 230400},   {B460800, 460800},   {B500000, 500000},
        {B576000, 576000},   {B921600, 921600},   {B1000000, 1000000}, {B1152000, 1152000},
        {B1500000, 1500000}, {B2000000, 2000000}, {B2500000, 2500000}, {B3000000, 3000000},
        {B3500000, 3500000}, {B4000000, 4000000},
    };
    for (const auto& known : speeds) {
        if (known.first == speed) {
            return known.second;
        }
    }
    return 0;
}

uint16_t frameCheckSum(const uint8_t* bytes, std::size_t size) {
    uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1) != 0;
            crc = static_cast<uint16_t>(crc >> 1);
            if (carry) {
                crc ^= 0xA001;
            }
        }
    }
    return crc;
}

std::vector<uint8_t> writeRequest(int slave, int address, int count, const uint16_t* values) {
    std::vector<uint8_t> request{
        static_cast<uint8_t>(slave),        MODBUS_FC_WRITE_MULTIPLE_REGISTERS,
        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
        static_cast<uint8_t>(count >> 8),   static_cast<uint8_t>(count),
        static_cast<uint8_t>(2 * count)};
    for (int i = 0; i < count; ++i) {
        request.push_back(static_cast<uint8_t>(values[i] >> 8));
        request.push_back(static_cast<uint8_t>(values[i]));
    }
    return request;
}
