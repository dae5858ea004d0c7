#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/frames.h"
#include "sim/registers.h"

// What a request frame asks, as far as the log needs it. Address and count are -1 for a
// function that carries none or a frame too short to hold them; the write ones are those of
// read/write multiple registers (23).
struct Request {
    int unit = -1;
    int function = -1;
    int address = -1;
    int count = -1;
    int write_address = -1;
    int write_count = -1;
};

// The slave's answer to one request PDU: the reply PDU, and the exception code it carries
// (0 when it is a normal reply).
struct Answer {
    std::vector<uint8_t> pdu;
    int exception = 0;
};

// Decodes a whole request frame (header, PDU and, over RTU, the checksum).
Request decodeRequest(Framing transport, const uint8_t* frame, std::size_t length);

// Serves one request PDU against map as a correct slave does (reads and writes of coils,
// discrete inputs, holding and input registers: functions 1-6, 15, 16 and 23), storing writes.
// Any other function gets exception 1; a PDU whose size disagrees with its own counts gets
// exception 3 and changes nothing.
Answer answerRequest(const uint8_t* pdu, std::size_t length, RegisterMap& map);

// The PDU of exception code for a request with the given function code.
std::vector<uint8_t> exceptionPdu(int function, int code);
