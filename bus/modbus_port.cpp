#include "bus/modbus_port.h"

const ModbusPort libmodbus_port = {
    modbus_new_tcp,
    modbus_new_rtu,
    modbus_set_debug,
    modbus_flush,
    modbus_connect,
    modbus_rtu_set_serial_mode,
    modbus_set_response_timeout,
    modbus_close,
    modbus_set_slave,
    modbus_send_raw_request,
    modbus_get_socket,
    modbus_get_response_timeout,
    modbus_strerror,
};

const ModbusPort* modbus_port = &libmodbus_port;
