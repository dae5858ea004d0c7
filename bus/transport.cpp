#include "bus/transport.h"

#include <modbus/modbus.h>

namespace {

// Function, start address and count: the part of every request that the frame wraps.
const int request_head = 5;

bool rtuTakesSlave(int slave) {
    return slave >= 0 && slave <= 247;
}

bool tcpTakesSlave(int slave) {
    return rtuTakesSlave(slave) || slave == 255;
}

long noGap(int) {
    return 0;
}

long noWire(int, int) {
    return 0;
}

}  // namespace

const Transport rtu_transport = {
    Framing::rtu,
    "0-247",
    rtuTakesSlave,
    true,
    silentIntervalMicros,
    serialMicros,
    3,
    2,
    "the serial line hung up",
};

const Transport tcp_transport = {
    Framing::tcp,
    "0-247 and 255",
    tcpTakesSlave,
    false,
    noGap,
    noWire,
    7,
    3,
    "the slave closed the connection",
};

RequestCheck checkRequest(const Transport& transport, int slave, bool write, int function,
                          int count) {
    if (!transport.takesSlave(slave)) {
        return RequestCheck::slave_out_of_range;
    }
    if (write) {
        return count > MODBUS_MAX_WRITE_REGISTERS ? RequestCheck::too_many : RequestCheck::ok;
    }
    if (transport.broadcasts && slave == MODBUS_BROADCAST_ADDRESS) {
        return RequestCheck::broadcast_read;
    }
    if (function != MODBUS_FC_READ_HOLDING_REGISTERS &&
        function != MODBUS_FC_READ_INPUT_REGISTERS) {
        return RequestCheck::not_a_register_read;
    }
    return count > MODBUS_MAX_READ_REGISTERS ? RequestCheck::too_many : RequestCheck::ok;
}

int requestBytes(const Transport& transport, int function, int count) {
    const int data = function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS ? 1 + 2 * count : 0;
    return transport.frame_overhead + request_head + data;
}

int replyBytes(const Transport& transport, int function, int count) {
    // A write's confirmation echoes the request's head; a read's reply is the function, a byte
    // count and the registers.
    const int pdu = function == MODBUS_FC_WRITE_MULTIPLE_REGISTERS ? request_head : 2 + 2 * count;
    return transport.frame_overhead + pdu;
}
