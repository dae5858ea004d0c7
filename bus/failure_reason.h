#pragma once

#include <string>

#include "bus/transport.h"

// What the bus knows about a request that failed.
struct FailureFacts {
    int error = 0;  // errno after the request, libmodbus's codes included
    const Transport* transport = nullptr;
    int slave = 0;
    long timeout_ms = 0;           // the operator's response timeout
    bool never_connected = false;  // the connection failed when the bus started
    bool link_lost = false;        // the far side went away during or before this request
    bool given_up = false;         // the reply kept coming until the request's bound
    long bound_ms = 0;             // that bound, counted from the request
    unsigned set_aside = 0;        // what came instead of an answer, as SetAside bits
};

// The reason of the failure in the operator's words, one line without its end.
std::string failureReason(const FailureFacts& facts);
