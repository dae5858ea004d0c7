#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/registers.h"

enum class Transport { tcp, rtu };

// What a request frame asks, as far as the log needs it. Address and count are -1 for a
// function that carries none or a frame too short to hold them.
struct Request {
    int unit = -1;
    int function = -1;
    int address = -1;
    int count = -1;
};

// The slave's answer to one request PDU: the reply PDU, and the exception code it carries
// (0 when it is a normal reply).
struct Answer {
    std::vector<uint8_t> pdu;
    int exception = 0;
};

// Bytes in front of the PDU: the MBAP header over TCP, the slave address over RTU.
std::size_t headerLength(Transport transport);

// Decodes a whole request frame (header, PDU and, over RTU, the checksum).
Request decodeRequest(Transport transport, const uint8_t* frame, std::size_t length);

// Serves one request PDU against map as a correct slave does (reads and writes of coils,
// discrete inputs, holding and input registers: functions 1-6, 15 and 16), storing writes.
Answer answerRequest(const uint8_t* pdu, std::size_t length, RegisterMap& map);

// The PDU of exception code for a request with the given function code.
std::vector<uint8_t> exceptionPdu(int function, int code);

// Wraps a reply PDU for the request frame it answers: over TCP behind the request's
// transaction and protocol ids and the given unit, over RTU behind the given slave address and
// before the checksum.
std::vector<uint8_t> frameReply(Transport transport, const uint8_t* request, int unit,
                                const std::vector<uint8_t>& pdu);

// Length of the whole RTU request frame these bytes begin, as its function code tells, or 0
// while too few bytes have come to tell. A function without address or count takes 4 bytes.
std::size_t rtuRequestLength(const uint8_t* bytes, std::size_t have);

// Whether the last two bytes of an RTU frame are the checksum of the others.
bool rtuChecksumOk(const uint8_t* frame, std::size_t length);

// The Modbus RTU checksum, as it goes on the line: low byte first.
uint16_t crc16(const uint8_t* bytes, std::size_t length);

// Name of a function code ("read holding registers"), "unknown function" for others.
std::string functionName(int function);

// Meaning of an exception code ("illegal data address"), "unknown exception" for others.
std::string exceptionName(int code);
