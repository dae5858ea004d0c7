#include "bus/failure_reason.h"

#include <cerrno>
#include <cstring>

#include <modbus/modbus.h>

namespace {

// The meaning of a Modbus exception code, or null for one the protocol does not define.
const char* exceptionMeaning(int code) {
    static const char* const meanings[] = {
        nullptr,
        "illegal function",
        "illegal data address",
        "illegal data value",
        "slave device failure",
        "acknowledge",
        "slave device busy",
        "negative acknowledge",
        "memory parity error",
        nullptr,
        "gateway path unavailable",
        "gateway target device failed to respond",
    };
    return code > 0 && code < static_cast<int>(sizeof meanings / sizeof meanings[0])
               ? meanings[code]
               : nullptr;
}

}  // namespace

std::string failureReason(const FailureFacts& facts) {
    const std::string slave = std::to_string(facts.slave);
    if (facts.never_connected) {
        return "not connected, because the connection failed at start";
    }
    if (facts.link_lost || facts.error == ECONNRESET || facts.error == EPIPE) {
        return facts.transport->link_lost;
    }
    if (facts.given_up) {
        return "the reply of slave " + slave + " had not ended " + std::to_string(facts.bound_ms) +
               " ms after the request, so it was given up";
    }
    const int exception = facts.error - MODBUS_ENOBASE;
    if (const char* meaning = exceptionMeaning(exception)) {
        return "slave " + slave + " refused with exception " + std::to_string(exception) + " (" +
               meaning + ")";
    }
    switch (facts.error) {
        case ETIMEDOUT:
            return "no answer from slave " + slave + " within " + std::to_string(facts.timeout_ms) +
                   " ms";
        case EMBBADCRC:
            return "a reply with a bad CRC";
        case EMBBADSLAVE:
            return "a reply from another slave than " + slave;
        case EMBBADDATA:
            return "a reply that does not fit the request";
        case EMBBADEXC:
        case EMBUNKEXC:
            return "a reply with an exception code Modbus does not define";
        case EMBMDATA:
            return "too many registers for one request";
        default:
            return std::string("the request failed: ") + std::strerror(facts.error);
    }
}
