#pragma once

#include "frames/frames.h"

// Everything the bus does differently on Modbus RTU and Modbus TCP, as one table per transport
// chosen once when the bus is built. No I/O here.
struct Transport {
    Framing framing;
    // The slave numbers the transport takes, as the operator reads them.
    const char* slave_range;
    bool (*takesSlave)(int slave);
    // Whether slave 0 reaches every slave on the line, and none answers.
    bool broadcasts;
    // The quiet gap the line needs before a frame, in microseconds at the line's rate.
    long (*silentMicros)(int baud);
    // The time in microseconds that a request of so many bytes takes to leave on the line.
    long (*wireMicros)(int baud, int bytes);
    // Bytes a request frame adds around its function code and data (address, header, check sum).
    int frame_overhead;
    // Response timeouts after the request has left the line (and the reply's own time on it)
    // during which the line is watched for a late answer; nothing that arrives sooner is taken
    // by a later request.
    int late_timeouts;
    // What it means when the line reads its end: the far side went away.
    const char* link_lost;
};

extern const Transport rtu_transport;
extern const Transport tcp_transport;

// Why a request may not go to the bus, checked before anything reaches it.
enum class RequestCheck { ok, slave_out_of_range, broadcast_read, not_a_register_read, too_many };

// The one check of a request's slave, function and register count against the transport and the
// protocol's limits (read up to 125 registers, write up to 123; a count of 0 goes out as typed).
// A write is always Write Multiple Registers; a read's function must read registers.
RequestCheck checkRequest(const Transport& transport, int slave, bool write, int function,
                          int count);

// Bytes of a request of this function for this many registers on the wire of the transport, and
// of the longest reply that answers it.
int requestBytes(const Transport& transport, int function, int count);
int replyBytes(const Transport& transport, int function, int count);
