#include "bus/transport.h"

#include <algorithm>

#include <modbus/modbus.h>

#include "bus/line_rules.h"

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

int noTransactionId(int) {
    return 0;
}

// libmodbus counts up before each request and goes from 0xFFFF back to 0.
int countedTransactionId(int last) {
    return last < 0xFFFF ? last + 1 : 0;
}

// A Write Multiple Registers confirmation after its transport's header: slave, function, address
// and count.
std::vector<uint8_t> confirmation(std::vector<uint8_t> header, int slave, int address, int count) {
    header.insert(header.end(), {static_cast<uint8_t>(slave), MODBUS_FC_WRITE_MULTIPLE_REGISTERS,
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                                 static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)});
    return header;
}

// An RTU frame has no length of its own: the late bytes must be the confirmation and nothing else.
bool rtuConfirmation(const std::vector<uint8_t>& bytes, int, int slave, int address, int count) {
    std::vector<uint8_t> expected = confirmation({}, slave, address, count);
    appendCrc(expected);
    return bytes == expected;
}

// TCP frames carry their length, so the confirmation may stand among other late frames; it
// carries the request's transaction id, protocol 0 and a length of 6.
bool tcpConfirmation(const std::vector<uint8_t>& bytes, int transaction_id, int slave, int address,
                     int count) {
    const std::vector<uint8_t> expected =
        confirmation({static_cast<uint8_t>(transaction_id >> 8),
                      static_cast<uint8_t>(transaction_id), 0, 0, 0, 6},
                     slave, address, count);
    std::size_t at = 0;
    while (at < bytes.size()) {
        const long length = tcpFrameLength(bytes.data() + at, bytes.size() - at);
        const std::size_t end = at + static_cast<std::size_t>(length);
        if (length <= 0 || end > bytes.size()) {
            return false;
        }
        if (std::equal(bytes.begin() + static_cast<long>(at),
                       bytes.begin() + static_cast<long>(end), expected.begin(), expected.end())) {
            return true;
        }
        at = end;
    }
    return false;
}

}  // namespace

const Transport rtu_transport = {
    "0-247",
    rtuTakesSlave,
    true,
    silentIntervalMicros,
    serialMicros,
    3,
    noTransactionId,
    rtuConfirmation,
    "the serial line hung up",
};

const Transport tcp_transport = {
    "0-247 and 255",
    tcpTakesSlave,
    false,
    noGap,
    noWire,
    7,
    countedTransactionId,
    tcpConfirmation,
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
