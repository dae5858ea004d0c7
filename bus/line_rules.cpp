#include "bus/line_rules.h"

#include <algorithm>
#include <cerrno>

#include <modbus/modbus.h>

namespace {

// The shortest silence that counts as a quiet line, whatever the response timeout: a late reply
// that comes well after a short timeout is still taken off the line.
const long shortest_quiet_ms = 1000;

}  // namespace

long quietWaitMillis(long since_arrival_ms, long since_start_ms, long timeout_ms, long bound_ms) {
    const long quiet_ms = std::max(shortest_quiet_ms, timeout_ms);
    if (since_arrival_ms >= quiet_ms || since_start_ms >= bound_ms) {
        return -1;
    }
    return std::min(quiet_ms - since_arrival_ms, bound_ms - since_start_ms);
}

bool failureMayLeaveBytes(int error) {
    const bool exception_reply = error > MODBUS_ENOBASE && error <= EMBXGTAR;
    const bool not_sent = error == EMBMDATA || error == EINVAL;
    return !exception_reply && !not_sent;
}
