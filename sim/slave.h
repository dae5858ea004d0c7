#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/faults.h"
#include "sim/frames.h"
#include "sim/registers.h"

// What the slave does with one request frame.
struct Response {
    std::vector<uint8_t> frame;  // bytes to send; none for no reply
    int delay_ms = 0;            // wait before sending them (trickle: between their bytes)
    bool close = false;          // drop the connection instead of replying
    int exception = 0;           // exception code of the reply, 0 for a normal reply
    Fault fault = Fault::none;   // the fault applied
    bool broadcast = false;      // served without a reply: RTU slave address 0
    bool ignored = false;        // for another unit, or too short: neither served nor answered
};

// Serves one whole request frame (over RTU with its checksum, already checked) against map.
// A slave with a unit (0-255) serves only that unit; a negative one serves every unit. Requests
// it answers take their fault from plan.
Response respond(Framing transport, const uint8_t* frame, std::size_t length, int unit,
                 RegisterMap& map, FaultPlan& plan);
