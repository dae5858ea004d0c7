#include "bus/failure_reason.h"

#include <cerrno>
#include <cstring>

#include <modbus/modbus.h>

#include "frames/reply_match.h"

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

// What came instead of an answer, the most telling first: a damaged or misfitting reply of the
// slave, a reply meant for something else, then bytes that make no frame.
std::string whatCame(unsigned set_aside, const std::string& slave) {
    if ((set_aside & set_aside_bad_crc) != 0) {
        return "a reply with a bad CRC";
    }
    if ((set_aside & set_aside_misfit) != 0) {
        return "a reply that does not fit the request";
    }
    if ((set_aside & set_aside_other_request) != 0) {
        return "a reply to another request";
    }
    if ((set_aside & set_aside_other_unit) != 0) {
        return "a reply from another slave than " + slave;
    }
    return "garbage that makes no Modbus frame";
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
            if (facts.set_aside != 0) {
                return whatCame(facts.set_aside, slave);
            }
            return "no answer from slave " + slave + " within " + std::to_string(facts.timeout_ms) +
                   " ms";
        case EINTR:
            return "interrupted by Ctrl-C";
        case EMBBADEXC:
        case EMBUNKEXC:
            return "a reply with an exception code Modbus does not define";
        case EMBMDATA:
            return "too many registers for one request";
        default:
            return std::string("the request failed: ") + std::strerror(facts.error);
    }
}
