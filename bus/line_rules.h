#pragma once

#include <termios.h>
#include <cstddef>
#include <cstdint>
#include <vector>

// Rules of the line shared by every request: timing on a serial line, when a failed transaction
// has left the line unsettled, and the frames the bus object builds itself. No I/O here.

// Shortest gap in microseconds between two RTU frames: 3.5 characters of 11 bits, and a fixed
// 1750 us above 19200 baud, as the serial-line rules of Modbus ask.
long silentIntervalMicros(int baud);

// Microseconds that the given number of bytes take on a serial line, 11 bits a byte.
long serialMicros(int baud, int bytes);

// The next wait of the quiet-line loop in milliseconds, or -1 once the line is quiet (nothing has
// arrived for a whole response timeout) or the wait has reached its bound.
long quietWaitMillis(long since_arrival_ms, long since_start_ms, long timeout_ms, long bound_ms);

// Whether a transaction that failed with this errno may leave bytes on the line that a later
// request would take for its answer: not after an exception reply, which is a whole answer, nor
// when the library refused the request before sending it.
bool failureMayLeaveBytes(int error);

// Baud rate of a termios speed, or 0 for one not known here.
int baudOfSpeed(speed_t speed);

// The check sum that ends an RTU frame (CRC-16/MODBUS); the frame carries it low byte first.
uint16_t frameCheckSum(const uint8_t* bytes, std::size_t size);

// A Write Multiple Registers request as modbus_send_raw_request takes it: slave, function and
// data, without the RTU check sum.
std::vector<uint8_t> writeRequest(int slave, int address, int count, const uint16_t* values);
