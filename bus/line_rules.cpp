#include "bus/line_rules.h"

#include <algorithm>
#include <cerrno>

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
