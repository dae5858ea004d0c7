#include "cModbus.h"

#include <cerrno>

#include "modbus_port.h"
#include "serial_format.h"

cModbus* cModbus::instance = nullptr;

cModbus::cModbus(const char* device, int baud, const char* format)
    : cOrvel("cModbus"), ctx(nullptr), is_tcp(0) {
    info("Opening master RTU bus on %s with baud %d and config", device, baud);
    const SerialFormat serial = parseSerialFormat(format);
    ctx = modbus_port->new_rtu(device, baud, serial.parity, serial.data_bits, serial.stop_bits);
    if (ctx == nullptr) {
        reportMissingContext();
    }
}

cModbus::cModbus(const char* host, int port) : cOrvel("cModbus"), ctx(nullptr), is_tcp(1) {
    info("Opening TCP client bus to %s:%d", host, port);
    ctx = modbus_port->new_tcp(host, port);
    if (ctx == nullptr) {
        reportMissingContext();
        return;
    }
    modbus_port->set_debug(ctx, 1);
    modbus_port->flush(ctx);
}

void cModbus::reportMissingContext() {
    error("The library refused the bus settings: %s", modbus_strerror(errno));
}

void cModbus::start() {
    if (!usable()) {
        return;
    }
    const int rc = modbus_port->connect(ctx);
    if (is_tcp) {
        if (rc != 0) {
            error("Modbus did not start at all");
        } else {
            info("Modbus started OK");
        }
        return;
    }
    if (rc == 0) {
        modbus_port->rtu_set_serial_mode(ctx, MODBUS_RTU_RS485);
        modbus_port->set_response_timeout(ctx, 1, 0);
    }
}

void cModbus::close() {
    if (usable()) {
        modbus_port->close(ctx);
    }
}
