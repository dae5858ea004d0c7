#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/frames.h"

// The ways the slave can answer wrongly.
enum class Fault {
    none,
    txid,
    unit,
    bytecount,
    truncated,
    garbage,
    crc,
    noise,
    exception,
    late,
    silent,
    close,
    trickle
};

// The fault of a -f name; empty for a name that is not a fault.
std::optional<Fault> parseFault(const std::string& name);
std::string faultName(Fault fault);
// False for a fault that has no meaning on the transport (txid over RTU, crc over TCP).
bool faultFits(Fault fault, Framing transport);

// Which requests get the fault: the first `count` ones addressed to this slave, or all of them
// when count is negative.
struct FaultPlan {
    Fault fault = Fault::none;
    long count = -1;
    int delay_ms = 1500;

    // The fault for the next request addressed to this slave; counts it.
    Fault next();
};

// Interval between the bytes of a trickled reply without -D: just under the 0.5 s that masters
// commonly allow between two bytes of one reply.
const int trickle_interval_ms = 450;

// Bytes of a trickled reply sent at once before the rest comes one at a time: the header and the
// function code, which a master reads as one piece.
std::size_t trickleHead(Framing transport);

// The frame a faulty slave sends for the correct reply pdu to the request frame: the reply
// framed, then broken as the fault says. Faults that change only when or whether the reply goes
// (late, trickle, silent, close), and exception, whose reply is built apart, leave it correct.
std::vector<uint8_t> faultyReply(Fault fault, Framing transport, const uint8_t* request, int unit,
                                 std::vector<uint8_t> pdu);
