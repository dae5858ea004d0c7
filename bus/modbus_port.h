#pragma once

#include <cstdint>

#include <modbus/modbus.h>

// Every libmodbus call of the tool goes through this table, so tests can stand in for the library
// where the real one cannot reach a failure (no context, a refused connect) without hardware.
struct ModbusPort {
    modbus_t* (*new_tcp)(const char* host, int port);
    modbus_t* (*new_rtu)(const char* device, int baud, char parity, int data_bits, int stop_bits);
    int (*set_debug)(modbus_t* ctx, int flag);
    int (*flush)(modbus_t* ctx);
    int (*connect)(modbus_t* ctx);
    int (*rtu_set_serial_mode)(modbus_t* ctx, int mode);
    int (*set_response_timeout)(modbus_t* ctx, uint32_t seconds, uint32_t microseconds);
    void (*close)(modbus_t* ctx);
    int (*set_slave)(modbus_t* ctx, int slave);
    int (*send_raw_request)(modbus_t* ctx, const uint8_t* raw, int length);
    int (*get_socket)(modbus_t* ctx);
    int (*get_response_timeout)(modbus_t* ctx, uint32_t* seconds, uint32_t* microseconds);
    const char* (*strerror)(int error);
};

extern const ModbusPort libmodbus_port;

// The table in use; the real library unless a test swaps it.
extern const ModbusPort* modbus_port;
