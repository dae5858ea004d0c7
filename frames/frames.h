#pragma once

#include <termios.h>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Modbus frames as they go on the line: checksum, MBAP header, request and reply wrapping, and
// the silence that ends a frame on a serial line. No I/O here.

enum class Framing { tcp, rtu };

// Bytes of the MBAP header, unit id included.
const std::size_t mbap_length = 7;
// Largest MBAP length field: the unit id and a PDU of at most 253 bytes.
const int max_mbap_length = 254;

// Bytes in front of the PDU: the MBAP header over TCP, the slave address over RTU.
std::size_t headerLength(Framing transport);

// Length of the whole TCP frame these bytes begin, as its MBAP header tells; 0 while fewer than
// the header's bytes have come, -1 for a header no Modbus frame has (a protocol id other than 0,
// or a length outside 2 to 254).
long tcpFrameLength(const uint8_t* bytes, std::size_t have);

// The Modbus RTU checksum (CRC-16/MODBUS); it goes on the line low byte first.
uint16_t crc16(const uint8_t* bytes, std::size_t length);

// Appends the RTU checksum of the bytes to them.
void appendCrc(std::vector<uint8_t>& frame);

// Whether the last two bytes of an RTU frame are the checksum of the others.
bool rtuChecksumOk(const uint8_t* frame, std::size_t length);

// Shortest silence in microseconds between two RTU frames: 3.5 characters of 11 bits, and a
// fixed 1750 us above 19200 baud, as the serial-line rules of Modbus ask.
long silentIntervalMicros(int baud);

// Baud rate of a termios speed, or 0 for one not known here.
int baudOfSpeed(speed_t speed);

// Microseconds that the given number of bytes take on a serial line, 11 bits a byte.
long serialMicros(int baud, int bytes);

// Wraps a reply PDU for the request frame it answers: over TCP behind the request's
// transaction and protocol ids and the given unit, over RTU behind the given slave address and
// before the checksum.
std::vector<uint8_t> frameReply(Framing transport, const uint8_t* request, int unit,
                                const std::vector<uint8_t>& pdu);

// A Write Multiple Registers request (function 16): slave, function and data, without the RTU
// checksum.
std::vector<uint8_t> writeRegistersRequest(int slave, int address, int count,
                                           const uint16_t* values);

// A read registers request (function 3 or 4): slave, function, address and count.
std::vector<uint8_t> readRegistersRequest(int slave, int function, int address, int count);

// A request of slave, function and data as it goes on the line: over TCP behind an MBAP header
// with the transaction id, over RTU before its checksum.
std::vector<uint8_t> frameRequest(Framing transport, int transaction_id,
                                  const std::vector<uint8_t>& request);

// Name of a function code ("read holding registers"), "unknown function" for others.
std::string functionName(int function);

// Meaning of an exception code ("illegal data address"), "unknown exception" for others.
std::string exceptionName(int code);
