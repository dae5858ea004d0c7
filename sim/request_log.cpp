#include "sim/request_log.h"

#include <cstdio>

std::string logTime(std::time_t seconds, long milliseconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                  local.tm_sec, milliseconds);
    return text;
}

std::string outcomeText(const Response& response) {
    if (response.ignored) {
        return "ignored: not for this unit";
    }
    if (response.fault == Fault::exception) {
        return "fault exception 4 (" + exceptionName(4) + ")";
    }
    std::string text = response.exception == 0 ? "ok"
                                               : "exception " + std::to_string(response.exception) +
                                                     " (" + exceptionName(response.exception) + ")";
    if (response.broadcast) {
        return text + ", broadcast: no reply";
    }
    if (response.fault != Fault::none) {
        const std::string delay = response.fault == Fault::late || response.fault == Fault::trickle
                                      ? " " + std::to_string(response.delay_ms) + " ms"
                                      : "";
        const std::string on = response.exception == 0 ? "" : " on " + text;
        text = "fault " + faultName(response.fault) + delay + on;
    }
    return text;
}

std::string requestLine(const std::string& time, const std::string& client, const Request& request,
                        const std::string& outcome) {
    std::string line = time + " " + client + " unit " + std::to_string(request.unit) + " " +
                       functionName(request.function) + " (" + std::to_string(request.function) +
                       ")";
    if (request.address >= 0) {
        line += " address " + std::to_string(request.address) + " count " +
                std::to_string(request.count);
    }
    if (request.write_address >= 0) {
        line += " write address " + std::to_string(request.write_address) + " count " +
                std::to_string(request.write_count);
    }
    return line + ": " + outcome;
}
