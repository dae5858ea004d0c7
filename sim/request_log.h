#pragma once

#include <ctime>
#include <string>

#include "sim/frames.h"
#include "sim/slave.h"

// The request log's time stamp: local time of day to the millisecond, "14:03:07.250".
std::string logTime(std::time_t seconds, long milliseconds);

// What became of a request: "ok", "exception 2 (illegal data address)", the fault applied
// ("fault late 1500 ms"), or why it got no reply.
std::string outcomeText(const Response& response);

// One line of the request log, without its newline:
// "14:03:07.250 127.0.0.1:40212 unit 1 read holding registers (3) address 100 count 2: ok".
std::string requestLine(const std::string& time, const std::string& client, const Request& request,
                        const std::string& outcome);
