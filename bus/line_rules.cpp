#include "bus/line_rules.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <modbus/modbus.h>

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
